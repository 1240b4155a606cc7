// The merge as instances adopts heavy blocks as the plain merge does: the tagging renames
// arrays in light data only, so a block goes to the output as it is stored wherever every
// run the output takes from it is taken once and unchanged and the bytes left untaken stay
// within the bound. The output is the same model as with every block written anew.
#include <gtest/gtest.h>

#include "merge/command_line.hpp"
#include "merge/merge_operations.hpp"
#include "support/container_helpers.hpp"
#include "support/log_capture.hpp"
#include "support/merge_fixtures.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace AppTest;

// Saved in heavy blocks of at least 4096 bytes ('|' the tag separator; sizes in bytes):
//   0: s|t 4000, u 1200000           (u untagged; l|t links to it)
//   1: v 2000, y 2400                (v untagged; m|t and n|t link to it)
//   2: x|q 4000, w 1204000           (w untagged, nothing links to it)
// Merged with --auto-rename-instances, a later input gives only its tagged arrays: l|t
// drops its link and takes u's run, m|t and n|t both take v's (a run taken twice), and w's
// run is left, more than 1 MiB.
void WriteInput(const std::string& path, int k) {
  const float seed = 100.0f * float(k);
  Model model("model");
  model.AddGeometry(
      1, "partA",
      {FloatArray(std::string("s") + kSep + "t", Distinct(seed + 1, 1000)),
       FloatArray("u", Distinct(seed + 2, 300000)), FloatArray("v", Distinct(seed + 3, 500)),
       FloatArray("y", Distinct(seed + 4, 600))});
  model.AddGeometry(1, "partB",
                    {FloatArray(std::string("x") + kSep + "q", Distinct(seed + 5, 1000)),
                     FloatArray("w", Distinct(seed + 6, 301000)),
                     LinkedArray(std::string("l") + kSep + "t", 2, 1),
                     LinkedArray(std::string("m") + kSep + "t", 2, 2),
                     LinkedArray(std::string("n") + kSep + "t", 2, 2)});
  EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "4096");
  model.Save(path);
}

// The instance merge in this process with the options of a command line: its status and,
// on success, the start of its save's record "Heavy data blocks adopted: ...", else its
// error text.
std::pair<int, std::string> Merge(const Names& options, const Names& inputs,
                                  const std::string& output) {
  Names args = {"moxmerge", "--merge-as-instances"};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), inputs.begin(), inputs.end());
  args.push_back(output);
  const MoxMerge::CommandLine l = MoxMerge::ParseCommandLine(args);
  LogCapture log;
  const auto [status, err] = InProcess([&] {
    return MoxMerge::MergeAsInstances(l.inputs, l.outputPath, l.suffix, l.autoRename,
                                      l.matchPartNames, !l.rewriteBlocks);
  });
  std::string record;
  for (const auto& [line, exceptions] : log.Captured())
    if (const auto at = line.find(" @ Heavy data blocks adopted: "); at != std::string::npos)
      record = line.substr(at + 3, line.find(',', at) - at - 3);
  return {status, status == 0 ? record : err};
}
std::string ModelText(const std::string& path) {
  return FuzzDescription::DescribeTree(*LoadTree(path));
}

class InstanceAdoptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 1; k <= 3; ++k) WriteInput(inputs[std::size_t(k - 1)], k);
  }
  TempDir dir;
  const Names inputs = {dir.File("in1.mox"), dir.File("in2.mox"), dir.File("in3.mox")};
};

TEST_F(InstanceAdoptionTest, EveryFlagModeAdoptsAndGivesTheModelOfRewrittenBlocks) {
  // An input's blocks hold 1204000, 4400 and 1208000 raw bytes: 2416400 together.
  struct Row {
    Names options;
    const char* adopted;  // the start of the save's record
  } rows[] = {
      {{}, "Heavy data blocks adopted: 9 (7249200 bytes"},
      {{"--suffix-file-instance"}, "Heavy data blocks adopted: 9 (7249200 bytes"},
      // The base's three blocks, and block 0 of each later input.
      {{"--auto-rename-instances"}, "Heavy data blocks adopted: 5 (4824400 bytes"},
      {{"--auto-rename-instances", "--match-part-names"},
       "Heavy data blocks adopted: 5 (4824400 bytes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.adopted);
    const auto [status, adopted] = Merge(row.options, inputs, dir.File("out.mox"));
    ASSERT_EQ(status, 0) << adopted;
    EXPECT_EQ(adopted, row.adopted);
    Names rewrite = row.options;
    rewrite.push_back("--rewrite-blocks");
    EXPECT_EQ(Merge(rewrite, inputs, dir.File("ref.mox")).second,
              "Heavy data blocks adopted: 0 (0 bytes");
    EXPECT_EQ(ModelText(dir.File("out.mox")), ModelText(dir.File("ref.mox")));
  }
  // moxmerge passes --rewrite-blocks on; moxdiff reads both outputs as one model.
  Names adopted;
  for (const auto& [option, name] : {std::pair{"--auto-rename-instances", "adopted.mox"},
                                     std::pair{"--rewrite-blocks", "rewritten.mox"}}) {
    TempDir logs;
    const auto run = RunMoxMerge(logs, {"--merge-as-instances", "--auto-rename-instances", option,
                                        inputs[0], inputs[1], inputs[2], dir.File(name)});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes log = ReadFileBytes(logs.File("MoxMerge_trace.log"));
    const std::string text(log.begin(), log.end());
    adopted.push_back(text.substr(text.find("adopted: "), 10));
  }
  EXPECT_EQ(adopted, Names({"adopted: 5", "adopted: 0"}));
  const auto diff = Execute(
      {"moxdiff", {dir.File("adopted.mox"), dir.File("rewritten.mox"), "--ignore", "history"}});
  EXPECT_EQ(diff.status, 0) << diff.out;
}

TEST_F(InstanceAdoptionTest, DamagedAdoptedBlockFailsTheMergeAndLeavesNoFile) {
  // Block 0 of the second input, adopted in every mode.
  const auto table = BlocksOf(inputs[1]);
  const auto& first = *std::find_if(table.begin(), table.end(),
                                    [](const auto& r) { return r.name == KivMox::kHeavyData; });
  Bytes bytes = ReadFileBytes(inputs[1]);
  bytes[first.offset + first.storedSize / 2] ^= 0x08;
  WriteFileBytes(inputs[1], bytes);
  TempDir out;
  for (const char* option : {"--suffix-file-instance", "--auto-rename-instances"}) {
    SCOPED_TRACE(option);
    const auto [status, err] = Merge({option}, {inputs[0], inputs[1]}, out.File("m.mox"));
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(Has(err, "Exception \"")) << err;
    EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
  }
}

}  // namespace
