// moxmerge when the system works against it: a write that stops part way (the file size
// limit, with SIGXFSZ ignored, so that write() fails with EFBIG as on a full disk), on
// the main or the background thread; a trace log that cannot be written; SIGINT, SIGTERM
// and SIGHUP while it writes; more inputs than it may open files; an input replaced
// between its load and its use.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "kiv/mox/progress.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/merge_fixtures.hpp"
#include "merge/merge_operations.hpp"

namespace {

using namespace AppTest;

class SystemFaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new TempDir;
    // Two models with enough array data for an output of several hundred KiB.
    for (const char* seed : {"1", "2"}) {
      auto run = Execute(
          {"moxsample", {Input(seed), "--parts", "2", "--heavy-mib", "0.4", "--seed", seed}});
      ASSERT_EQ(run.status, 0) << run.err;
    }
  }
  static void TearDownTestSuite() { delete inputs_; }
  static std::string Input(const std::string& seed) { return inputs_->File(seed + ".mox"); }

  // A merge of both inputs with a trace log in logs, a file size limit (when not 0) and a
  // deadline.
  Outcome Merge(rlim_t limit = 0, Names env = {}, Names args = {}) {
    if (args.empty()) args = {Input("1"), Input("2"), Output()};
    env.push_back("TESSARA_TEMP_PATH=" + logs.Path());
    Launch launch{"moxmerge", args, env};
    if (limit) launch.limits.push_back({RLIMIT_FSIZE, limit});
    return Process(launch).Wait(std::chrono::seconds(120));
  }
  std::string Output() const { return out.File("merged.mox"); }

  TempDir out, logs;
  static TempDir* inputs_;
};

TempDir* SystemFaultTest::inputs_ = nullptr;

TEST_F(SystemFaultTest, AWriteThatFailsPartWayLeavesNoFileAndKeepsTheOldOne) {
  for (const Names& env : {Names{}, Names{"KORVANE_MAX_MOX_BLOCK_SIZE=65536"}}) {
    // With heavy data blocks of 64 KiB, full blocks are compressed and written on the
    // second thread while the merge goes on, so the failing write happens there.
    const bool background = !env.empty();
    auto full = Merge(0, env);
    ASSERT_EQ(full.status, 0) << full.err;
    const auto size = static_cast<rlim_t>(ReadFileBytes(Output()).size());
    ASSERT_GT(size, 300000u);
    std::filesystem::remove(Output());
    // The write fails in the first blocks, half way and in the last block (the history,
    // ~170 bytes whose compressed size varies with the save time: its final 32 bytes);
    // once with no file at the output path, once with an earlier file standing there.
    const Bytes previous = {'k', 'e', 'e', 'p', '\n'};
    for (rlim_t limit : background ? std::vector<rlim_t>{70000, size / 2}
                                   : std::vector<rlim_t>{4096, size / 2, size - 32}) {
      for (bool existing : {false, true}) {
        if (existing) WriteFileBytes(Output(), previous);
        auto run = Merge(limit, env);
        SCOPED_TRACE("limit " + std::to_string(limit) + (existing ? ", existing\n" : "\n") +
                     run.err);
        EXPECT_EQ(std::tuple(run.hung, run.signal, run.status), std::tuple(false, 0, 2));
        EXPECT_TRUE(Has(run.err, "Exception \"") && Has(run.err, "Description : "));
        EXPECT_TRUE(!background || Has(run.err, "Unable to write to file"));
        EXPECT_EQ(DirectoryEntries(out.Path()), existing ? Names{"merged.mox"} : Names{});
        EXPECT_EQ(ReadFileBytes(Output()), existing ? previous : Bytes{});
        std::filesystem::remove(Output());
      }
    }
  }
  // An input that is also the output stays whole; the merge would be larger than it.
  const std::string input = out.File("a.mox");
  std::filesystem::copy_file(Input("1"), input);
  const Bytes before = ReadFileBytes(input);
  auto run = Merge(static_cast<rlim_t>(before.size()), {}, {input, Input("2"), input});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(Has(run.err, "Description : ")) << run.err;
  EXPECT_EQ(ReadFileBytes(input), before);
  EXPECT_EQ(DirectoryEntries(out.Path()), Names{"a.mox"});
}

TEST_F(SystemFaultTest, ATraceLogThatCannotBeWrittenDoesNotStopTheMerge) {
  // The trace file's path is taken by a directory: the file cannot be created, and the
  // records written to it go nowhere.
  std::filesystem::create_directory(logs.File("MoxMerge_trace.log"));
  auto run = Merge();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ChildNames(*LoadTree(Output()), 1), (Names{"Sample Model", "Sample Model"}));
}

