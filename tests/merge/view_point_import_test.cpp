// The view point import through the built program: view point files added to one Mox
// input or to a merged output (through its "<output>.temp" copy), files that add nothing,
// damaged "View Points" sections, and the temporary copy when it is stale or cannot be
// made. Files that stop the run are rows of the exit status table (moxmerge_test.cpp).
#include <gtest/gtest.h>

#include <unistd.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// A container whose only section is a "View Points" section holding bytes.
void WriteRawViewPointFile(const std::string& path, const Bytes& section) {
  RawMox raw(path);
  raw.Ix().Put(KivMox::kViewPoints, section.data(), std::uint32_t(section.size()));
  raw.Finish();
}

// "<root> [<children>] <groups> / <current view point>", or "... none" without views.
std::string Summary(const KivMox::Tree& tree) {
  std::string s = tree.GetNode(1)->name + " [";
  for (const auto& name : ChildNames(tree, 1)) s += " " + name;
  s += " ]";
  for (const auto& name : GroupNames(tree.views)) s += " " + name;
  return s + (tree.views.present ? " / " + tree.views.current.name : " none");
}

class ViewPointImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Mox files a.mox and b.mox and view point files (containers saved like Mox files,
    // whose view points are what counts) p.vpt and q.vpt.
    const std::tuple<const char*, const char*, Names, int> files[] = {
        {"a.mox", "a-now", {"A1", "A2"}, 1},
        {"b.mox", "b-now", {"B1"}, 2},
        {"p.vpt", "p-now", {"P1"}, 3},
        {"q.vpt", "q-now", {"Q1", "Q2"}, 4}};
    for (const auto& [name, current, groups, k] : files) {
      Model model(k < 3 ? std::string("model-") + name[0] : std::string("view-model"));
      model.AddGeometry(1, std::string("part") + name[0], {FloatArray("stress", Distinct(k))});
      model.SetViews(current, groups, 100 * k);
      model.Save(F(name));
    }
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  // moxmerge with these inputs (options as they are) and out.mox; its output, loaded.
  std::unique_ptr<KivMox::Tree> Run(const Names& inputs) {
    Names args;
    for (const auto& input : inputs) args.push_back(input.starts_with("--") ? input : F(input));
    args.push_back(F("out.mox"));
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ErrorsOf(run), "");
    return LoadTree(F("out.mox"));
  }
  TempDir dir;
  TempDir logs;
};

