// The sample model generator without running moxsample: the random source is the same
// on every platform, grids are sized to the requested amount of data from a few KiB to
// many GiB without any array passing the size limit, meshes cover their grid, and one
// seed always builds the same model.
#include "sample/sample_model.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "sample/sample_mesh.hpp"
#include "sample/sample_random.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/tree.hpp"

using namespace MoxSample;

namespace {

std::vector<std::uint32_t> Words(const KivMox::NumericArray& a) {
  std::vector<std::uint32_t> w(a.byteSize / 4);
  if (!w.empty()) std::memcpy(w.data(), a.Bytes(), a.byteSize);
  return w;
}

TEST(SampleRandom, EngineSequenceIsTheStandardOne) {
  // The standard fixes the 10000th output of a default-seeded mt19937_64.
  SampleRandom random(5489);
  std::uint64_t v = 0;
  for (int i = 0; i < 10000; ++i) v = random.Next();
  EXPECT_EQ(v, 9981545732273789042ull);
}

TEST(SampleRandom, DistributionsStayInRangeAndCoverIt) {
  SampleRandom random(3);
  double sum = 0;
  std::vector<int> counts(7, 0);
  for (int i = 0; i < 70000; ++i) {
    const double u = random.Unit();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    const auto b = random.Below(7);
    ASSERT_LT(b, 7u);
    ++counts[b];
    const auto w = random.Between(5, 6);
    ASSERT_TRUE(w == 5 || w == 6);
  }
  EXPECT_NEAR(sum / 70000, 0.5, 0.01);
  for (int c : counts) EXPECT_NEAR(c, 10000, 500);
  EXPECT_EQ(random.Below(1), 0u);
  EXPECT_LT(random.Below(UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(random.Between(9, 9), 9u);
}

TEST(PlanPartGrid, HoldsAboutTheRequestedBytesFromKilobytesToGigabytes) {
  std::uint32_t previousSteps = 0;
  for (double bytes = 4096; bytes <= 16.0 * (1ull << 30); bytes *= 1.7) {
    const PartGrid g = PlanPartGrid(bytes);
    const double got = static_cast<double>(g.HeavyBytes());
    EXPECT_GT(got, 0.8 * bytes) << bytes;
    EXPECT_LT(got, 1.2 * bytes) << bytes;
    EXPECT_LE(g.Nodes(), kMaxSampleNodes);
    EXPECT_GE(g.columns, 2u);
    EXPECT_GE(g.rows, 3u);
    EXPECT_GE(g.steps, 2u);
    EXPECT_GE(g.steps, previousSteps);
    previousSteps = g.steps;
    // The largest arrays: three floats per node, and the element lists.
    for (std::uint64_t arrayBytes : {12 * g.Nodes(), 16 * g.Quads(), 12 * g.Triangles()})
      EXPECT_LE(arrayBytes, kMaxSampleArrayBytes) << bytes;
  }
  EXPECT_GT(previousSteps, 100u) << "beyond the largest grid the steps grow";
}

TEST(PartFields, ElementsTileTheGridWithCornersInOrder) {
  PartGrid grid;
  grid.columns = 5;
  grid.rows = 6;
  SampleRandom random(1);
  const PartFields fields(grid, 10.0f, random);
  const auto quads = Words(fields.Quadrilaterals());
  const auto tris = Words(fields.Triangles());
  ASSERT_EQ(quads.size(), 4 * grid.Quads());
  ASSERT_EQ(tris.size(), 3 * grid.Triangles());
  EXPECT_EQ(grid.Quads(), 4u * 2u);
  EXPECT_EQ(grid.Triangles(), 2u * 4u * 3u);
  // The first quadrilateral is cell (0, 0), counter-clockwise.
  EXPECT_EQ(std::vector<std::uint32_t>(quads.begin(), quads.begin() + 4),
            (std::vector<std::uint32_t>{0, 1, 6, 5}));
  // The first triangles split cell (0, 2).
  EXPECT_EQ(std::vector<std::uint32_t>(tris.begin(), tris.begin() + 6),
            (std::vector<std::uint32_t>{10, 11, 16, 10, 16, 15}));
  std::set<std::uint32_t> used(quads.begin(), quads.end());
  used.insert(tris.begin(), tris.end());
  EXPECT_EQ(used.size(), grid.Nodes());
  EXPECT_EQ(*used.rbegin(), grid.Nodes() - 1);
  const auto coords = fields.Coordinates();
  EXPECT_EQ(coords.componentCount, 3);
  EXPECT_EQ(coords.byteSize, 12 * grid.Nodes());
  float x0 = 0;
  std::memcpy(&x0, coords.Bytes(), 4);
  EXPECT_EQ(x0, 10.0f) << "the first node lies at the part's origin";
}

KivMox::Geometry& GeometryOf(KivMox::Tree& tree, std::uint32_t id) {
  return *static_cast<KivMox::Geometry*>(tree.GetNode(id));
}

TEST(BuildSampleModel, OneSeedBuildsOneModel) {
  SampleOptions options;
  options.parts = 2;
  options.heavyMib = 0.05;
  options.seed = 1234;
  auto a = BuildSampleModel(options);
  auto b = BuildSampleModel(options);
  options.seed = 1235;
  auto c = BuildSampleModel(options);
  ASSERT_EQ(a->Size(), b->Size());
  ASSERT_EQ(a->Size(), c->Size());
  bool differs = false;
  for (const auto& [id, entry] : *a) {
    ASSERT_NE(entry.data, nullptr);
    ASSERT_EQ(entry.data->GetTypeName(), b->GetNode(id)->GetTypeName());
    if (entry.data->GetTypeName() != "Geometry") continue;
    const auto& ga = GeometryOf(*a, id).arrays;
    const auto& gb = GeometryOf(*b, id).arrays;
    const auto& gc = GeometryOf(*c, id).arrays;
    ASSERT_EQ(ga.size(), gb.size());
    for (std::size_t i = 0; i < ga.size(); ++i) {
      EXPECT_EQ(ga[i].name, gb[i].name);
      EXPECT_EQ(ga[i].attributes, gb[i].attributes);
      EXPECT_EQ(Words(ga[i].data), Words(gb[i].data)) << ga[i].name;
      if (i < gc.size() && Words(ga[i].data) != Words(gc[i].data)) differs = true;
    }
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(a->globalInfo, b->globalInfo);
  EXPECT_EQ(a->views.groups, b->views.groups);
  EXPECT_EQ(a->views.current, b->views.current);
}

TEST(BuildSampleModel, ASinglePartLinksToItsOwnCoordinates) {
  SampleOptions options;
  options.parts = 1;
  options.heavyMib = 0.01;
  options.viewPointGroups = 0;
  auto tree = BuildSampleModel(options);
  std::uint32_t geometryId = 0;
  for (const auto& [id, entry] : *tree)
    if (entry.data && entry.data->GetTypeName() == "Geometry") geometryId = id;
  ASSERT_NE(geometryId, 0u);
  const auto& arrays = GeometryOf(*tree, geometryId).arrays;
  ASSERT_EQ(arrays[3].linked, 1);
  EXPECT_EQ(arrays[3].linkNode, geometryId);
  EXPECT_EQ(arrays[3].data.Bytes(), arrays[0].data.Bytes());
  EXPECT_TRUE(tree->views.present);
  EXPECT_TRUE(tree->views.groups.empty());
  EXPECT_EQ(tree->views.actions.actions.size(), 6u);
}

}  // namespace
