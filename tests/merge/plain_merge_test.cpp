// The plain merge through the built program: every input's tree under one root group
// "Merge", identifiers shifted input after input, values and links carried exactly, the
// first input's history and view points, and the inputs that stop the merge.
#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::TempDir;

// a.mox, five nodes:
//   1 group "model-a"
//     2 shape "shell"
//       3 geometry "partA": elements (ints, 3 per value), stress, disp (3 components)
//     4 geometry "partB": stressB, stressA linked to partA's stress
//     5 node sets "sets"
const std::vector<std::int32_t> kElements = {0, 1, 2, 2, 3, 0, 7, -1, 65536};

void WriteModelA(const std::string& path) {
  Model model("model-a", "Builder", "1.0");
  KivMox::GlobalInfoRecord older;
  older.applicationName = "Older";
  older.applicationVersion = "0.9";
  older.formatVersion = "1.2";
  older.saveTime = "Mon Jan 01 00:00:00 2001 UTC";
  older.userName = "someone";
  model.Tree().globalInfo.push_back(older);
  std::uint32_t shell = model.AddShape(1, "shell", 0.125f);
  std::uint32_t partA =
      model.AddGeometry(shell, "partA",
                        {IntArray("elements", kElements, 3), FloatArray("stress", Distinct(1.0f)),
                         FloatArray("disp", Distinct(2.0f), 3)});
  model.AddGeometry(1, "partB",
                    {FloatArray("stressB", Distinct(3.0f)), LinkedArray("stressA", partA, 1)});
  model.AddNodeSets(1, "sets", {{"left", {{1, 2}, {3, 4}}}, {"right", {{5, 0xFFFFFFFFu}}}});
  model.SetViews("a-now", {"A1", "A2"}, 100);
  model.Save(path);
}

// b.mox, three nodes:
//   1 group "model-b"
//     2 geometry "partC": temp, flux
//     3 geometry "partD": fluxC linked to partC's flux
void WriteModelB(const std::string& path) {
  Model model("model-b", "Other", "3.0");
  std::uint32_t partC = model.AddGeometry(
      1, "partC", {FloatArray("temp", Distinct(4.0f)), FloatArray("flux", Distinct(5.0f))});
  model.AddGeometry(1, "partD", {LinkedArray("fluxC", partC, 1)});
  model.SetViews("b-now", {"B1"}, 200);
  model.Save(path);
}

class PlainMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteModelA(dir.File("a.mox"));
    WriteModelB(dir.File("b.mox"));
  }

  std::unique_ptr<KivMox::Tree> Merge(const Names& inputs) {
    Names args = inputs;
    args.push_back(dir.File("out.mox"));
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ErrorsOf(run), "");
    return LoadMox(dir.File("out.mox"));
  }

  TempDir dir;
  TempDir logs;
};

// Every entry of `input` stands in `out` under its identifier plus offset, with its links
// shifted alike, its name and its type name; the input's root hangs under "Merge".
void ExpectShiftedCopy(const KivMox::Tree& input, const KivMox::Tree& out, std::uint32_t offset) {
  auto shift = [&](std::uint32_t id) { return id == 0 ? 0 : id + offset; };
  for (const auto& [id, entry] : input.Entries()) {
    SCOPED_TRACE("input node " + std::to_string(id));
    const auto& copy = out.GetReqNode(id + offset);
    EXPECT_EQ(copy.parentId, entry.parentId == 0 ? 1u : shift(entry.parentId));
    if (entry.parentId != 0) {
      EXPECT_EQ(copy.prevSiblingId, shift(entry.prevSiblingId));
      EXPECT_EQ(copy.nextSiblingId, shift(entry.nextSiblingId));
    }
    EXPECT_EQ(copy.firstChildId, shift(entry.firstChildId));
    EXPECT_EQ(copy.lastChildId, shift(entry.lastChildId));
    ASSERT_NE(copy.data, nullptr);
    EXPECT_EQ(copy.data->name, entry.data->name);
    EXPECT_EQ(copy.data->GetTypeName(), entry.data->GetTypeName());
  }
}

