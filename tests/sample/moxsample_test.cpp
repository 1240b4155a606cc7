// moxsample end to end: the built program writes a file that the loader reads back with
// the structure the generator promises, one seed always gives the same file (but for the
// record the save adds to the history), and the amount of array data follows
// --heavy-mib.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/tool_files.hpp"

using namespace KivMox;
using TestSupport::RunProgram;
using TestSupport::TempDir;
using ToolFiles::Children;
using ToolFiles::NodeAs;

namespace {

const std::string kRS(1, '\x1E');

// Mean step between neighbouring values of a scalar field, relative to its range: small
// for a smooth field, about 1/3 for noise.
double RoughnessOf(const std::vector<float>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  double steps = 0;
  for (std::size_t i = 1; i < v.size(); ++i) steps += std::fabs(v[i] - v[i - 1]);
  return steps / static_cast<double>(v.size() - 1) / (*hi - *lo);
}

TEST(MoxSample, HelpGoesToStdoutAndExitsZero) {
  const auto r = RunProgram("moxsample", {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: moxsample OUT.mox"), std::string::npos);
  EXPECT_TRUE(r.err.empty());
}

TEST(MoxSample, BadArgumentsPrintUsageOnStderrAndExitOne) {
  TempDir dir;
  const std::string out = dir.File("x.mox");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {out, "--parts", "0"},
      {out, "--parts", "three"},
      {out, "--parts", "10001"},
      {out, "--heavy-mib", "0"},
      {out, "--heavy-mib", "-1"},
      {out, "--heavy-mib", "1e3"},
      {out, "--heavy-mib", "nan"},
      {out, "--seed", "18446744073709551616"},
      {out, "--seed"},
      {out, "--view-points", "-2"},
      {out, "--colour", "red"},
      {out, dir.File("second.mox")},
  };
  for (const auto& args : cases) {
    const auto r = RunProgram("moxsample", args);
    EXPECT_EQ(r.status, 1) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("Usage: moxsample"), std::string::npos) << testing::PrintToString(args);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_FALSE(TestSupport::FileExists(out));
}

TEST(MoxSample, OptionValuesMayFollowAnEqualsSign) {
  TempDir dir;
  ToolFiles::Sample(dir.File("s.mox"), {"--parts=2", "--heavy-mib=0.02", "--view-points=1"});
  auto tree = ToolFiles::LoadTree(dir.File("s.mox"));
  EXPECT_EQ(ToolFiles::IdsOfType(*tree, "Geometry").size(), 2u);
  EXPECT_EQ(tree->views.groups.size(), 1u);
}

TEST(MoxSample, UnwritableOutputExitsTwoWithTheErrorText) {
  TempDir dir;
  const auto r = RunProgram("moxsample", {dir.File("missing/s.mox"), "--heavy-mib", "0.01"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unable to open file"), std::string::npos) << r.err;
}

class SampleFile : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    ToolFiles::Sample(dir_->File("s.mox"),
                      {"--parts", "4", "--view-points", "3", "--seed", "7", "--heavy-mib", "0.3"});
    tree_ = ToolFiles::LoadTree(dir_->File("s.mox")).release();
  }
  static void TearDownTestSuite() {
    delete tree_;
    delete dir_;
  }
  static const Tree& T() { return *tree_; }
  static TempDir* dir_;
  static Tree* tree_;
};
TempDir* SampleFile::dir_ = nullptr;
Tree* SampleFile::tree_ = nullptr;

TEST_F(SampleFile, RootGroupCarriesAttributesOfEveryType) {
  const auto* root = NodeAs<Group>(T(), 1, "Group");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name, "Sample Model");
  std::set<AttributeType> types;
  for (const auto& [name, attribute] : root->attributes) types.insert(attribute.type);
  EXPECT_EQ(types.size(), 4u);
  EXPECT_EQ(root->attributes.at("Part Count").int32, 4);
  EXPECT_EQ(root->attributes.at("Seed").value64, 7u);
}

TEST_F(SampleFile, PartsHoldAShapeAndAGeometryAndTheNodeSetsComeLast) {
  const auto top = Children(T(), 1);
  ASSERT_EQ(top.size(), 5u);
  std::set<std::array<float, 4>> colours;
  for (std::size_t p = 0; p < 4; ++p) {
    const auto* group = NodeAs<Group>(T(), top[p], "Group");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->name, "Part " + std::to_string(p + 1));
    const auto kids = Children(T(), top[p]);
    ASSERT_EQ(kids.size(), 2u);
    const auto* shape = NodeAs<Shape>(T(), kids[0], "Shape");
    ASSERT_NE(shape, nullptr);
    colours.insert(shape->material.colorA);
    ASSERT_NE(NodeAs<Geometry>(T(), kids[1], "Geometry"), nullptr);
    EXPECT_EQ(T().GetReqNode(kids[1]).parentId, top[p]);
  }
  EXPECT_EQ(colours.size(), 4u) << "material colours are drawn per part";
  EXPECT_NE(NodeAs<NodeSets>(T(), top[4], "NodeSets"), nullptr);
}

