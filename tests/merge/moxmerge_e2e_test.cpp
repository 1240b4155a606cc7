// The moxmerge program run as a user runs it: usage errors, the help and version texts,
// the missing Mox input, where options may stand, the view point extension test, input
// ordering, an output that names one of the inputs, and what a failed run leaves behind.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

const std::string kUsageTail = " <files_to_merge> <output_file>\n";

// A model with one geometry whose array holds values that tell the inputs apart.
void WriteSmallModel(const std::string& path, const std::string& rootName, float seed) {
  Model model(rootName);
  model.AddGeometry(1, "partA", {FloatArray("stress", Distinct(seed))});
  model.Save(path);
}

class MoxMergeRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSmallModel(dir.File("a.mox"), "model-a", 1.0f);
    WriteSmallModel(dir.File("b.mox"), "model-b", 2.0f);
  }
  std::string LogFile() const { return logs.File("MoxMerge_trace.log"); }

  TempDir dir;
  TempDir logs;
};

TEST_F(MoxMergeRunTest, OneInputIsAUsageError) {
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("out.mox")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Usage: " + TestSupport::BinPath("moxmerge") + kUsageTail);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(FileExists(dir.File("out.mox")));
  EXPECT_FALSE(FileExists(LogFile())) << "no log is set up before the command line is usable";
}

TEST_F(MoxMergeRunTest, OptionsAloneAndNoArgumentsAreUsageErrors) {
  for (const auto& args :
       std::vector<Names>{{"--merge-as-instances", "--arrange-files", "--suffix-file-instance"},
                          {},
                          {"--x", dir.File("out.mox")},
                          {dir.File("a.mox"), "--merge-as-instances", dir.File("out.mox"), "--"}}) {
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(run.err, "Usage: " + TestSupport::BinPath("moxmerge") + kUsageTail);
  }
  EXPECT_FALSE(FileExists(dir.File("out.mox")));
  EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(MoxMergeRunTest, HelpPrintsUsageOptionsAndExitStatusesOnStandardOutput) {
  auto run = RunMoxMerge(logs, {"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string usage = "Usage: " + TestSupport::BinPath("moxmerge") + kUsageTail;
  EXPECT_EQ(run.out.substr(0, usage.size()), usage);
  for (const char* option : {"--arrange-files", "--merge-as-instances", "--match-part-names",
                             "--suffix-file-instance", "--auto-rename-instances"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  EXPECT_NE(run.out.find("Exit status"), std::string::npos);
  for (const char* status : {"0  ", "1  ", "2  ", "4  "})
    EXPECT_NE(run.out.find(status), std::string::npos) << status;
  EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(MoxMergeRunTest, VersionPrintsTheProgramVersion) {
  auto run = RunMoxMerge(logs, {"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "MoxMerge 2017 R1\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(MoxMergeRunTest, OnlyViewPointFilesMeansNoMoxInput) {
  auto run = RunMoxMerge(logs, {dir.File("p.vpt"), dir.File("q.vpt"), dir.File("out.mox")});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(ErrorsOf(run), "No Mox files found. \n");
  EXPECT_FALSE(FileExists(dir.File("out.mox")));
  EXPECT_TRUE(FileExists(LogFile())) << "the log is set up before the inputs are looked at";
}

TEST_F(MoxMergeRunTest, OptionsMayFollowTheOutputPath) {
  auto run = RunMoxMerge(
      logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox"), "--merge-as-instances"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  // Merged as instances: the base's own root, both arrays side by side in its geometry.
  EXPECT_EQ(GroupAt(*out, 1)->name, "model-a");
  ASSERT_NE(GeometryAt(*out, 2), nullptr);
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)), (Names{"stress" + kSep, "stress" + kSep}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 2)->arrays[1].data), BytesOfValues(Distinct(2.0f)));
}

TEST_F(MoxMergeRunTest, UnknownOptionsAreIgnored) {
  auto run = RunMoxMerge(
      logs, {"--x", dir.File("a.mox"), "--", dir.File("b.mox"), dir.File("out.mox"), "--Help"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(GroupAt(*out, 1)->name, "Merge");
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
}

TEST_F(MoxMergeRunTest, MatchPartNamesAloneLeavesThePlainMerge) {
  auto run = RunMoxMerge(
      logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox"), "--match-part-names"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(GroupAt(*out, 1)->name, "Merge");
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
}

TEST_F(MoxMergeRunTest, UpperCaseViewPointExtensionIsAMoxInput) {
  // A Mox file named like a view point file in capitals is merged as a Mox file.
  std::filesystem::copy_file(dir.File("b.mox"), dir.File("p.VPT"));
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("p.VPT"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));

  // One that is not a Mox file fails when it is loaded.
  TestSupport::WriteFileBytes(dir.File("q.VPT"), Bytes(64, 0x20));
  auto bad = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("q.VPT"), dir.File("bad.mox")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(ErrorsOf(bad).find(dir.File("q.VPT") + " is not a Mox file"), std::string::npos)
      << bad.err;
  EXPECT_FALSE(FileExists(dir.File("bad.mox")));
}

TEST_F(MoxMergeRunTest, ArrangeFilesPutsNumberedInputsInNumericOrder) {
  WriteSmallModel(dir.File("run10.mox"), "run10", 10.0f);
  WriteSmallModel(dir.File("run2.mox"), "run2", 2.0f);
  WriteSmallModel(dir.File("run1.mox"), "run1", 1.0f);
  const Names inputs = {dir.File("run10.mox"), dir.File("run2.mox"), dir.File("run1.mox")};

  Names arranged = inputs;
  arranged.insert(arranged.begin(), "--arrange-files");
  arranged.push_back(dir.File("arranged.mox"));
  auto run = RunMoxMerge(logs, arranged);
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("arranged.mox"));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"run1", "run2", "run10"}));
  // The first merged input is run1: its values lie in the first geometry.
  EXPECT_EQ(BytesOf(GeometryAt(*out, 3)->arrays[0].data), BytesOfValues(Distinct(1.0f)));

  Names asGiven = inputs;
  asGiven.push_back(dir.File("given.mox"));
  ASSERT_EQ(RunMoxMerge(logs, asGiven).status, 0);
  EXPECT_EQ(ChildNames(*LoadMox(dir.File("given.mox")), 1), (Names{"run10", "run2", "run1"}));
}

TEST_F(MoxMergeRunTest, OutputMayReplaceOneOfTheInputs) {
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("a.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("a.mox"));
  EXPECT_EQ(GroupAt(*out, 1)->name, "Merge");
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 3)->arrays[0].data), BytesOfValues(Distinct(1.0f)));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 5)->arrays[0].data), BytesOfValues(Distinct(2.0f)));
  // Nothing but the inputs is left in the directory.
  EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"a.mox", "b.mox"}));
}