// SIGINT, SIGTERM and SIGHUP, sent once the hidden temporary file exists, remove it and
// end the process by the signal, leaving the old output as it was; a merge started with
// SIGHUP ignored lives through one.
TEST(Interrupt, ASignalRemovesTheTemporaryFileAndEndsTheMergeUnlessIgnored) {
  TempDir dir, logs;
  // Values that barely compress, so that writing the merge takes a while.
  std::vector<float> values(6u << 20);
  std::uint32_t x = 12345;
  for (float& v : values) v = static_cast<float>((x = x * 1664525u + 1013904223u) >> 8);
  Model model("big");
  model.AddGeometry(1, "part", {FloatArray("noise", values)});
  model.Save(dir.File("big.mox"));
  const std::string input = dir.File("big.mox"), output = dir.File("out/out.mox");
  std::filesystem::create_directory(dir.File("out"));
  const Bytes old = {'o', 'l', 'd'};
  for (const auto& [sig, ignored] :
       {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}}) {
    WriteFileBytes(output, old);
    Launch launch{"moxmerge", {input, input, output}, {"TESSARA_TEMP_PATH=" + logs.Path()}};
    launch.ignoreHangup = ignored;
    Process merge(launch);
    bool started = false;
    for (int i = 0; i < 60000 && !started && !merge.Ended(); ++i) {
      started = DirectoryEntries(dir.File("out")).size() > 1;
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(started) << "the merge ended before it could be interrupted";
    if (started) kill(merge.Pid(), sig);
    const Outcome run = merge.Wait();
    SCOPED_TRACE(std::to_string(sig) + (ignored ? " ignored" : ""));
    EXPECT_EQ(DirectoryEntries(dir.File("out")), Names{"out.mox"});
    EXPECT_EQ(std::pair(run.signal, run.status), ignored ? std::pair(0, 0) : std::pair(sig, -1));
    if (ignored) {
      EXPECT_EQ(ChildNames(*LoadTree(output), 1), (Names{"big", "big"}));
    } else {
      EXPECT_EQ(ReadFileBytes(output), old);
    }
  }
}

// in<k>.mox: group "model" holding geometry "partA" (cells, field) and "partB" (temp).
Names WriteInputs(const TempDir& dir, int count) {
  Names paths;
  for (int k = 1; k <= count; ++k) {
    Model model("model", "Builder", std::to_string(k));
    model.AddGeometry(1, "partA", {IntArray("cells", {k, 1, 2}), FloatArray("field", Distinct(k))});
    model.AddGeometry(1, "partB", {FloatArray("temp", Distinct(k + 0.5f))});
    model.Save(paths.emplace_back(dir.File("in" + std::to_string(k) + ".mox")));
  }
  return paths;
}

// Under a limit of 24 open files (soft and hard; 8 left for inputs) the inputs are
// closed and opened again as the writer needs them, and the output is the one written
// without the limit.
TEST(OpenFileLimit, FortyInputsMergeAsWithoutTheLimit) {
  TempDir dir, logs;
  const Names inputs = WriteInputs(dir, 40);
  for (const Names& options : {Names{}, Names{"--merge-as-instances", "--suffix-file-instance"}}) {
    std::string described[2];
    for (bool limited : {false, true}) {
      const std::string output = dir.File(limited ? "limited.mox" : "free.mox");
      Names args = options;
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.push_back(output);
      Launch launch{"moxmerge", args, {"TESSARA_TEMP_PATH=" + logs.Path()}};
      if (limited) launch.limits.push_back({RLIMIT_NOFILE, 24});
      const auto run = Execute(launch);
      ASSERT_EQ(run.status, 0) << run.err;
      described[limited] = DescribeTree(*LoadTree(output), false);
    }
    EXPECT_EQ(Count(described[0], "  array '"), 120u);
    EXPECT_TRUE(described[0] == described[1]) << "the outputs differ";
  }
}

// Replaces the first input by a copy of its bytes (another file to the reader) as the
// last input is read: the first was loaded and, with room for one open input, closed.
// The merge fails, and nothing is written.
TEST(OpenFileLimit, AnInputReplacedBetweenItsLoadAndItsUseFailsTheMerge) {
  struct Replace : KivMox::ProgressListener {
    void Reading(const std::string& path) override {
      if (path != last) return;
      WriteFileBytes(first + ".new", ReadFileBytes(first));
      replaced = std::rename((first + ".new").c_str(), first.c_str()) == 0;
    }
    void Writing(std::uint64_t, std::uint64_t) override {}
    void Finished() override {}
    std::string first, last;
    bool replaced = false;
  };
  TempDir dir;
  const Names inputs = WriteInputs(dir, 3);
  const std::size_t capacity = KivRkf::OpenFilePool::Instance().SetCapacity(1);
  for (bool instances : {false, true}) {
    Replace listener;
    listener.first = inputs[0], listener.last = inputs[2];
    KivMox::SetProgressListener(&listener);
    const std::string output = dir.File("out.mox");
    const auto [status, err] = InProcess([&] {
      return instances ? MoxMerge::MergeAsInstances(inputs, output, true, false, false)
                       : MoxMerge::MergeFiles(inputs, output);
    });
    KivMox::SetProgressListener(nullptr);
    EXPECT_TRUE(listener.replaced);
    EXPECT_EQ(status, 2) << instances;
    EXPECT_TRUE(Has(err, "Exception \"Read Error\" raised.")) << err;
    EXPECT_TRUE(Has(err, "\"" + inputs[0] + "\"")) << err;
    EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"in1.mox", "in2.mox", "in3.mox"}));
  }
  KivRkf::OpenFilePool::Instance().SetCapacity(capacity);
}

}  // namespace
