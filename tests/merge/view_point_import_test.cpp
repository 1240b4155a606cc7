// The view point import through the built program: view point files added to one Mox
// input or to a merged output (through its "<output>.temp" copy), files that add nothing,
// damaged "View Points" sections, and the temporary copy when it is stale or cannot be
// made. Files that stop the run are rows of the exit status table (moxmerge_test.cpp).
#include <gtest/gtest.h>

#include <unistd.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// A view point file: a container saved like a Mox file, whose view points are what counts.
void WriteViewPointFile(const std::string& path, const std::string& current, const Names& groups,
                        std::uint32_t marker) {
  Model model("view-model-" + current);
  model.AddGeometry(1, "ignored", {FloatArray("ignored", Distinct(99.0f))});
  model.SetViews(current, groups, marker);
  model.Save(path);
}

// A container whose only section is a "View Points" section holding bytes.
void WriteRawViewPointFile(const std::string& path, const Bytes& section) {
  RawMox raw(path);
  raw.Ix().Put(KivMox::kViewPoints, section.data(), std::uint32_t(section.size()));
  raw.Finish();
}

class ViewPointImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Model a("model-a", "Builder", "1.0");
    a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f))});
    a.SetViews("a-now", {"A1", "A2"}, 100);
    a.Save(dir.File("a.mox"));
    Model b("model-b", "Builder", "2.0");
    b.AddGeometry(1, "partB", {FloatArray("stress", Distinct(2.0f))});
    b.SetViews("b-now", {"B1"}, 200);
    b.Save(dir.File("b.mox"));
    WriteViewPointFile(dir.File("p.vpt"), "p-now", {"P1"}, 300);
    WriteViewPointFile(dir.File("q.vpt"), "q-now", {"Q1", "Q2"}, 400);
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  TempDir dir;
  TempDir logs;
};

