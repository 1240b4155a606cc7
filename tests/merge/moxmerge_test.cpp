// moxmerge end to end: exit statuses and error texts, the plain merge, and the view point
// import into one Mox input, or into a merged output through its "<output>.temp" copy. The
// rules of single view point files are in tests/kiv/mox.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "merge/command_line.hpp"
#include "merge/merge_operations.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// "<root> [<children>] <groups> / <current view point>", or "... none" without views.
std::string Summary(const KivMox::Tree& tree) {
  std::string s = tree.GetNode(1)->name + " [";
  for (const auto& name : ChildNames(tree, 1)) s += " " + name;
  s += " ]";
  for (const auto& group : tree.views.groups) s += " " + group.name;
  return s + (tree.views.present ? " / " + tree.views.current.name : " none");
}

class MoxMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Mox files a.mox and b.mox and view point files (saved like Mox files) p.vpt, q.vpt;
    // each of an older history record, a geometry and one that links to its array.
    const std::tuple<const char*, const char*, Names, int> files[] = {
        {"a.mox", "a-now", {"A1", "A2"}, 1},
        {"b.mox", "b-now", {"B1"}, 2},
        {"p.vpt", "p-now", {"P1"}, 3},
        {"q.vpt", "q-now", {"Q1", "Q2"}, 4}};
    for (const auto& [name, current, groups, k] : files) {
      Model model(std::string("model-") + name[0]);
      model.tree.globalInfo.emplace_back().applicationName = "Older";
      const auto part =
          model.AddGeometry(1, std::string("part") + name[0], {FloatArray("stress", Distinct(k))});
      model.AddGeometry(1, std::string("link") + name[0], {LinkedArray("copy", part, 0)});
      model.SetViews(current, groups, 100 * k);
      model.Save(F(name));
    }
    std::filesystem::create_directory(F("out"));
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  std::string Out() const { return F("out/out.mox"); }
  // moxmerge on args, which succeeds without a message; the Summary of output.
  std::string Merged(const Names& args, const std::string& output) {
    const auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
    return Summary(*LoadTree(output));
  }
  // moxmerge on args (under a file size limit, if given), which fails with status 2 and every
  // one of parts in its message.
  void Refused(const Names& args, const Names& parts, rlim_t fileSize = 0) {
    Launch launch{"moxmerge", args, {"TESSARA_TEMP_PATH=" + logs.Path()}};
    if (fileSize) launch.limits.push_back({RLIMIT_FSIZE, fileSize});
    const auto run = Execute(launch);
    EXPECT_EQ(run.status, 2);
    for (const auto& part : parts) EXPECT_TRUE(Has(run.err, part)) << run.err;
  }
  TempDir dir, logs;
  const std::string merged = "Merge [ model-a model-b ]", withP = " A1 A2 P1 / p-now";
};

