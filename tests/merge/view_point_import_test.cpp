// The view point import into one Mox input, and into a merged output through its
// "<output>.temp" copy. The rules of single view point files are in tests/kiv/mox.
#include <gtest/gtest.h>

#include <unistd.h>

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

class ViewPointImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Mox files a.mox and b.mox and view point files (saved like Mox files) p.vpt, q.vpt.
    const std::tuple<const char*, const char*, Names, int> files[] = {
        {"a.mox", "a-now", {"A1", "A2"}, 1},
        {"b.mox", "b-now", {"B1"}, 2},
        {"p.vpt", "p-now", {"P1"}, 3},
        {"q.vpt", "q-now", {"Q1", "Q2"}, 4}};
    for (const auto& [name, current, groups, k] : files) {
      Model model(std::string("model-") + name[0]);
      model.AddGeometry(1, std::string("part") + name[0], {FloatArray("stress", Distinct(k))});
      model.SetViews(current, groups, 100 * k);
      model.Save(F(name));
    }
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  TempDir dir, logs;
};

TEST_F(ViewPointImportTest, IntoOneMoxFileGroupsAreAppendedAndTheLastCurrentWins) {
  const Bytes before = ReadFileBytes(F("a.mox"));
  ASSERT_EQ(InProcess([&] {
              return MoxMerge::ImportViewPoints(F("a.mox"), {F("q.vpt"), F("p.vpt")}, F("out.mox"));
            }).first,
            0);
  EXPECT_EQ(ReadFileBytes(F("a.mox")), before);
  auto out = LoadTree(F("out.mox")), a = LoadTree(F("a.mox"));
  EXPECT_EQ(Summary(*out), "model-a [ parta ] A1 A2 Q1 Q2 P1 / p-now");
  // The tree and history of the Mox input, and one record of the import.
  EXPECT_EQ(Arrays(*out), "2: stress@1\n");
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo[0], a->globalInfo[0]);
  const auto& r = out->globalInfo[1];
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion, "||1.3");
}