TEST_F(ViewPointImportTest, GroupsAreAppendedAndTheLastCurrentViewPointWins) {
  const Bytes before = ReadFileBytes(F("a.mox"));
  auto run = RunMoxMerge(logs, {F("a.mox"), F("p.vpt"), F("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ErrorsOf(run), "");
  EXPECT_EQ(ReadFileBytes(F("a.mox")), before);
  EXPECT_FALSE(FileExists(F("out.mox.temp")));
  auto out = LoadTree(F("out.mox"));
  auto a = LoadTree(F("a.mox"));
  auto p = LoadTree(F("p.vpt"));
  EXPECT_TRUE(out->views.present);
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "P1"}));
  EXPECT_EQ(out->views.groups[0], a->views.groups[0]);
  EXPECT_EQ(out->views.groups[2], p->views.groups[0]);
  EXPECT_EQ(out->views.current, p->views.current);
  // The tree and history of the Mox input, and one record of the import.
  EXPECT_EQ(out->Size(), 2u);
  EXPECT_EQ(out->GetNode(1)->name, "model-a");
  EXPECT_EQ(BytesOf(GeometryOf(*out, 2)->arrays.at(0).data), DistinctBytes(1.0f));
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo[0], a->globalInfo[0]);
  EXPECT_EQ(out->globalInfo[1].applicationName + out->globalInfo[1].applicationVersion, "");
  EXPECT_EQ(out->globalInfo[1].formatVersion, "1.3");

  // Version "0.1" view point files add nothing; a damaged or missing "View Points"
  // section drops every view point, and the files after it add theirs again.
  Bytes old = ReadFileBytes(F("p.vpt"));
  const Bytes version = {'0', '.', '1', 0};
  std::copy(version.begin(), version.end(), old.begin() + 8);
  TestSupport::WriteFileBytes(F("old.vpt"), old);
  WriteRawViewPointFile(F("huge.vpt"), {0xF0, 0xFF, 0xFF, 0x7F, 3, 0, 0, 0, '0', '.', '2'});
  WriteRawViewPointFile(F("short.vpt"), {0x01, 0x02});
  Model("plain").Save(F("none.vpt"));
  struct Case {
    Names inputs;
    Names groups;
    std::string current;  // "" when there are no view points
    std::string root = "model-a";
  };
  const Case cases[] = {
      {{"a.mox", "q.vpt", "p.vpt"}, {"A1", "A2", "Q1", "Q2", "P1"}, "p-now"},
      {{"a.mox", "old.vpt", "q.vpt"}, {"A1", "A2", "Q1", "Q2"}, "q-now"},
      {{"a.mox", "old.vpt"}, {"A1", "A2"}, "a-now"},
      {{"a.mox", "p.vpt", "huge.vpt"}, {}, ""},
      {{"a.mox", "p.vpt", "short.vpt"}, {}, ""},
      {{"a.mox", "p.vpt", "none.vpt"}, {}, ""},
      {{"a.mox", "short.vpt", "q.vpt"}, {"Q1", "Q2"}, "q-now"},
      {{"a.mox", "b.mox", "p.vpt"}, {"A1", "A2", "P1"}, "p-now", "Merge"},
  };
  for (const Case& c : cases) {
    Names args;
    for (const auto& input : c.inputs) args.push_back(F(input));
    args.push_back(F("out.mox"));
    auto run = RunMoxMerge(logs, args);
    SCOPED_TRACE(::testing::PrintToString(c.inputs));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ErrorsOf(run), "");
    auto result = LoadTree(F("out.mox"));
    EXPECT_EQ(result->views.present, !c.current.empty());
    EXPECT_EQ(GroupNames(result->views), c.groups);
    if (!c.current.empty()) {
      EXPECT_EQ(result->views.current.name, c.current);
    }
    EXPECT_EQ(result->GetNode(1)->name, c.root);
  }

  // A merged output is read back from its temporary copy, which holds the merge as saved.
  auto merged = LoadTree(F("out.mox.temp"));
  EXPECT_EQ(ChildNames(*merged, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(merged->views), (Names{"A1", "A2"}));
  ASSERT_EQ(merged->globalInfo.size(), 2u);
  EXPECT_EQ(merged->globalInfo[1].applicationName, "MoxMerge");
  out = LoadTree(F("out.mox"));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(BytesOf(GeometryOf(*out, 5)->arrays.at(0).data), DistinctBytes(2.0f));
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[1].applicationName, "MoxMerge");
  EXPECT_EQ(out->globalInfo[2].applicationName, "");

  // The instance merge is followed by the import too.
  run = RunMoxMerge(logs, {"--merge-as-instances", "--suffix-file-instance", F("a.mox"), F("a.mox"),
                           F("q.vpt"), F("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  out = LoadTree(F("out.mox"));
  EXPECT_EQ(ArrayNames(GeometryOf(*out, 2)),
            (Names{Tagged("stress", "F1"), Tagged("stress", "F2")}));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "Q1", "Q2"}));
}

TEST_F(ViewPointImportTest, AStaleTemporaryCopyIsRemovedFirst) {
  // An old copy that is a link to another file: that file must not be written through.
  TestSupport::WriteFileBytes(F("victim"), Bytes{'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(F("victim").c_str(), F("out.mox.temp").c_str()), 0);
  auto run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(F("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(F("out.mox.temp")));
  EXPECT_EQ(ChildNames(*LoadTree(F("out.mox.temp")), 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(LoadTree(F("out.mox"))->views), (Names{"A1", "A2", "P1"}));

  // An old copy holding other data is replaced by this run's merge.
  std::filesystem::remove(F("out.mox.temp"));
  std::filesystem::copy_file(F("b.mox"), F("out.mox.temp"));
  run = RunMoxMerge(logs, {F("a.mox"), F("a.mox"), F("q.vpt"), F("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ChildNames(*LoadTree(F("out.mox.temp")), 1), (Names{"model-a", "model-a"}));
  EXPECT_EQ(ChildNames(*LoadTree(F("out.mox")), 1), (Names{"model-a", "model-a"}));
}

TEST_F(ViewPointImportTest, ACopyThatCannotBeMadeStopsBeforeTheImport) {
  std::filesystem::create_directories(F("out.mox.temp/inside"));
  auto run = RunMoxMerge(logs, {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(ErrorsOf(run), "Unable to replace \"" + F("out.mox.temp") + "\"\n");
  EXPECT_TRUE(std::filesystem::is_directory(F("out.mox.temp/inside")));
  // The merge was written; the view points were not imported into it.
  auto out = LoadTree(F("out.mox"));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2"}));
  EXPECT_EQ(out->globalInfo.size(), 2u);
}

}  // namespace