TEST_F(SampleFile, ConnectivityArraysHoldElementCornersOfTheirGrid) {
  for (std::uint32_t id : ToolFiles::IdsOfType(T(), "Geometry")) {
    const auto& arrays = NodeAs<Geometry>(T(), id, "Geometry")->arrays;
    ASSERT_GE(arrays.size(), 7u);
    const std::uint64_t nodes = arrays[0].data.byteSize / 12;
    ASSERT_EQ(arrays[0].name, "Coordinates");
    ASSERT_EQ(arrays[0].data.componentCount, 3);
    EXPECT_EQ(arrays[1].kind, 5u);
    EXPECT_EQ(arrays[1].data.componentCount, 4);
    EXPECT_EQ(arrays[2].kind, 4u);
    EXPECT_EQ(arrays[2].data.componentCount, 3);
    std::set<std::uint32_t> used;
    for (int a : {1, 2}) {
      const auto words = ToolFiles::Words(arrays[a]);
      ASSERT_FALSE(words.empty());
      const std::size_t c = arrays[a].data.componentCount;
      ASSERT_EQ(words.size() % c, 0u);
      for (std::size_t e = 0; e < words.size(); e += c) {
        std::set<std::uint32_t> corners(words.begin() + e, words.begin() + e + c);
        EXPECT_EQ(corners.size(), c) << "an element repeats a corner";
        for (std::uint32_t n : corners) EXPECT_LT(n, nodes);
        used.insert(corners.begin(), corners.end());
      }
    }
    EXPECT_EQ(used.size(), nodes) << "every node belongs to an element";
  }
}

TEST_F(SampleFile, ResultArraysAreSmoothFieldsNamedWithATag) {
  std::size_t stressArrays = 0;
  for (std::uint32_t id : ToolFiles::IdsOfType(T(), "Geometry")) {
    for (const auto& a : NodeAs<Geometry>(T(), id, "Geometry")->arrays) {
      if (a.name.rfind("Stress" + kRS + "Step ", 0) != 0) continue;
      ++stressArrays;
      EXPECT_EQ(a.kind, 1u);
      EXPECT_EQ(a.data.componentCount, 1);
      const auto v = ToolFiles::Floats(a);
      ASSERT_GT(v.size(), 16u);
      const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
      EXPECT_GT(*hi - *lo, 1.0f) << "a constant field";
      EXPECT_LT(RoughnessOf(v), 0.1) << a.name;
      EXPECT_EQ(a.attributes.at("Unit").text, std::string("MPa"));
    }
  }
  EXPECT_GE(stressArrays, 8u);
}

TEST_F(SampleFile, ModeShapeIsMarkedAsVibration) {
  for (std::uint32_t id : ToolFiles::IdsOfType(T(), "Geometry")) {
    std::size_t vibration = 0;
    for (const auto& a : NodeAs<Geometry>(T(), id, "Geometry")->arrays) {
      if (!a.vibration) continue;
      ++vibration;
      EXPECT_EQ(a.name, "Mode Shape" + kRS + "Mode 1");
      EXPECT_EQ(a.attributes.at("Category").text, std::string("Vibration"));
    }
    EXPECT_EQ(vibration, 1u);
  }
}