TEST_F(ViewPointImportTest, AfterAMergeThroughATemporaryCopyMadeAnew) {
  // An old copy that is a link to another file: that file must not be written through.
  WriteFileBytes(F("victim"), Bytes{'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(F("victim").c_str(), F("out.mox.temp").c_str()), 0);
  auto run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
  EXPECT_EQ(ReadFileBytes(F("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  // The copy holds the merge as saved; the output has the merge's and the import's records.
  auto merged = LoadTree(F("out.mox.temp")), out = LoadTree(F("out.mox"));
  EXPECT_EQ(Summary(*merged), "Merge [ model-a model-b ] A1 A2 / a-now");
  EXPECT_EQ(Summary(*out), "Merge [ model-a model-b ] A1 A2 P1 / p-now");
  EXPECT_EQ(Arrays(*out), "3: stress@1\n5: stress@2\n");
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[1].applicationName + "|" + out->globalInfo[2].applicationName,
            "MoxMerge|");

  // A merged copy that cannot be written (a directory stands there) stops the run before
  // anything is read; the output stays as the run before left it.
  std::filesystem::remove(F("out.mox.temp"));
  std::filesystem::create_directories(F("out.mox.temp/inside"));
  const Bytes before = ReadFileBytes(F("out.mox"));
  run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Has(run.err, "Unable to replace \"" + F("out.mox.temp") + "\"")) << run.err;
  EXPECT_TRUE(std::filesystem::is_directory(F("out.mox.temp/inside")));
  EXPECT_EQ(ReadFileBytes(F("out.mox")), before);
}

}  // namespace

namespace {

using namespace AppTest;

// A view point file that cannot be read fails the whole run before anything is merged:
// status 2, a message naming the file, the output as it was and no file of ours left. One
// without a "View Points" section adds nothing and fails nothing.
class ViewPointFailure : public ViewPointImportTest {
 protected:
  void SetUp() override {
    ViewPointImportTest::SetUp();
    const Bytes p = ReadFileBytes(F("p.vpt"));
    const auto views = Row(F("p.vpt"), KivMox::kViewPoints);
    Bytes flipped = p, cut = p, table = p;
    flipped[views.offset + views.storedSize / 2] ^= 0x5A;
    cut.resize(views.offset + views.storedSize / 2);
    SetU32At(table, 16, 0xFFFF);  // more index records than the primary index holds
    WriteFileBytes(F("flipped.vpt"), flipped);
    WriteFileBytes(F("cut.vpt"), cut);
    WriteFileBytes(F("table.vpt"), table);
    WriteFileBytes(F("empty.vpt"), {});
    WriteFileBytes(F("text.vpt"), Bytes{'v', 'i', 'e', 'w', '\n'});
    std::filesystem::create_directory(F("dir.vpt"));
    // A sound current view point and no group, then actions cut after their size field.
    RawMox actions(F("actions.vpt"), "1.3");
    actions.Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}, u32{40});
    actions.Ix().WriteAllBuffersToFileStream(actions.file_.Stream());
    actions.file_.CloseFile();
    Model bare("model-bare");  // saved without view points
    bare.AddGeometry(1, "part", {FloatArray("stress", Distinct(9))});
    bare.Save(F("bare.vpt"));
    std::filesystem::create_directory(F("out"));
  }
  static KivRkf::BlockInfo Row(const std::string& path, const std::string& name) {
    for (const auto& row : BlocksOf(path))
      if (row.name == name) return row;
    throw std::logic_error("no block " + name);
  }
  std::string Out() const { return F("out/out.mox"); }
};

TEST_F(ViewPointFailure, AnUnreadableFileFailsTheRunBeforeTheMerge) {
  const struct {
    const char* file;
    std::string expected;  // in the message, after the file's path ("" for success)
  } rows[] = {
      {"missing.vpt", "\""},  // Unable to open file "<path>"
      {"empty.vpt", " is not a Mox file"},
      {"text.vpt", " is not a Mox file"},
      {"dir.vpt", "\""},
      {"table.vpt", "\" is a damaged view point file: its block table cannot be read: "},
      {"flipped.vpt", "\" is a damaged view point file: section \"View Points\": view points: "},
      {"cut.vpt", "\" is a damaged view point file: "},
      {"actions.vpt", "\" is a damaged view point file: section \"View Points\": actions: "},
      {"bare.vpt", ""},
  };
  const Bytes old = {'o', 'l', 'd'};
  for (const auto& row : rows) {
    for (const Names& mox : {Names{F("a.mox")}, Names{F("a.mox"), F("b.mox")}}) {
      SCOPED_TRACE(std::string(row.file) + " after " + std::to_string(mox.size()) + " Mox inputs");
      WriteFileBytes(Out(), old);
      std::filesystem::remove(Out() + ".temp");
      Names args = mox;
      for (const auto& more : {F("p.vpt"), F(row.file), Out()}) args.push_back(more);
      const auto run = RunMoxMerge(logs, args);
      if (row.expected.empty()) {
        EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
        const std::string merged =
            mox.size() == 1 ? "model-a [ parta ]" : "Merge [ model-a model-b ]";
        EXPECT_EQ(Summary(*LoadTree(Out())), merged + " A1 A2 P1 / p-now");
        continue;
      }
      EXPECT_EQ(run.status, 2);
      EXPECT_TRUE(Has(run.err, F(row.file) + row.expected)) << run.err;
      EXPECT_EQ(ReadFileBytes(Out()), old);
      EXPECT_EQ(DirectoryEntries(F("out")), Names{"out.mox"});
    }
  }
}

// With several Mox inputs the merge goes to "<output>.temp" first, and the output is
// replaced only by the save that adds the view points.
TEST_F(ViewPointFailure, TheOutputIsReplacedOnlyOnceTheViewPointsAreIn) {
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
  Launch launch{"moxmerge", args, {"TESSARA_TEMP_PATH=" + logs.Path()}};
  launch.limits.push_back({RLIMIT_FSIZE, static_cast<rlim_t>((copy + full) / 2)});
  auto run = Execute(launch);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Has(run.err, "Unable to write to file")) << run.err;
  EXPECT_EQ(ReadFileBytes(Out()), old);
  EXPECT_EQ(DirectoryEntries(F("out")), (Names{"out.mox", "out.mox.temp"}));

  // The merged copy is never an input: by its path, or by another name of the same file.
  std::filesystem::copy_file(F("a.mox"), F("out/x.mox.temp"));
  ASSERT_EQ(link(F("out/x.mox.temp").c_str(), F("out/y.mox.temp").c_str()), 0);
  const Bytes input = ReadFileBytes(F("out/x.mox.temp"));
  for (const char* output : {"out/x.mox", "out/y.mox"}) {
    SCOPED_TRACE(output);
    run = RunMoxMerge(logs, {F("out/x.mox.temp"), F("b.mox"), F("p.vpt"), F(output)});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Has(run.err, "Unable to write \"" + F(output) + ".temp\"") &&
                Has(run.err, "it is one of the inputs (" + F("out/x.mox.temp") + ")"))
        << run.err;
    EXPECT_EQ(ReadFileBytes(F("out/x.mox.temp")), input);
    EXPECT_FALSE(FileExists(F(output)));
  }

  // The output may be a view point file of the run: its view points are read before it is
  // replaced.
  for (const Names& mox : {Names{F("a.mox")}, Names{F("a.mox"), F("b.mox")}}) {
    std::filesystem::copy_file(F("p.vpt"), F("out/v.vpt"),
                               std::filesystem::copy_options::overwrite_existing);
    Names args = mox;
    args.insert(args.end(), {F("out/v.vpt"), F("out/v.vpt")});
    run = RunMoxMerge(logs, args);
    EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
    EXPECT_EQ(Summary(*LoadTree(F("out/v.vpt"))),
              (mox.size() == 1 ? "model-a [ parta ]" : "Merge [ model-a model-b ]") +
                  std::string(" A1 A2 P1 / p-now"));
  }
}

// The hidden name of a save's temporary file fits the directory's name limit for any
// output name, and so does the merged copy or the run is refused before the merge.
TEST_F(ViewPointFailure, LongOutputNames) {
  for (std::size_t length : {239u, 240u, 250u, 251u, 255u}) {
    SCOPED_TRACE(length);
    const std::string output = F("out/" + std::string(length - 4, 'n') + ".mox");
    auto run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), output});
    EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
    EXPECT_EQ(ChildNames(*LoadTree(output), 1), (Names{"model-a", "model-b"}));
    std::filesystem::remove(output);
    run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), output});
    if (length + 5 <= 255) {
      EXPECT_EQ(std::pair(run.status, ErrorsOf(run)), std::pair(0, std::string()));
      EXPECT_EQ(Summary(*LoadTree(output)), "Merge [ model-a model-b ] A1 A2 P1 / p-now");
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_TRUE(Has(run.err, "Unable to write \"" + output + ".temp\"") &&
                  Has(run.err, std::to_string(length + 5) + " bytes are more than the 255"))
          << run.err;
    }
    for (const auto& name : DirectoryEntries(F("out"))) std::filesystem::remove(F("out/" + name));
  }
}

}  // namespace