TEST_F(PlainMergeTest, InputsHangUnderMergeWithContiguousShiftedIdentifiers) {
  auto out = Merge({dir.File("a.mox"), dir.File("b.mox")});
  auto a = LoadMox(dir.File("a.mox"));
  auto b = LoadMox(dir.File("b.mox"));
  ASSERT_EQ(out->Size(), 1 + a->Size() + b->Size());

  KivMox::Group* root = GroupAt(*out, 1);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name, "Merge");
  EXPECT_EQ(root->mergeRoot, 1);
  EXPECT_EQ(out->GetReqNode(1).parentId, 0u);
  EXPECT_EQ(Children(*out, 1), (std::vector<std::uint32_t>{2, 7}));
  EXPECT_EQ(out->GetReqNode(2).prevSiblingId, 0u);
  EXPECT_EQ(out->GetReqNode(7).prevSiblingId, 2u);
  EXPECT_EQ(out->GetReqNode(7).nextSiblingId, 0u);

  ExpectShiftedCopy(*a, *out, 1);
  ExpectShiftedCopy(*b, *out, 1 + 5);
}

TEST_F(PlainMergeTest, ValuesAreCarriedExactly) {
  auto out = Merge({dir.File("a.mox"), dir.File("b.mox")});

  KivMox::Group* modelA = GroupAt(*out, 2);
  ASSERT_NE(modelA, nullptr);
  EXPECT_EQ(modelA->translation, (std::array<float, 3>{1.5f, -2.0f, 0.25f}));
  EXPECT_EQ(modelA->mergeRoot, 0);
  EXPECT_TRUE(modelA->attributes.at("Owner") == KivMox::Attribute::MakeText("model-a"));

  auto* shell = NodeAs<KivMox::Shape>(*out, 3, "Shape");
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(shell->material.colorA, (std::array<float, 4>{0.125f, 0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(shell->material.valueE, -0.125f);

  KivMox::Geometry* partA = GeometryAt(*out, 4);
  ASSERT_NE(partA, nullptr);
  EXPECT_EQ(ArrayNames(*partA), (Names{"elements", "stress", "disp"}));
  EXPECT_EQ(partA->arrays[0].kind, 5u);
  EXPECT_EQ(partA->arrays[0].data.componentCount, 3);
  EXPECT_EQ(BytesOf(partA->arrays[0].data), BytesOfValues(kElements));
  EXPECT_EQ(BytesOf(partA->arrays[1].data), BytesOfValues(Distinct(1.0f)));
  EXPECT_EQ(partA->arrays[2].data.componentCount, 3);
  EXPECT_EQ(BytesOf(partA->arrays[2].data), BytesOfValues(Distinct(2.0f)));

  auto* sets = NodeAs<KivMox::NodeSets>(*out, 6, "NodeSets");
  ASSERT_NE(sets, nullptr);
  ASSERT_EQ(sets->sets.size(), 2u);
  EXPECT_EQ(sets->sets[0].name, "left");
  EXPECT_EQ(sets->sets[0].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 2}, {3, 4}}));
  EXPECT_EQ(sets->sets[1].name, "right");
  EXPECT_EQ(sets->sets[1].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{5, 0xFFFFFFFFu}}));

  KivMox::Geometry* partC = GeometryAt(*out, 8);
  ASSERT_NE(partC, nullptr);
  EXPECT_EQ(BytesOf(partC->arrays[0].data), BytesOfValues(Distinct(4.0f)));
  EXPECT_EQ(BytesOf(partC->arrays[1].data), BytesOfValues(Distinct(5.0f)));
}

TEST_F(PlainMergeTest, LinksFollowTheShiftedIdentifiersOfTheirOwnInput) {
  auto out = Merge({dir.File("a.mox"), dir.File("b.mox")});
  const auto& stressA = GeometryAt(*out, 5)->arrays.at(1);
  EXPECT_EQ(stressA.linked, 1);
  EXPECT_EQ(stressA.linkNode, 4u);
  EXPECT_EQ(stressA.linkIndex, 1u);
  EXPECT_EQ(BytesOf(stressA.data), BytesOfValues(Distinct(1.0f)));

  // b's partD linked to its node 2; in the output that node is 8, not a's node 2.
  const auto& fluxC = GeometryAt(*out, 9)->arrays.at(0);
  EXPECT_EQ(fluxC.linked, 1);
  EXPECT_EQ(fluxC.linkNode, 8u);
  EXPECT_EQ(fluxC.linkIndex, 1u);
  EXPECT_EQ(BytesOf(fluxC.data), BytesOfValues(Distinct(5.0f)));
}

