// Merges of more inputs than the process may open files: under a limit of 24 open files
// (soft and hard) the inputs are closed and opened again as the writer needs them, and the
// output is the one written without the limit. An input that changed between its load and
// its use fails the merge, and nothing is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "kiv/mox/progress.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/merge_fixtures.hpp"
#include "merge/merge_operations.hpp"
#include "support/model_builder.hpp"

namespace {

using namespace AppTest;
// in<k>.mox: group "model" holding geometry "partA" (cells, field) and "partB" (temp).
std::string WriteInput(const TempDir& dir, int k) {
  Model model("model", "Builder", std::to_string(k));
  model.AddGeometry(1, "partA",
                    {IntArray("cells", {k, 1, 2}), FloatArray("field", Distinct(float(k)))});
  model.AddGeometry(1, "partB", {FloatArray("temp", Distinct(float(k) + 0.5f))});
  const std::string path = dir.File("in" + std::to_string(k) + ".mox");
  model.Save(path);
  return path;
}

TEST(OpenFileLimit, FortyInputsMergeAsWithoutTheLimit) {
  TempDir dir;
  TempDir logs;
  // Blocks that grow by 64 KiB instead of 10 MiB keep the saves and loads quick.
  struct SmallBlocks {
    SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(65536); }
    ~SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(before); }
    std::uint32_t before = KivRkf::Block::DefaultBlockSize();
  } smallBlocks;
  Names inputs;
  for (int k = 1; k <= 40; ++k) inputs.push_back(WriteInput(dir, k));
  for (const Names& options : {Names{}, Names{"--merge-as-instances", "--suffix-file-instance"}}) {
    std::string described[2];
    for (bool limited : {false, true}) {
      const std::string output = dir.File(limited ? "limited.mox" : "free.mox");
      Names args = options;
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.push_back(output);
      Launch launch{"moxmerge",
                    args,
                    {"TESSARA_TEMP_PATH=" + logs.Path(), "KORVANE_DEFAULT_MOX_BLOCK_SIZE=65536"}};
      if (limited) launch.limits.push_back({RLIMIT_NOFILE, 24});
      const auto run = Execute(launch);
      ASSERT_EQ(run.status, 0) << ErrorsOf(run);
      described[limited] = DescribeTree(*LoadTree(output), false);
    }
    EXPECT_EQ(Count(described[0], "  array '"), 120u);
    EXPECT_TRUE(described[0] == described[1]) << "the outputs differ";
  }
}

// Replaces the first input by a copy of its bytes (another file to the reader) as the
// last input is read: the first was loaded and, with room for one open input, closed.
class ReplaceFirstOnLastRead : public KivMox::ProgressListener {
 public:
  ReplaceFirstOnLastRead(std::string first, std::string last)
      : first_(std::move(first)), last_(std::move(last)) {}
  void Reading(const std::string& path) override {
    if (path != last_) return;
    TestSupport::WriteFileBytes(first_ + ".new", TestSupport::ReadFileBytes(first_));
    replaced = std::rename((first_ + ".new").c_str(), first_.c_str()) == 0;
  }
  void Writing(std::uint64_t, std::uint64_t) override {}
  void Finished() override {}
  bool replaced = false;

 private:
  std::string first_, last_;
};

TEST(OpenFileLimit, AnInputReplacedBetweenItsLoadAndItsUseFailsTheMerge) {
  TempDir dir;
  const Names inputs = {WriteInput(dir, 1), WriteInput(dir, 2), WriteInput(dir, 3)};
  struct Scope {
    Scope() : capacity(KivRkf::OpenFilePool::Instance().SetCapacity(1)), err(std::cerr.rdbuf()) {}
    ~Scope() {
      KivRkf::OpenFilePool::Instance().SetCapacity(capacity);
      KivMox::SetProgressListener(nullptr);
      std::cerr.rdbuf(err);
    }
    std::size_t capacity;
    std::streambuf* err;
  } scope;
  for (bool instances : {false, true}) {
    ReplaceFirstOnLastRead listener(inputs[0], inputs[2]);
    KivMox::SetProgressListener(&listener);
    std::ostringstream err;
    std::cerr.rdbuf(err.rdbuf());
    const std::string output = dir.File("out.mox");
    const int status = instances ? MoxMerge::MergeAsInstances(inputs, output, true, false, false)
                                 : MoxMerge::MergeFiles(inputs, output);
    std::cerr.rdbuf(scope.err);
    KivMox::SetProgressListener(nullptr);
    EXPECT_TRUE(listener.replaced);
    EXPECT_EQ(status, 2) << instances;
    EXPECT_NE(err.str().find("Exception \"Read Error\" raised."), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("\"" + inputs[0] + "\""), std::string::npos) << err.str();
    EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"in1.mox", "in2.mox", "in3.mox"}));
  }
}

}  // namespace