TEST_F(SampleFile, LinkedArraysShareTheDataOfTheFirstPartsCoordinates) {
  const auto ids = ToolFiles::IdsOfType(T(), "Geometry");
  const auto& base = NodeAs<Geometry>(T(), ids[0], "Geometry")->arrays[0];
  ASSERT_TRUE(base.data.HasBytes());
  for (std::uint32_t id : ids) {
    const auto& arrays = NodeAs<Geometry>(T(), id, "Geometry")->arrays;
    const auto linked = std::count_if(arrays.begin(), arrays.end(),
                                      [](const GeometryArray& a) { return a.linked != 0; });
    EXPECT_EQ(linked, 1);
    const GeometryArray& link = arrays[3];
    ASSERT_EQ(link.linked, 1);
    EXPECT_EQ(link.linkNode, ids[0]);
    EXPECT_EQ(link.linkIndex, 0u);
    EXPECT_EQ(link.data.Bytes(), base.data.Bytes()) << "the buffer is shared, not copied";
    EXPECT_EQ(link.data.byteSize, base.data.byteSize);
  }
}

TEST_F(SampleFile, NodeSetsNameNodesOfTheGeometry) {
  const auto sets = ToolFiles::IdsOfType(T(), "NodeSets");
  ASSERT_EQ(sets.size(), 1u);
  const auto* node = NodeAs<NodeSets>(T(), sets[0], "NodeSets");
  ASSERT_EQ(node->sets.size(), 3u);
  EXPECT_EQ(node->sets[0].name, "Fixed Edge");
  EXPECT_EQ(node->sets[1].name, "Load Patch");
  EXPECT_EQ(node->sets[2].name, "Sensors");
  for (const auto& set : node->sets) {
    EXPECT_FALSE(set.members.empty());
    for (const auto& [geometryId, nodeIndex] : set.members) {
      const auto* g = NodeAs<Geometry>(T(), geometryId, "Geometry");
      ASSERT_NE(g, nullptr);
      EXPECT_LT(nodeIndex, g->arrays[0].data.byteSize / 12);
    }
  }
}

TEST_F(SampleFile, ViewPointsHoldTheGroupsAndEveryActionKind) {
  const ViewPoints& v = T().views;
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.current.name, "Home");
  ASSERT_EQ(v.groups.size(), 3u);
  EXPECT_EQ(v.groups[0].name, "Overview");
  for (const auto& g : v.groups) {
    EXPECT_GE(g.entries.size(), 2u);
    EXPECT_LE(g.entries.size(), 4u);
    for (const auto& e : g.entries) EXPECT_EQ(e.viewPoint.Version(), "0.5");
  }
  std::set<std::uint16_t> codes;
  for (const auto& a : v.actions.actions) codes.insert(a->GetTypeCode());
  EXPECT_EQ(codes, (std::set<std::uint16_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(v.actions.entries.size(), 3u);
  EXPECT_EQ(v.actions.keyedTriples.at("Tour").size(), 3u);
}

TEST_F(SampleFile, HistoryHoldsEarlierSavesAndThisOne) {
  const auto& h = T().globalInfo;
  ASSERT_GE(h.size(), 2u);
  ASSERT_LE(h.size(), 3u);
  EXPECT_EQ(h.front().applicationName, "ModelPrep");
  EXPECT_EQ(h.front().formatVersion, "1.2");
  EXPECT_EQ(h.back().applicationName, "MoxSample");
  EXPECT_EQ(h.back().applicationVersion, "2017 R1");
  EXPECT_EQ(h.back().formatVersion, "1.3");
  EXPECT_FALSE(h.back().saveTime.empty());
}

struct TableRow {
  KivRkf::BlockInfo info;
  std::vector<std::uint8_t> stored;
};

std::vector<TableRow> StoredBlocks(const std::string& path) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  const auto bytes = TestSupport::ReadFileBytes(path);
  std::vector<TableRow> rows;
  for (const auto& info : file.GetIndex().Blocks()) {
    EXPECT_LE(info.offset + info.storedSize, bytes.size());
    rows.push_back(
        {info, std::vector<std::uint8_t>(bytes.begin() + info.offset,
                                         bytes.begin() + info.offset + info.storedSize)});
  }
  return rows;
}

