// The plain merge through the built program: every input's tree under one root group
// "Merge", identifiers shifted input after input, values and links carried exactly, and
// the first input's history and view points.
#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;

const std::vector<std::int32_t> kElements = {0, 1, 2, 2, 3, 0, 7, -1, 65536};

// a.mox: 1 group "model-a" { 2 shape "shell" { 3 geometry "partA": elements (ints, 3 per
// value), stress, disp (3 components) }, 4 geometry "partB": stressB, stressA linked to
// partA's stress, 5 node sets "sets" }, with an older history record.
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

// b.mox: 1 group "model-b" { 2 geometry "partC": temp, flux; 3 geometry "partD": fluxC
// linked to partC's flux }.
void WriteModelB(const std::string& path) {
  Model model("model-b", "Other", "3.0");
  std::uint32_t partC = model.AddGeometry(
      1, "partC", {FloatArray("temp", Distinct(4.0f)), FloatArray("flux", Distinct(5.0f))});
  model.AddGeometry(1, "partD", {LinkedArray("fluxC", partC, 1)});
  model.SetViews("b-now", {"B1"}, 200);
  model.Save(path);
}

// Every entry of input stands in out under its identifier plus offset, with its links
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

void ExpectLink(const KivMox::GeometryArray& array, std::uint32_t node, std::uint32_t index,
                float seed) {
  EXPECT_EQ(array.linked, 1);
  EXPECT_EQ(array.linkNode, node);
  EXPECT_EQ(array.linkIndex, index);
  EXPECT_EQ(BytesOf(array.data), DistinctBytes(seed));
}

class PlainMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteModelA(dir.File("a.mox"));
    WriteModelB(dir.File("b.mox"));
  }
  std::unique_ptr<KivMox::Tree> Merge(const Names& inputs) {
    Names args;
    for (const auto& input : inputs) args.push_back(dir.File(input));
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

TEST_F(PlainMergeTest, TreesValuesLinksHistoryAndViewPoints) {
  auto out = Merge({"a.mox", "b.mox"});
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

  // Values, exactly.
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
  ASSERT_EQ(ArrayNames(partA), (Names{"elements", "stress", "disp"}));
  EXPECT_EQ(partA->arrays[0].kind, 5u);
  EXPECT_EQ(partA->arrays[0].data.componentCount, 3);
  EXPECT_EQ(BytesOf(partA->arrays[0].data), BytesOfValues(kElements));
  EXPECT_EQ(BytesOf(partA->arrays[1].data), DistinctBytes(1.0f));
  EXPECT_EQ(partA->arrays[2].data.componentCount, 3);
  EXPECT_EQ(BytesOf(partA->arrays[2].data), DistinctBytes(2.0f));
  auto* sets = NodeAs<KivMox::NodeSets>(*out, 6, "NodeSets");
  ASSERT_NE(sets, nullptr);
  ASSERT_EQ(sets->sets.size(), 2u);
  EXPECT_EQ(sets->sets[0].name, "left");
  EXPECT_EQ(sets->sets[0].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 2}, {3, 4}}));
  EXPECT_EQ(sets->sets[1].name, "right");
  EXPECT_EQ(sets->sets[1].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{5, 0xFFFFFFFFu}}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 8)->arrays.at(0).data), DistinctBytes(4.0f));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 8)->arrays.at(1).data), DistinctBytes(5.0f));

  // Links follow the shifted identifiers of their own input (b's node 2 is now 8).
  ExpectLink(GeometryAt(*out, 5)->arrays.at(1), 4, 1, 1.0f);
  ExpectLink(GeometryAt(*out, 9)->arrays.at(0), 8, 1, 5.0f);

  // History: the first input's, then one record of the merge.
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
  EXPECT_EQ(merge.computerName + merge.userName + merge.callerText, "");
  EXPECT_EQ(out->fileVersion, "1.3");

  // View points: the first input's only.
  EXPECT_TRUE(out->views.present);
  EXPECT_EQ(out->views.groups, a->views.groups);
  EXPECT_EQ(out->views.current, a->views.current);
  auto reversed = Merge({"b.mox", "a.mox"});
  EXPECT_EQ(GroupNames(reversed->views), (Names{"B1"}));
  EXPECT_EQ(reversed->views.current.name, "b-now");
  EXPECT_EQ(ChildNames(*reversed, 1), (Names{"model-b", "model-a"}));
}

TEST_F(PlainMergeTest, TwoCopiesOfOneFileStandSideBySide) {
  auto out = Merge({"a.mox", "a.mox", "b.mox"});
  EXPECT_EQ(out->Size(), 1u + 5 + 5 + 3);
  EXPECT_EQ(Children(*out, 1), (std::vector<std::uint32_t>{2, 7, 12}));
  EXPECT_EQ(ChildNames(*out, 1), (Names{"model-a", "model-a", "model-b"}));
  // The second copy's link points into the second copy.
  ExpectLink(GeometryAt(*out, 10)->arrays.at(1), 9, 1, 1.0f);
  EXPECT_EQ(GeometryAt(*out, 14)->arrays.at(0).linkNode, 13u);
}

}  // namespace
