// The view point import through the built program: view point files added to one Mox
// input or to a merged output (through its "<output>.temp" copy), files that add nothing,
// files that stop the run, damaged "View Points" sections, and the temporary copy when
// the merge failed or the copy cannot be made.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "merge/mox_fixtures.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

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
  KivRkf::RkFile file;
  file.OpenFile(path, "wb+");
  file.WriteHeader();
  file.GetIndex().Put(KivMox::kViewPoints, section.data(), std::uint32_t(section.size()));
  file.GetIndex().WriteAllBuffersToFileStream(file.Stream());
  file.CloseFile();
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

  TestSupport::RunResult Run(const Names& args) { return RunMoxMerge(logs, args); }

  TempDir dir;
  TempDir logs;
};

TEST_F(ViewPointImportTest, OneMoxInputGetsTheViewPointsAndStaysUnchanged) {
  const Bytes before = ReadFileBytes(dir.File("a.mox"));
  auto run = Run({dir.File("a.mox"), dir.File("p.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ErrorsOf(run), "");
  EXPECT_EQ(ReadFileBytes(dir.File("a.mox")), before);
  EXPECT_FALSE(FileExists(dir.File("out.mox.temp")));

  auto out = LoadMox(dir.File("out.mox"));
  auto a = LoadMox(dir.File("a.mox"));
  auto p = LoadMox(dir.File("p.vpt"));
  EXPECT_TRUE(out->views.present);
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "P1"}));
  EXPECT_EQ(out->views.groups[0], a->views.groups[0]);
  EXPECT_EQ(out->views.groups[2], p->views.groups[0]);
  EXPECT_EQ(out->views.current, p->views.current);
  // The tree and history of the Mox input, and one record of the import.
  EXPECT_EQ(out->Size(), 2u);
  EXPECT_EQ(GroupAt(*out, 1)->name, "model-a");
  EXPECT_EQ(BytesOf(GeometryAt(*out, 2)->arrays.at(0).data), BytesOfValues(Distinct(1.0f)));
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo[0], a->globalInfo[0]);
  EXPECT_EQ(out->globalInfo[1].applicationName, "");
  EXPECT_EQ(out->globalInfo[1].applicationVersion, "");
  EXPECT_EQ(out->globalInfo[1].formatVersion, "1.3");
}

