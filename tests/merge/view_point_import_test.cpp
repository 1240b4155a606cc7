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
  // moxmerge on args, which fails with status 2 and every one of parts in its message.
  void Refused(const Names& args, const Names& parts) {
    const auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 2);
    for (const auto& part : parts) EXPECT_TRUE(Has(run.err, part)) << run.err;
  }
  TempDir dir, logs;
  const std::string merged = "Merge [ model-a model-b ]", withP = " A1 A2 P1 / p-now";
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
  const Names args = {F("a.mox"), F("b.mox"), F("p.vpt"), F("out.mox")};
  EXPECT_EQ(Merged(args, F("out.mox")), merged + withP);
  EXPECT_EQ(ReadFileBytes(F("victim")), (Bytes{'k', 'e', 'e', 'p'}));
  // The copy holds the merge as saved; the output has the merge's and the import's records.
  auto out = LoadTree(F("out.mox"));
  EXPECT_EQ(Summary(*LoadTree(F("out.mox.temp"))), merged + " A1 A2 / a-now");
  EXPECT_EQ(Arrays(*out), "3: stress@1\n5: stress@2\n");
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[1].applicationName + "|" + out->globalInfo[2].applicationName,
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
TEST_F(ViewPointImportTest, TheOutputIsReplacedOnlyOnceTheViewPointsAreIn) {
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
  const auto run = Execute(launch);
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
    Refused({F("out/x.mox.temp"), F("b.mox"), F("p.vpt"), F(output)},
            {"Unable to write \"" + F(output) + ".temp\"",
             "it is one of the inputs (" + F("out/x.mox.temp") + ")"});
    EXPECT_EQ(ReadFileBytes(F("out/x.mox.temp")), input);
    EXPECT_FALSE(FileExists(F(output)));
  }

  // The output may be a view point file of the run: its view points are read before it is
  // replaced. A file without a "View Points" section adds nothing.
  Model("model-bare").Save(F("bare.vpt"));
  for (const Names& mox : {Names{F("a.mox")}, Names{F("a.mox"), F("b.mox")}}) {
    std::filesystem::copy_file(F("p.vpt"), F("out/v.vpt"),
                               std::filesystem::copy_options::overwrite_existing);
    Names args = mox;
    args.insert(args.end(), {F("out/v.vpt"), F("bare.vpt"), F("out/v.vpt")});
    EXPECT_EQ(Merged(args, F("out/v.vpt")),
              (mox.size() == 1 ? "model-a [ parta ]" : merged) + withP);
  }
}

// The hidden name of a save's temporary file fits the directory's name limit for any
// output name, and so does the merged copy or the run is refused before the merge.
TEST_F(ViewPointImportTest, LongOutputNames) {
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
