// The steps of the instance merge on trees in memory, for the cases the merges through
// the program (moxmerge_test.cpp) do not reach: the tag of a name, the instance of a
// linked array, links into geometry the base lacks, and matching by name that falls back
// to the identifier.
#include "merge/instance_tags.hpp"

#include <gtest/gtest.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

std::string LinkOf(const KivMox::GeometryArray& a) {
  return std::to_string(a.linked) + " " + std::to_string(a.linkNode) + ":" +
         std::to_string(a.linkIndex);
}

TEST(InstanceTagTest, TagsAndSuffixes) {
  for (const auto& [name, tag] :
       std::vector<std::pair<std::string, std::string>>{{"stress", ""},
                                                        {"stress" + kSep, ""},
                                                        {Tagged(Tagged("a", "b"), "c"), "c"},
                                                        {kSep + "x", "x"}})
    EXPECT_EQ(MoxMerge::InstanceTag(name), tag) << name;
  EXPECT_EQ(MoxMerge::FileSuffix(1, true), "F1");
  EXPECT_EQ(MoxMerge::FileSuffix(12, true), "F12");
  EXPECT_EQ(MoxMerge::FileSuffix(12, false), "");
  Model model("m");
  model.AddGeometry(1, "g", {FloatArray("s", {1}), FloatArray(Tagged(Tagged("a", "b"), "c"), {2})});
  MoxMerge::InstanceMap instances;
  instances[99]["old"] = {"entry"};
  MoxMerge::TagPlain(model.tree, 3, true, instances);
  EXPECT_EQ(ArrayNames(GeometryOf(model.tree, 2)),
            (Names{Tagged("s", "F3"), Tagged(Tagged("a", "b"), "F3c")}));
  ASSERT_EQ(instances.size(), 1u);  // made anew: one empty entry per geometry
  EXPECT_TRUE(instances.at(2).empty());
}

TEST(InstanceTagTest, AnInstanceOfALinkedArrayTakesItsLink) {
  Model model("m");
  KivMox::GeometryArray linked = LinkedArray("s", 3, 1);
  linked.kind = 7;
  model.AddGeometry(1, "g",
                    {linked, FloatArray(Tagged("v", "a"), {1}), FloatArray(Tagged("v", "b"), {2})});
  MoxMerge::InstanceMap instances;
  MoxMerge::TagPlain(model.tree, 1, false, instances);
  MoxMerge::LinkInstances(model.tree, instances);
  const auto& instance = GeometryOf(model.tree, 2)->arrays.at(3);
  EXPECT_EQ(instance.name, Tagged("s", "b"));
  EXPECT_EQ(instance.kind, 7u);
  EXPECT_EQ(LinkOf(instance), "1 3:1");
}

TEST(InstanceJoinTest, LinksIntoGeometryTheBaseLacksAndMatchingByName) {
  Model base("base"), further("further");
  base.AddGeometry(1, "g", {FloatArray("a", {1})});
  base.AddGeometry(1, "h", {FloatArray("b", {2})});
  further.AddGeometry(1, "g", {});
  further.AddGeometry(1, "h", {LinkedArray("elsewhere", 9, 4)});
  MoxMerge::JoinPlain(base.tree, further.tree);
  EXPECT_EQ(LinkOf(GeometryOf(base.tree, 3)->arrays.at(1)), "1 9:4");

  Model byName("base"), unknown("further");
  byName.AddGeometry(1, "g", {});
  byName.AddGeometry(1, "h", {});
  unknown.AddGeometry(1, "h", {FloatArray(Tagged("a", "t"), {1})});
  unknown.AddGeometry(1, "unknown", {FloatArray(Tagged("b", "t"), {2})});
  MoxMerge::JoinAutoRename(byName.tree, unknown.tree, true);
  EXPECT_EQ(ArrayNames(GeometryOf(byName.tree, 2)), Names{});
  EXPECT_EQ(ArrayNames(GeometryOf(byName.tree, 3)), (Names{Tagged("a", "t"), Tagged("b", "t")}));
}

}  // namespace