TEST_F(ViewPointImportTest, GroupsOfSeveralFilesAreAppendedInOrder) {
  auto run = Run({dir.File("a.mox"), dir.File("q.vpt"), dir.File("p.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "Q1", "Q2", "P1"}));
  EXPECT_EQ(out->views.current.name, "p-now");
}

TEST_F(ViewPointImportTest, ViewPointFileOfVersionZeroPointOneAddsNothing) {
  Bytes bytes = ReadFileBytes(dir.File("p.vpt"));
  ASSERT_GT(bytes.size(), 12u);
  const Bytes version = {'0', '.', '1', 0};
  std::copy(version.begin(), version.end(), bytes.begin() + 8);
  TestSupport::WriteFileBytes(dir.File("old.vpt"), bytes);

  auto run = Run({dir.File("a.mox"), dir.File("old.vpt"), dir.File("q.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "Q1", "Q2"}));
  EXPECT_EQ(out->views.current.name, "q-now");

  ASSERT_EQ(Run({dir.File("a.mox"), dir.File("old.vpt"), dir.File("out2.mox")}).status, 0);
  auto alone = LoadMox(dir.File("out2.mox"));
  EXPECT_EQ(GroupNames(alone->views), (Names{"A1", "A2"}));
  EXPECT_EQ(alone->views.current.name, "a-now");
}

TEST_F(ViewPointImportTest, AViewPointFileThatCannotBeOpenedStopsTheRun) {
  TestSupport::WriteFileBytes(dir.File("text.vpt"), Bytes(40, 'x'));
  for (const auto& bad : {dir.File("missing.vpt"), dir.File("text.vpt")}) {
    auto run = Run({dir.File("a.mox"), dir.File("p.vpt"), bad, dir.File("out.mox")});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("out.mox")));
  }
  EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"a.mox", "b.mox", "p.vpt", "q.vpt", "text.vpt"}));
}

TEST_F(ViewPointImportTest, ADamagedViewPointsSectionDropsEveryViewPoint) {
  // A frame size far beyond the section, and a section that ends inside the record.
  WriteRawViewPointFile(dir.File("huge.vpt"), {0xF0, 0xFF, 0xFF, 0x7F, 3, 0, 0, 0, '0', '.', '2'});
  WriteRawViewPointFile(dir.File("short.vpt"), {0x01, 0x02});
  // A Mox file saved without view points has no "View Points" section at all.
  Model plain("plain");
  plain.Save(dir.File("none.vpt"));
  for (const auto& bad : {"huge.vpt", "short.vpt", "none.vpt"}) {
    auto run = Run({dir.File("a.mox"), dir.File("p.vpt"), dir.File(bad), dir.File("out.mox")});
    EXPECT_EQ(run.status, 0) << bad << run.err;
    auto out = LoadMox(dir.File("out.mox"));
    EXPECT_FALSE(out->views.present) << bad;
    EXPECT_TRUE(out->views.groups.empty()) << bad;
    // The tree itself is written.
    EXPECT_EQ(GroupAt(*out, 1)->name, "model-a");
  }
  // View point files after the damaged one add their groups again.
  auto run =
      Run({dir.File("a.mox"), dir.File("short.vpt"), dir.File("q.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(GroupNames(LoadMox(dir.File("out.mox"))->views), (Names{"Q1", "Q2"}));
}

TEST_F(ViewPointImportTest, MergedOutputIsReadBackFromItsTemporaryCopy) {
  auto run = Run({dir.File("a.mox"), dir.File("b.mox"), dir.File("p.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ErrorsOf(run), "");

  // The copy holds the merge as it was saved, before the import.
  ASSERT_TRUE(FileExists(dir.File("out.mox.temp")));
  auto merged = LoadMox(dir.File("out.mox.temp"));
  EXPECT_EQ(ChildNames(*merged, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(merged->views), (Names{"A1", "A2"}));
  ASSERT_EQ(merged->globalInfo.size(), 2u);
  EXPECT_EQ(merged->globalInfo[1].applicationName, "MoxMerge");

  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(GroupAt(*out, 1)->name, "Merge");
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 5)->arrays.at(0).data), BytesOfValues(Distinct(2.0f)));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "P1"}));
  EXPECT_EQ(out->views.current.name, "p-now");
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[1].applicationName, "MoxMerge");
  EXPECT_EQ(out->globalInfo[2].applicationName, "");
}

TEST_F(ViewPointImportTest, InstanceMergeIsFollowedByTheImportToo) {
  auto run = Run({"--merge-as-instances", "--suffix-file-instance", dir.File("a.mox"),
                  dir.File("a.mox"), dir.File("q.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)),
            (Names{Tagged("stress", "F1"), Tagged("stress", "F2")}));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2", "Q1", "Q2"}));
}

TEST_F(ViewPointImportTest, AStaleTemporaryCopyIsRemovedFirst) {
  // An old copy that is a link to another file: that file must not be written through.
  TestSupport::WriteFileBytes(dir.File("victim"), Bytes{'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("out.mox.temp").c_str()), 0);
  auto run = Run({dir.File("a.mox"), dir.File("b.mox"), dir.File("p.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("out.mox.temp")));
  EXPECT_EQ(ChildNames(*LoadMox(dir.File("out.mox.temp")), 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(LoadMox(dir.File("out.mox"))->views), (Names{"A1", "A2", "P1"}));

  // An old copy holding other data is replaced by this run's merge.
  std::filesystem::remove(dir.File("out.mox.temp"));
  std::filesystem::copy_file(dir.File("b.mox"), dir.File("out.mox.temp"));
  run = Run({dir.File("a.mox"), dir.File("a.mox"), dir.File("q.vpt"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ChildNames(*LoadMox(dir.File("out.mox.temp")), 1), (Names{"model-a", "model-a"}));
  EXPECT_EQ(ChildNames(*LoadMox(dir.File("out.mox")), 1), (Names{"model-a", "model-a"}));
}

TEST_F(ViewPointImportTest, ACopyThatCannotBeMadeStopsBeforeTheImport) {
  std::filesystem::create_directories(dir.File("out.mox.temp/inside"));
  auto run = Run({dir.File("a.mox"), dir.File("b.mox"), dir.File("p.vpt"), dir.File("out.mox")});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(ErrorsOf(run).find(dir.File("out.mox.temp")), std::string::npos) << run.err;
  // The run stops at the copy: no import is tried on what stands at the temporary path.
  EXPECT_EQ(Count(run.err, "Exception \""), 0u) << run.err;
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("out.mox.temp/inside")));
  // The merge was written; the view points were not imported into it.
  auto out = LoadMox(dir.File("out.mox"));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2"}));
  EXPECT_EQ(out->globalInfo.size(), 2u);
}

TEST_F(ViewPointImportTest, AFailedMergeSkipsTheCopyAndTheImport) {
  // An output left by an earlier run must not be taken up as the merge's result.
  std::filesystem::copy_file(dir.File("b.mox"), dir.File("out.mox"));
  const Bytes earlier = ReadFileBytes(dir.File("out.mox"));
  for (const Names& options : std::vector<Names>{{}, {"--merge-as-instances"}}) {
    Names args = {dir.File("a.mox"), dir.File("missing.mox"), dir.File("p.vpt"),
                  dir.File("out.mox")};
    args.insert(args.end(), options.begin(), options.end());
    auto run = Run(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(options);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_EQ(ReadFileBytes(dir.File("out.mox")), earlier);
    EXPECT_FALSE(FileExists(dir.File("out.mox.temp")));
  }
}

}  // namespace