// Every failed run prints one error text, leaves the output directory as it was (an
// earlier output included) and writes no trace log when the command line is refused.
TEST_F(MoxMergeTest, ExitStatusesAndErrorTexts) {
  const std::string a = F("a.mox"), b = F("b.mox"), p = F("p.vpt"), O = Out();
  std::filesystem::create_directories(F("out/taken/inside"));
  std::filesystem::create_directory(F("folder.mox"));
  std::filesystem::copy_file(b, O);
  const Bytes earlier = ReadFileBytes(O);
  WriteFileBytes(F("junk.mox"), Bytes(200, 0x41));
  for (const char* fifo : {"fifo.mox", "fifo.vpt", "fifo"})
    ASSERT_EQ(mkfifo(F(fifo).c_str(), 0600), 0);
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || mknod(F("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0);
  const std::string device = root ? F("null") : "/dev/null";
  // View point files that cannot be read: damaged copies of p.vpt, files of other kinds.
  const Bytes views = ReadFileBytes(p);
  const auto row = BlockNamed(p, KivMox::kViewPoints);
  Bytes flipped = views, cut = views, index = views;
  flipped[row.offset + row.storedSize / 2] ^= 0x5A;
  cut.resize(row.offset + row.storedSize / 2);
  SetU32At(index, 16, 0xFFFF);  // more index records than the primary index holds
  // A sound current view point and no group, then actions cut after their size field.
  RawMox(F("actions.vpt"), "1.3")
      .Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}, u32{40});
  std::filesystem::create_directory(F("dir.vpt"));
  const std::tuple<const char*, std::optional<Bytes>, std::string> unreadable[] = {
      {"missing.vpt", {}, "\""},  // Unable to open file "<path>"
      {"empty.vpt", Bytes{}, " is not a Mox file"},
      {"text.vpt", Bytes{'v', 'i', 'e', 'w', '\n'}, " is not a Mox file"},
      {"dir.vpt", {}, "\""},
      {"table.vpt", index, "\" is a damaged view point file: its block table cannot be read: "},
      {"flipped.vpt", flipped,
       "\" is a damaged view point file: section \"View Points\": view points: "},
      {"cut.vpt", cut,
       "\" is a damaged view point file: its block table cannot be read: \"" + F("cut.vpt") +
           "\" is cut short: its block table ends at byte " + std::to_string(views.size()) +
           ", the file has " + std::to_string(cut.size()) + " bytes"},
      {"actions.vpt", {}, "\" is a damaged view point file: section \"View Points\": actions: "},
  };
  const std::string usage = MoxMerge::UsageLine(BinPath("moxmerge")) + "\n",
                    m = "--merge-as-instances", opening = "Unable to open file \"";
  struct Case {
    Names args;
    int status;
    std::string err;  // all of it (less the log line) when it ends a line, else a part
    std::string out = "";
    Names env = {};
  };
  std::vector<Case> cases = {
      {{a, O}, 1, usage},
      {{"--help"}, 0, "", MoxMerge::HelpText(BinPath("moxmerge"))},
      {{"--version"}, 0, "", "MoxMerge 2017 R1\n"},
      {{p, F("q.vpt"), O}, 4, "No Mox files found. \n"},
      {{a, F("junk.mox"), O}, 2, F("junk.mox") + " is not a Mox file"},
      {{a, F("junk.mox"), O, m}, 2, F("junk.mox")},
      {{a, b, F("out/no/such/dir/out.mox")}, 2, "Exception \""},
      {{a, b, F("out/taken")}, 2, "Exception \""},
      // A failed merge leaves no new output to add view points to.
      {{a, F("missing.mox"), p, O}, 2, opening},
      {{a, F("fifo.vpt"), O}, 2, "Exception \""},
      // A FIFO is refused before any input is read; a device is written as it stands,
      // unless the merged output must be read back to add view points.
      {{F("missing1.mox"), F("missing2.mox"), F("fifo")},
       2,
       "\"" + F("fifo") + "\": a FIFO or a socket cannot hold a Mox file"},
      {{a, b, F("missing.vpt"), device}, 2, "a device cannot be read back"},
      {{a, b, device}, 0, ""},
      {{a, b, device},
       0,
       "Unable to set log file.Log information will be discorded.\n",
       "",
       {"TESSARA_TEMP_PATH=" + logs.File("no/such/directory")}},
  };
  // Inputs that cannot be read, first and second.
  for (const std::string& bad : {F("missing.mox"), F("folder.mox"), F("fifo.mox")}) {
    cases.push_back({{bad, a, O}, 2, opening + bad + "\""});
    cases.push_back({{a, bad, O}, 2, opening + bad + "\""});
  }
  // A view point file that cannot be read fails the run before the merge, or the import
  // into a single Mox input.
  for (const auto& [file, bytes, expected] : unreadable) {
    if (bytes) WriteFileBytes(F(file), *bytes);
    cases.push_back({{a, p, F(file), O}, 2, F(file) + expected});
    cases.push_back({{a, b, p, F(file), O}, 2, F(file) + expected});
  }
  const Names entries = DirectoryEntries(dir.Path());
  for (const Case& c : cases) {
    const auto run = RunMoxMerge(logs, c.args, c.env);
    SCOPED_TRACE(::testing::PrintToString(c.args) + "\n" + run.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    if (c.err.empty() || c.err.back() == '\n')
      EXPECT_EQ(ErrorsOf(run), c.err);
    else
      EXPECT_TRUE(Has(ErrorsOf(run), c.err));
    EXPECT_EQ(Count(run.err, "Exception \""), c.status == 2 ? 1u : 0u);
    EXPECT_EQ(Has(run.err, "Writing log to \"" + logs.File("MoxMerge_trace.log")),
              c.status != 1 && c.out.empty() && c.env.empty());
    EXPECT_EQ(DirectoryEntries(dir.Path()), entries);
    EXPECT_EQ(DirectoryEntries(F("out")), (Names{"out.mox", "taken"}));
    EXPECT_EQ(DirectoryEntries(F("out/taken")), Names{"inside"});
    EXPECT_EQ(ReadFileBytes(O), earlier);
  }
  EXPECT_TRUE(std::filesystem::is_fifo(F("fifo")));
  EXPECT_TRUE(std::filesystem::is_character_file(device));
}

// The plain merge: a merge root over the inputs' roots, their nodes (links shifted), the
// first input's history and view points; the output may replace the first input, whose
// values are read before it is replaced.
TEST_F(MoxMergeTest, PlainMergeIntoAnOutputThatReplacesTheFirstInput) {
  const auto inA = LoadTree(F("a.mox"));
  ASSERT_EQ(InProcess([&] {
              return MoxMerge::MergeFiles({F("a.mox"), F("b.mox")}, F("a.mox"));
            }).first,
            0);
  const auto out = LoadTree(F("a.mox"));
  EXPECT_EQ(Summary(*out), merged + " A1 A2 / a-now");
  const auto* root = KivMox::NodeAs<KivMox::Group>(out->GetNode(1));
  EXPECT_TRUE(root && root->mergeRoot == 1);
  EXPECT_EQ(Arrays(*out), "3: stress@1\n4: copy->3:0\n6: stress@2\n7: copy->6:0\n");
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(std::vector(out->globalInfo.begin(), out->globalInfo.begin() + 2), inA->globalInfo);
  const auto& r = out->globalInfo[2];
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion + "|" +
                r.computerName + r.userName + r.callerText + out->fileVersion,
            "MoxMerge|2017 R1|1.3|1.3");
  EXPECT_FALSE(r.saveTime.empty());
  EXPECT_EQ(out->views.groups, inA->views.groups);
  EXPECT_EQ(out->views.current, inA->views.current);
}