TEST_F(ViewPointImportTest, GroupsAreAppendedAndTheLastCurrentViewPointWins) {
  const Bytes before = ReadFileBytes(F("a.mox"));
  auto out = Run({"a.mox", "p.vpt"});
  EXPECT_EQ(ReadFileBytes(F("a.mox")), before);
  EXPECT_FALSE(FileExists(F("out.mox.temp")));
  auto a = LoadTree(F("a.mox")), p = LoadTree(F("p.vpt"));
  EXPECT_EQ(out->views.groups,
            (std::vector{a->views.groups[0], a->views.groups[1], p->views.groups[0]}));
  EXPECT_EQ(out->views.current, p->views.current);
  // The tree and history of the Mox input, and one record of the import.
  EXPECT_EQ(Arrays(*out), "2: stress@1\n");
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo[0], a->globalInfo[0]);
  const auto& r = out->globalInfo[1];
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion, "||1.3");

  // Version "0.1" view point files add nothing; a damaged or missing "View Points"
  // section drops every view point, and the files after it add theirs again.
  Bytes old = ReadFileBytes(F("p.vpt"));
  std::copy_n("0.1", 4, old.begin() + 8);
  WriteFileBytes(F("old.vpt"), old);
  WriteRawViewPointFile(F("huge.vpt"), {0xF0, 0xFF, 0xFF, 0x7F, 3, 0, 0, 0, '0', '.', '2'});
  WriteRawViewPointFile(F("short.vpt"), {0x01, 0x02});
  Model("plain").Save(F("none.vpt"));
  const std::pair<Names, std::string> cases[] = {
      {{"a.mox", "q.vpt", "p.vpt"}, "model-a [ parta ] A1 A2 Q1 Q2 P1 / p-now"},
      {{"a.mox", "old.vpt", "q.vpt"}, "model-a [ parta ] A1 A2 Q1 Q2 / q-now"},
      {{"a.mox", "old.vpt"}, "model-a [ parta ] A1 A2 / a-now"},
      {{"a.mox", "p.vpt", "huge.vpt"}, "model-a [ parta ] none"},
      {{"a.mox", "p.vpt", "short.vpt"}, "model-a [ parta ] none"},
      {{"a.mox", "p.vpt", "none.vpt"}, "model-a [ parta ] none"},
      {{"a.mox", "short.vpt", "q.vpt"}, "model-a [ parta ] Q1 Q2 / q-now"},
      {{"a.mox", "b.mox", "p.vpt"}, "Merge [ model-a model-b ] A1 A2 P1 / p-now"},
      // The instance merge is followed by the import too.
      {{"--merge-as-instances", "--suffix-file-instance", "a.mox", "a.mox", "q.vpt"},
       "model-a [ parta ] A1 A2 Q1 Q2 / q-now"},
  };
  for (const auto& [inputs, summary] : cases)
    EXPECT_EQ(Summary(*Run(inputs)), summary) << ::testing::PrintToString(inputs);
  EXPECT_EQ(Arrays(*LoadTree(F("out.mox"))), "2: stress|F1@1 stress|F2@1\n");
}

TEST_F(ViewPointImportTest, AStaleTemporaryCopyIsRemovedFirst) {
  // An old copy that is a link to another file: that file must not be written through.
  WriteFileBytes(F("victim"), Bytes{'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(F("victim").c_str(), F("out.mox.temp").c_str()), 0);
  auto out = Run({"a.mox", "b.mox", "p.vpt"});
  EXPECT_EQ(ReadFileBytes(F("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(F("out.mox.temp")));
  // The merged output is read back from its temporary copy, which holds the merge as
  // saved; the output has the merge's and the import's history records.
  auto merged = LoadTree(F("out.mox.temp"));
  EXPECT_EQ(Summary(*merged), "Merge [ model-a model-b ] A1 A2 / a-now");
  ASSERT_EQ(merged->globalInfo.size(), 2u);
  EXPECT_EQ(merged->globalInfo[1].applicationName, "MoxMerge");
  EXPECT_EQ(Arrays(*out), "3: stress@1\n5: stress@2\n");
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[1].applicationName + "|" + out->globalInfo[2].applicationName,
            "MoxMerge|");

  // An old copy holding other data is replaced by this run's merge.
  std::filesystem::remove(F("out.mox.temp"));
  std::filesystem::copy_file(F("b.mox"), F("out.mox.temp"));
  EXPECT_EQ(Summary(*Run({"a.mox", "a.mox", "q.vpt"})),
            "Merge [ model-a model-a ] A1 A2 Q1 Q2 / q-now");
  EXPECT_EQ(ChildNames(*LoadTree(F("out.mox.temp")), 1), (Names{"model-a", "model-a"}));
}

TEST_F(ViewPointImportTest, ACopyThatCannotBeMadeStopsBeforeTheImport) {
  std::filesystem::create_directories(F("out.mox.temp/inside"));
  auto run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(ErrorsOf(run), "Unable to replace \"" + F("out.mox.temp") + "\"\n");
  EXPECT_TRUE(std::filesystem::is_directory(F("out.mox.temp/inside")));
  // The merge was written; the view points were not imported into it.
  auto out = LoadTree(F("out.mox"));
  EXPECT_EQ(Summary(*out), "Merge [ model-a model-b ] A1 A2 / a-now");
  EXPECT_EQ(out->globalInfo.size(), 2u);
}

}  // namespace
