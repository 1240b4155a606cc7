// moxmerge's exit statuses and error texts, and the plain merge in this process.
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

// Every failed run prints one error text, leaves the output directory as it was (an
// earlier output included) and writes no trace log when the command line is refused.
TEST(MoxMergeRun, ExitStatusesAndErrorTexts) {
  TempDir dir, logs;
  const auto F = [&](const std::string& name) { return dir.File(name); };
  const std::string a = F("a.mox"), b = F("b.mox"), p = F("p.vpt"), O = F("out/out.mox");
  for (const auto& [path, name] : {std::pair{a, "model-a"}, {b, "model-b"}, {p, "views"}}) {
    Model model(name);
    model.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1))});
    model.SetViews("p-now", {"P1"}, 300);
    model.Save(path);
  }
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
  const auto blocks = BlocksOf(p);
  const auto& row = *std::find_if(blocks.begin(), blocks.end(),
                                  [](const auto& r) { return r.name == KivMox::kViewPoints; });
  Bytes flipped = views, cut = views, index = views;
  flipped[row.offset + row.storedSize / 2] ^= 0x5A;
  cut.resize(row.offset + row.storedSize / 2);
  SetU32At(index, 16, 0xFFFF);  // more index records than the primary index holds
  // A sound current view point and no group, then actions cut after their size field.
  RawMox actions(F("actions.vpt"), "1.3");
  actions.Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}, u32{40});
  actions.Ix().WriteAllBuffersToFileStream(actions.file_.Stream());
  actions.file_.CloseFile();
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
  struct stat st;
  EXPECT_TRUE(lstat(F("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(lstat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode));
}

TEST(PlainMerge, MergeRootLinksHistoryAndViewPointsOfTheFirstIntoAnOutputThatReplacesIt) {
  TempDir dir;
  Model a("model-a", "Builder", "1.0"), b("model-b", "Other", "3.0");
  a.tree.globalInfo.resize(1);
  a.tree.globalInfo[0].applicationName = "Older";
  a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1))});
  a.SetViews("a-now", {"A1", "A2"}, 100);
  a.Save(dir.File("a.mox"));
  const auto partC =
      b.AddGeometry(1, "partC", {FloatArray("temp", Distinct(4)), FloatArray("flux", Distinct(5))});
  b.AddGeometry(1, "partD", {LinkedArray("fluxC", partC, 1)});
  b.SetViews("b-now", {"B1"}, 200);
  b.Save(dir.File("b.mox"));
  const auto inA = LoadTree(dir.File("a.mox"));
  // The output replaces the first input, whose values are read before it is replaced.
  ASSERT_EQ(
      InProcess([&] {
        return MoxMerge::MergeFiles({dir.File("a.mox"), dir.File("b.mox")}, dir.File("a.mox"));
      }).first,
      0);
  const auto out = LoadTree(dir.File("a.mox"));
  const auto* root = KivMox::NodeAs<KivMox::Group>(out->GetNode(1));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name + std::to_string(root->mergeRoot), "Merge1");
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(Arrays(*out), "3: stress@1\n5: temp@4 flux@5\n6: fluxC->5:1\n");
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

}  // namespace