TEST_F(MoxMergeTest, AfterAMergeThroughATemporaryCopyMadeAnew) {
  // An old copy that is a link to another file: that file must not be written through.
  WriteFileBytes(F("victim"), Bytes{'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(F("victim").c_str(), F("out.mox.temp").c_str()), 0);
  const Names args = {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")};
  EXPECT_EQ(Merged(args, F("out.mox")), merged + withP);
  EXPECT_EQ(ReadFileBytes(F("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  // The copy holds the merge as saved; the output has the merge's and the import's records.
  auto out = LoadTree(F("out.mox"));
  EXPECT_EQ(Summary(*LoadTree(F("out.mox.temp"))), merged + " A1 A2 / a-now");
  EXPECT_EQ(Arrays(*out), "3: stress@1\n4: copy->3:0\n6: stress@2\n7: copy->6:0\n");
  ASSERT_EQ(out->globalInfo.size(), 4u);
  EXPECT_EQ(out->globalInfo[2].applicationName + "|" + out->globalInfo[3].applicationName,
            "MoxMerge|");

  // A merged copy that cannot be written (a directory stands there) stops the run before
  // anything is read; the output stays as the run before left it.
  std::filesystem::remove(F("out.mox.temp"));
  std::filesystem::create_directories(F("out.mox.temp/inside"));
  const Bytes before = ReadFileBytes(F("out.mox"));
  Refused(args, {"Unable to replace \"" + F("out.mox.temp") + "\""});
  EXPECT_TRUE(std::filesystem::is_directory(F("out.mox.temp/inside")));
  EXPECT_EQ(ReadFileBytes(F("out.mox")), before);
}

// With several Mox inputs the merge goes to "<output>.temp" first, and the output is
// replaced only by the save that adds the view points.
TEST_F(MoxMergeTest, TheOutputIsReplacedOnlyOnceTheViewPointsAreIn) {
  // A full disk in the second save: a size limit between the merged copy and the output,
  // which the view points of 300 groups make larger.
  Model many("model-many");
  Names groups;
  for (int g = 0; g < 300; ++g) groups.push_back("G" + std::to_string(g));
  many.SetViews("many-now", groups, 7);
  many.Save(F("many.vpt"));
  const Names args = {F("a.mox"), F("b.mox"), F("many.vpt"), Out()};
  ASSERT_EQ(RunMoxMerge(logs, args).status, 0);
  const auto copy = ReadFileBytes(Out() + ".temp").size(), full = ReadFileBytes(Out()).size();
  ASSERT_GT(full, copy + 2000);
  const Bytes old = {'o', 'l', 'd'};
  WriteFileBytes(Out(), old);
  Refused(args, {"Unable to write to file"}, static_cast<rlim_t>((copy + full) / 2));
  EXPECT_EQ(ReadFileBytes(Out()), old);
  EXPECT_EQ(DirectoryEntries(F("out")), (Names{"out.mox", "out.mox.temp"}));

  // The merged copy is never an input: by its path, or by another name of the same file.
  std::filesystem::copy_file(F("a.mox"), F("out/x.mox.temp"));
  ASSERT_EQ(link(F("out/x.mox.temp").c_str(), F("out/y.mox.temp").c_str()), 0);
  const Bytes input = ReadFileBytes(F("out/x.mox.temp"));
  for (const char* output : {"out/x.mox", "out/y.mox"}) {
    SCOPED_TRACE(output);
    Refused({F("out/x.mox.temp"), F("b.mox"), F("p.vpt"), F(output)},
            {"Unable to write \"" + F(output) + ".temp\"",
             "it is one of the inputs (" + F("out/x.mox.temp") + ")"});
    EXPECT_EQ(ReadFileBytes(F("out/x.mox.temp")), input);
    EXPECT_FALSE(FileExists(F(output)));
  }

  // Into one Mox input or a merge, groups are appended file by file and the last current
  // view point wins; a file without a "View Points" section adds nothing. The output may be
  // a view point file of the run: its view points are read before it is replaced. The import
  // keeps the tree and history and adds a record without a program name.
  Model("model-bare").Save(F("bare.vpt"));
  for (const Names& mox : {Names{F("a.mox")}, Names{F("a.mox"), F("b.mox")}}) {
    std::filesystem::copy_file(F("p.vpt"), F("out/v.vpt"),
                               std::filesystem::copy_options::overwrite_existing);
    Names args = mox;
    args.insert(args.end(), {F("q.vpt"), F("out/v.vpt"), F("bare.vpt"), F("out/v.vpt")});
    EXPECT_EQ(Merged(args, F("out/v.vpt")),
              (mox.size() == 1 ? "model-a [ parta linka ]" : merged) + " A1 A2 Q1 Q2 P1 / p-now");
    const auto out = LoadTree(F("out/v.vpt"));
    if (mox.size() == 1) {
      EXPECT_EQ(Arrays(*out), "2: stress@1\n3: copy->2:0\n");
    }
    const auto& r = out->globalInfo.back();
    EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion + "|" +
                  std::to_string(out->globalInfo.size()),
              "||1.3|" + std::to_string(mox.size() + 2));
  }
}

// The hidden name of a save's temporary file fits the directory's name limit for any
// output name, and so does the merged copy or the run is refused before the merge.
TEST_F(MoxMergeTest, LongOutputNames) {
  for (std::size_t length : {239u, 240u, 250u, 251u, 255u}) {
    SCOPED_TRACE(length);
    const std::string output = F("out/" + std::string(length - 4, 'n') + ".mox");
    EXPECT_EQ(Merged({F("a.mox"), F("b.mox"), output}, output), merged + " A1 A2 / a-now");
    std::filesystem::remove(output);
    const Names args = {F("a.mox"), F("b.mox"), F("p.vpt"), output};
    if (length + 5 <= 255)
      EXPECT_EQ(Merged(args, output), merged + withP);
    else
      Refused(args, {"Unable to write \"" + output + ".temp\"",
                     std::to_string(length + 5) + " bytes are more than the 255"});
    for (const auto& name : DirectoryEntries(F("out"))) std::filesystem::remove(F("out/" + name));
  }
}

}  // namespace