TEST_F(PlainMergeTest, HistoryIsTheFirstInputsFollowedByOneRecordOfTheMerge) {
  auto out = Merge({dir.File("a.mox"), dir.File("b.mox")});
  auto a = LoadMox(dir.File("a.mox"));
  ASSERT_EQ(a->globalInfo.size(), 2u);
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(out->globalInfo[0], a->globalInfo[0]);
  EXPECT_EQ(out->globalInfo[1], a->globalInfo[1]);
  EXPECT_EQ(out->globalInfo[1].applicationName, "Builder");
  const auto& merge = out->globalInfo[2];
  EXPECT_EQ(merge.applicationName, "MoxMerge");
  EXPECT_EQ(merge.applicationVersion, "2017 R1");
  EXPECT_EQ(merge.formatVersion, "1.3");
  EXPECT_FALSE(merge.saveTime.empty());
  EXPECT_EQ(merge.computerName, "");
  EXPECT_EQ(merge.userName, "");
  EXPECT_EQ(merge.callerText, "");
  EXPECT_EQ(out->fileVersion, "1.3");
}

TEST_F(PlainMergeTest, ViewPointsAreTheFirstInputsOnly) {
  auto out = Merge({dir.File("a.mox"), dir.File("b.mox")});
  auto a = LoadMox(dir.File("a.mox"));
  EXPECT_TRUE(out->views.present);
  EXPECT_EQ(GroupNames(out->views), (Names{"A1", "A2"}));
  EXPECT_EQ(out->views.groups, a->views.groups);
  EXPECT_EQ(out->views.current, a->views.current);
  EXPECT_EQ(out->views.current.name, "a-now");

  // With b first, b's view points are kept and a's are lost.
  auto reversed = Merge({dir.File("b.mox"), dir.File("a.mox")});
  EXPECT_EQ(GroupNames(reversed->views), (Names{"B1"}));
  EXPECT_EQ(reversed->views.current.name, "b-now");
  EXPECT_EQ(ChildNames(*reversed, 1), (Names{"model-b", "model-a"}));
}

TEST_F(PlainMergeTest, TwoCopiesOfOneFileStandSideBySide) {
  auto out = Merge({dir.File("a.mox"), dir.File("a.mox"), dir.File("b.mox")});
  EXPECT_EQ(out->Size(), 1u + 5 + 5 + 3);
  EXPECT_EQ(Children(*out, 1), (std::vector<std::uint32_t>{2, 7, 12}));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-a", "model-b"}));
  // The second copy's link points into the second copy.
  const auto& stressA = GeometryAt(*out, 10)->arrays.at(1);
  EXPECT_EQ(stressA.linkNode, 9u);
  EXPECT_EQ(BytesOf(stressA.data), BytesOfValues(Distinct(1.0f)));
  EXPECT_EQ(GeometryAt(*out, 14)->arrays.at(0).linkNode, 13u);
}

TEST_F(PlainMergeTest, AnUnreadableFurtherInputStopsTheMerge) {
  TestSupport::WriteFileBytes(dir.File("text.mox"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  const Names bad = {dir.File("missing.mox"), dir.File("text.mox")};
  for (const auto& second : bad) {
    auto run = RunMoxMerge(logs, {dir.File("a.mox"), second, dir.File("out.mox")});
    EXPECT_EQ(run.status, 2) << second;
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_NE(ErrorsOf(run).find(second), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("out.mox")));
    EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"a.mox", "b.mox", "text.mox"}));
  }
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("text.mox"), dir.File("out.mox")});
  EXPECT_NE(run.err.find(dir.File("text.mox") + " is not a Mox file"), std::string::npos);
}

}  // namespace
