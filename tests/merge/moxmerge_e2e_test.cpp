// The moxmerge program run as a user runs it: its exit statuses and fixed texts, where
// options may stand, input ordering, an output that names one of its inputs, what failed
// runs leave behind, and outputs that are no regular files.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <tuple>

#include "merge/command_line.hpp"
#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;

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

TEST_F(MoxMergeRunTest, ExitStatusesAndTheirTexts) {
  const std::string usage = MoxMerge::UsageLine(TestSupport::BinPath("moxmerge")) + "\n";
  struct Case {
    Names args;
    int status;
    std::string out, err;  // the whole of both
    bool logged;           // whether the trace log was set up
  };
  const Case cases[] = {
      {{dir.File("a.mox"), dir.File("out.mox")}, 1, "", usage, false},
      {{"--merge-as-instances", "--arrange-files", "--suffix-file-instance"}, 1, "", usage, false},
      {{}, 1, "", usage, false},
      {{"--x", dir.File("out.mox")}, 1, "", usage, false},
      {{dir.File("a.mox"), "--merge-as-instances", dir.File("out.mox"), "--"}, 1, "", usage, false},
      {{"--help"}, 0, MoxMerge::HelpText(TestSupport::BinPath("moxmerge")), "", false},
      {{"--version"}, 0, "MoxMerge 2017 R1\n", "", false},
      {{dir.File("p.vpt"), dir.File("q.vpt"), dir.File("out.mox")},
       4,
       "",
       "Writing log to \"" + LogFile() + "\"\nNo Mox files found. \n",
       true},
  };
  for (const Case& c : cases) {
    auto run = RunMoxMerge(logs, c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(FileExists(LogFile()), c.logged);
    EXPECT_FALSE(FileExists(dir.File("out.mox")));
  }
}

TEST_F(MoxMergeRunTest, OptionsOrderAndOutputsThatReplaceAnInput) {
  WriteSmallModel(dir.File("run10.mox"), "run10", 10.0f);
  WriteSmallModel(dir.File("run2.mox"), "run2", 2.0f);
  WriteSmallModel(dir.File("run1.mox"), "run1", 1.0f);
  std::filesystem::copy_file(dir.File("b.mox"), dir.File("p.VPT"));
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox"), out = dir.File("out.mox");
  const Names runs = {dir.File("run10.mox"), dir.File("run2.mox"), dir.File("run1.mox"), out};
  Names arranged = runs;
  arranged.insert(arranged.begin(), "--arrange-files");
  const std::pair<Names, Names> cases[] = {
      {{"--x", a, "--", b, out, "--Help"}, {"model-a", "model-b"}},
      {{a, b, out, "--match-part-names"}, {"model-a", "model-b"}},
      {{a, dir.File("p.VPT"), out}, {"model-a", "model-b"}},  // a Mox input in capitals
      {arranged, {"run1", "run2", "run10"}},
      {runs, {"run10", "run2", "run1"}},
  };
  for (const auto& [args, children] : cases) {
    auto run = RunMoxMerge(logs, args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    auto merged = LoadMox(out);
    EXPECT_EQ(GroupAt(*merged, 1)->name, "Merge");
    EXPECT_EQ(ChildNames(*merged, 1), children) << ::testing::PrintToString(args);
    EXPECT_EQ(BytesOf(GeometryAt(*merged, 3)->arrays.at(0).data),
              BytesOfValues(Distinct(children[0] == "run10" ? 10.0f : 1.0f)));
  }
  // Options after the output path count: merged as instances into the base's own root.
  ASSERT_EQ(RunMoxMerge(logs, {a, b, out, "--merge-as-instances"}).status, 0);
  auto instances = LoadMox(out);
  EXPECT_EQ(GroupAt(*instances, 1)->name, "model-a");
  EXPECT_EQ(ArrayNames(GeometryAt(*instances, 2)), (Names{"stress" + kSep, "stress" + kSep}));
  EXPECT_EQ(BytesOf(GeometryAt(*instances, 2)->arrays[1].data), DistinctBytes(2.0f));

  // The output may replace one of the inputs, whose values are read before it is replaced.
  ASSERT_EQ(RunMoxMerge(logs, {a, b, a}).status, 0);
  auto merged = LoadMox(a);
  EXPECT_EQ(ChildNames(*merged, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(BytesOf(GeometryAt(*merged, 3)->arrays[0].data), DistinctBytes(1.0f));
  EXPECT_EQ(BytesOf(GeometryAt(*merged, 5)->arrays[0].data), DistinctBytes(2.0f));
  std::filesystem::remove(out);
  EXPECT_EQ(DirectoryEntries(dir.Path()),
            (Names{"a.mox", "b.mox", "p.VPT", "run1.mox", "run10.mox", "run2.mox"}));
}

// Every failed run prints one error text and leaves nothing in the output directory;
// a save that cannot be completed (the output path is a directory) leaves it as it was.
TEST_F(MoxMergeRunTest, FailedRunsLeaveNoOutputAndNoTemporaryFile) {
  std::filesystem::create_directories(dir.File("out/taken/inside"));
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox"), out = dir.File("out/out.mox");
  TestSupport::WriteFileBytes(dir.File("junk.mox"), Bytes(200, 0x41));
  TestSupport::WriteFileBytes(dir.File("text.mox"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  TestSupport::WriteFileBytes(dir.File("q.VPT"), Bytes(64, 0x20));
  const std::pair<Names, std::string> cases[] = {
      {{a, dir.File("missing.mox"), out}, "Unable to open file \"" + dir.File("missing.mox")},
      {{dir.File("missing.mox"), a, out}, "Unable to open file \"" + dir.File("missing.mox")},
      {{a, dir.File("junk.mox"), out}, dir.File("junk.mox") + " is not a Mox file"},
      {{a, dir.File("junk.mox"), out, "--merge-as-instances"}, dir.File("junk.mox")},
      {{a, dir.File("text.mox"), out}, dir.File("text.mox") + " is not a Mox file"},
      {{a, dir.File("q.VPT"), out}, dir.File("q.VPT") + " is not a Mox file"},
      {{a, b, dir.File("out/no/such/dir/out.mox")}, "Exception \""},
      {{a, b, dir.File("out/taken")}, "Exception \""},
      {{a, b, dir.File("out/taken"), "--merge-as-instances"}, "Exception \""},
  };
  for (const auto& [args, text] : cases) {
    auto run = RunMoxMerge(logs, args);
    SCOPED_TRACE(::testing::PrintToString(args) + "\n" + run.err);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u);
    EXPECT_TRUE(Has(ErrorsOf(run), text));
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
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox");
  const std::tuple<Names, int, std::string> cases[] = {
      {{dir.File("missing1.mox"), dir.File("missing2.mox"), dir.File("fifo")},
       2,
       "\"" + dir.File("fifo") + "\": a FIFO or a socket cannot hold a Mox file"},
      {{a, b, dir.File("missing.vpt"), device}, 2, "a device cannot be read back"},
      {{a, b, device}, 0, ""},
      {{a, b, device, "--merge-as-instances"}, 0, ""},
  };
  for (const auto& [args, status, error] : cases) {
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(Count(run.err, "Exception \""), status == 0 ? 0u : 1u) << run.err;
    EXPECT_TRUE(Has(ErrorsOf(run), error)) << run.err;
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
