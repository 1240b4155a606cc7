// The view point import into one Mox input, and into a merged output through its
// "<output>.temp" copy. The rules of single view point files are in tests/kiv/mox.
#include <gtest/gtest.h>

#include <unistd.h>

#include "merge/merge_fixtures.hpp"
#include "merge/merge_operations.hpp"

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

  // A copy that cannot be made stops the run after the merge, before the import.
  std::filesystem::remove(F("out.mox.temp"));
  std::filesystem::create_directories(F("out.mox.temp/inside"));
  run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(ErrorsOf(run), "Unable to replace \"" + F("out.mox.temp") + "\"\n");
  EXPECT_TRUE(std::filesystem::is_directory(F("out.mox.temp/inside")));
  out = LoadTree(F("out.mox"));
  EXPECT_EQ(Summary(*out), "Merge [ model-a model-b ] A1 A2 / a-now");
  EXPECT_EQ(out->globalInfo.size(), 2u);
}

}  // namespace