TEST(MoxSample, SameSeedGivesTheSameFileButForTheNewHistoryRecord) {
  TempDir dir;
  const std::vector<std::string> options = {"--seed", "99", "--heavy-mib", "0.5", "--parts", "2"};
  ToolFiles::Sample(dir.File("a.mox"), options);
  sleep(1);  // a different save time in the second file
  ToolFiles::Sample(dir.File("b.mox"), options);
  const auto a = StoredBlocks(dir.File("a.mox"));
  const auto b = StoredBlocks(dir.File("b.mox"));
  ASSERT_EQ(a.size(), b.size());
  std::size_t compared = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].info.name, b[i].info.name);
    EXPECT_EQ(a[i].info.flags, b[i].info.flags);
    if (a[i].info.name == "Global Information") continue;
    EXPECT_EQ(a[i].stored, b[i].stored) << "block " << i << " " << a[i].info.name;
    compared += a[i].stored.size();
  }
  EXPECT_GT(compared, 100000u);
  // The history differs in the time of the last save at most.
  auto ta = ToolFiles::LoadTree(dir.File("a.mox"));
  auto tb = ToolFiles::LoadTree(dir.File("b.mox"));
  ASSERT_EQ(ta->globalInfo.size(), tb->globalInfo.size());
  tb->globalInfo.back().saveTime = ta->globalInfo.back().saveTime;
  EXPECT_EQ(ta->globalInfo, tb->globalInfo);
}

TEST(MoxSample, DifferentSeedsGiveDifferentModels) {
  TempDir dir;
  ToolFiles::Sample(dir.File("a.mox"), {"--seed", "1", "--heavy-mib", "0.05"});
  ToolFiles::Sample(dir.File("b.mox"), {"--seed", "2", "--heavy-mib", "0.05"});
  auto ta = ToolFiles::LoadTree(dir.File("a.mox"));
  auto tb = ToolFiles::LoadTree(dir.File("b.mox"));
  const auto shapesA = ToolFiles::IdsOfType(*ta, "Shape");
  ASSERT_EQ(shapesA, ToolFiles::IdsOfType(*tb, "Shape"));
  EXPECT_NE(NodeAs<Shape>(*ta, shapesA[0], "Shape")->material.colorA,
            NodeAs<Shape>(*tb, shapesA[0], "Shape")->material.colorA);
  const auto g = ToolFiles::IdsOfType(*ta, "Geometry")[0];
  EXPECT_NE(ToolFiles::Floats(NodeAs<Geometry>(*ta, g, "Geometry")->arrays[5]),
            ToolFiles::Floats(NodeAs<Geometry>(*tb, g, "Geometry")->arrays[5]));
}

TEST(MoxSample, HeavyMibSetsTheAmountOfArrayData) {
  TempDir dir;
  for (const char* mib : {"0.01", "0.25", "3"}) {
    for (const char* parts : {"1", "5"}) {
      const std::string path = dir.File(std::string("h") + mib + "-" + parts + ".mox");
      ToolFiles::Sample(path, {"--heavy-mib", mib, "--parts", parts});
      auto tree = ToolFiles::LoadTree(path);
      const double wanted = std::stod(mib) * 1048576.0;
      const double got = static_cast<double>(ToolFiles::HeavyBytes(*tree));
      EXPECT_GT(got, 0.8 * wanted) << mib << " MiB over " << parts;
      EXPECT_LT(got, 1.2 * wanted) << mib << " MiB over " << parts;
    }
  }
}

}  // namespace