TEST_F(MoxMergeRunTest, FailedRunsLeaveNoOutputAndNoTemporaryFile) {
  std::filesystem::create_directory(dir.File("out"));
  const std::string output = dir.File("out/out.mox");
  TestSupport::WriteFileBytes(dir.File("junk.mox"), Bytes(200, 0x41));
  const std::vector<Names> failing = {
      {dir.File("a.mox"), dir.File("missing.mox"), output},
      {dir.File("missing.mox"), dir.File("a.mox"), output},
      {dir.File("a.mox"), dir.File("junk.mox"), output},
      {dir.File("a.mox"), dir.File("junk.mox"), output, "--merge-as-instances"},
      {dir.File("a.mox"), dir.File("b.mox"), dir.File("out/no/such/dir/out.mox")},
  };
  for (const auto& args : failing) {
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_EQ(DirectoryEntries(dir.File("out")), Names{}) << ::testing::PrintToString(args);
  }
}

TEST_F(MoxMergeRunTest, ASaveThatCannotBeCompletedLeavesNoTemporaryFile) {
  // The output path is taken by a directory: the merge is written out in full, and only
  // putting it in place fails.
  std::filesystem::create_directories(dir.File("out/taken/inside"));
  for (const Names& options : std::vector<Names>{{}, {"--merge-as-instances"}}) {
    Names args = {dir.File("a.mox"), dir.File("b.mox"), dir.File("out/taken")};
    args.insert(args.end(), options.begin(), options.end());
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(options);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_EQ(DirectoryEntries(dir.File("out")), Names{"taken"});
    EXPECT_EQ(DirectoryEntries(dir.File("out/taken")), Names{"inside"});
  }
}

// Outputs that are no regular files: a FIFO is refused before any input is read (the
// missing inputs are never reached); a device is written as it stands, unless the merged
// output must be read back to add view points.
TEST_F(MoxMergeRunTest, OutputsThatAreNoRegularFiles) {
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  const std::string device = root ? dir.File("null") : "/dev/null";
  struct Case {
    Names args;
    int status;
    std::string error;  // a part of the error text
  };
  const Case cases[] = {
      {{dir.File("missing1.mox"), dir.File("missing2.mox"), dir.File("fifo")},
       2,
       "\"" + dir.File("fifo") + "\": a FIFO or a socket cannot hold a Mox file"},
      {{dir.File("a.mox"), dir.File("b.mox"), dir.File("missing.vpt"), device},
       2,
       "a device cannot be read back"},
      {{dir.File("a.mox"), dir.File("b.mox"), device}, 0, ""},
      {{dir.File("a.mox"), dir.File("b.mox"), device, "--merge-as-instances"}, 0, ""},
  };
  for (const Case& c : cases) {
    auto run = RunMoxMerge(logs, c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(Count(run.err, "Exception \""), c.status == 0 ? 0u : 1u) << run.err;
    EXPECT_NE(ErrorsOf(run).find(c.error), std::string::npos) << run.err;
  }
  struct stat st;
  ASSERT_EQ(lstat(dir.File("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(lstat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  Names expected = {"a.mox", "b.mox", "fifo"};
  if (root) expected.push_back("null");
  EXPECT_EQ(DirectoryEntries(dir.Path()), expected);
}

}  // namespace
