// The look-ups of a merge as instances, kept from input to input, answer as the scans they
// stand for: the first base geometry of a name, the first array of a name in a geometry.
#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "merge/base_index.hpp"
#include "support/model_builder.hpp"

namespace {

using namespace TestSupport;

TEST(BaseIndex, AnswersAsTheScans) {
  Model model("root");
  const std::uint32_t first = model.AddGeometry(1, "part", {FloatArray("s", {1})});
  model.AddGeometry(1, "part", {});
  model.tree.SetCurrentId(1);
  auto group = std::make_unique<KivMox::Group>();
  group->name = "group";
  const std::uint32_t groupId = model.tree.AppendChildNode(std::move(group));
  MoxMerge::BaseIndex index(model.tree);
  KivMox::Geometry probe;
  probe.name = "part";
  EXPECT_EQ(index.GeometryNamed("part"), model.tree.GetMatchingNodeId(&probe));
  EXPECT_EQ(index.GeometryNamed("part"), first);
  EXPECT_EQ(index.GeometryNamed("group"), std::nullopt) << groupId;
  EXPECT_EQ(index.GeometryNamed("none"), std::nullopt);

  // Arrays appended between look-ups are found; a name twice gives its first index.
  KivMox::Geometry& g = GeometryAt(model.tree, first);
  KivMox::Geometry copy = g;
  const auto both = [&](const std::string& name) {
    const std::uint32_t indexed = index.FindOrAddArray(first, g, name);
    EXPECT_EQ(indexed, copy.FindOrAddArray(name)) << name;
    return indexed;
  };
  EXPECT_EQ(both("s"), 0u);
  g.arrays.push_back(FloatArray("t", {2})), copy.arrays.push_back(FloatArray("t", {2}));
  g.arrays.push_back(FloatArray("s", {3})), copy.arrays.push_back(FloatArray("s", {3}));
  EXPECT_EQ(both("t"), 1u);
  EXPECT_EQ(both("s"), 0u);
  EXPECT_EQ(both("u"), 3u);  // appended
  EXPECT_EQ(both("u"), 3u);
  EXPECT_EQ(g.arrays.size(), 4u);
}

}  // namespace
