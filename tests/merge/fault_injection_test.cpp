// moxmerge when the system fails it: a write that stops part way (the file size limit,
// with SIGXFSZ ignored, so that write() fails with EFBIG as on a full disk) and a trace
// log that cannot be written. Each run has a deadline, so a hang fails the test instead of stopping
// it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// The text of a raised error, as the merge prints it.
bool HasErrorText(const std::string& err) {
  return Has(err, "Exception \"") && Has(err, "Description : ");
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new TempDir;
    // Two models with enough array data for an output of several hundred KiB.
    for (const auto& [name, seed] : {std::pair{"a.mox", "1"}, std::pair{"b.mox", "2"}}) {
      auto run =
          Execute({"moxsample",
                   {inputs_->File(name), "--parts", "2", "--heavy-mib", "0.4", "--seed", seed}});
      ASSERT_EQ(run.status, 0) << run.err;
    }
  }
  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
  }
  static std::string Input(const std::string& name) { return inputs_->File(name); }

  // A run with a trace log in logs, a file size limit (when not 0) and a deadline.
  Outcome Merge(const Names& args, rlim_t limit = 0, Names env = {}) {
    env.push_back("TESSARA_TEMP_PATH=" + logs.Path());
    Launch launch{"moxmerge", args, env};
    if (limit) launch.limits.push_back({RLIMIT_FSIZE, limit});
    return Process(launch).Wait(std::chrono::seconds(120));
  }

  TempDir out;
  TempDir logs;
  static TempDir* inputs_;
};

TempDir* FaultInjectionTest::inputs_ = nullptr;

TEST_F(FaultInjectionTest, AWriteThatFailsPartWayLeavesNoFileAndKeepsTheOldOne) {
  const std::string output = out.File("merged.mox");
  auto full = Merge({Input("a.mox"), Input("b.mox"), output});
  ASSERT_EQ(full.status, 0) << full.err;
  const auto size = static_cast<rlim_t>(ReadFileBytes(output).size());
  ASSERT_GT(size, 300000u);
  std::filesystem::remove(output);

  // The write fails in the first blocks, half way and in the last block (the history,
  // ~170 bytes whose compressed size varies with the save time: its final 32 bytes);
  // once with no file at the output path, once with an earlier file standing there.
  const Bytes previous = {'k', 'e', 'e', 'p', '\n'};
  for (rlim_t limit : {rlim_t{4096}, size / 2, size - 32}) {
    for (bool existing : {false, true}) {
      if (existing) TestSupport::WriteFileBytes(output, previous);
      auto run = Merge({Input("a.mox"), Input("b.mox"), output}, limit);
      SCOPED_TRACE("limit " + std::to_string(limit) + (existing ? ", existing\n" : "\n") + run.err);
      EXPECT_FALSE(run.hung);
      EXPECT_EQ(run.signal, 0);
      EXPECT_EQ(run.status, 2);
      EXPECT_TRUE(HasErrorText(run.err));
      if (existing) {
        EXPECT_EQ(ReadFileBytes(output), previous);
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{"merged.mox"});
        std::filesystem::remove(output);
      } else {
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
      }
    }
  }
}

TEST_F(FaultInjectionTest, AWriteThatFailsOnTheBackgroundThreadFailsTheMerge) {
  // Heavy data blocks of 64 KiB: full blocks are compressed and written on the second
  // thread while the merge goes on, so the failing write happens there.
  const Names smallBlocks = {"KORVANE_MAX_MOX_BLOCK_SIZE=65536"};
  const std::string output = out.File("merged.mox");
  auto full = Merge({Input("a.mox"), Input("b.mox"), output}, 0, smallBlocks);
  ASSERT_EQ(full.status, 0) << full.err;
  const auto size = static_cast<rlim_t>(ReadFileBytes(output).size());
  std::filesystem::remove(output);
  for (rlim_t limit : {rlim_t{70000}, size / 2}) {
    auto run = Merge({Input("a.mox"), Input("b.mox"), output}, limit, smallBlocks);
    SCOPED_TRACE("limit " + std::to_string(limit) + "\n" + run.err);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Has(run.err, "Unable to write to file"));
    EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
  }
}

TEST_F(FaultInjectionTest, AnInputThatIsAlsoTheOutputStaysWholeWhenTheWriteFails) {
  const std::string input = out.File("a.mox");
  std::filesystem::copy_file(Input("a.mox"), input);
  const Bytes before = ReadFileBytes(input);
  // The merge itself would be larger than the input.
  auto run = Merge({input, Input("b.mox"), input}, static_cast<rlim_t>(before.size()));
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(HasErrorText(run.err)) << run.err;
  EXPECT_EQ(ReadFileBytes(input), before);
  EXPECT_EQ(DirectoryEntries(out.Path()), Names{"a.mox"});
  EXPECT_EQ(LoadTree(input)->GetNode(1)->name, "Sample Model");
}

TEST_F(FaultInjectionTest, ATraceLogThatCannotBeWrittenDoesNotStopTheMerge) {
  // The trace file's path is taken by a directory: the file cannot be created, and the
  // records written to it go nowhere.
  const std::string output = out.File("merged.mox");
  std::filesystem::create_directory(logs.File("MoxMerge_trace.log"));
  auto run = Merge({Input("a.mox"), Input("b.mox"), output});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ChildNames(*LoadTree(output), 1), (Names{"Sample Model", "Sample Model"}));
}

}  // namespace
