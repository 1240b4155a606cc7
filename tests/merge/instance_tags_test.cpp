// The steps of the instance merge on trees in memory, for the cases the merges of files
// do not reach: the tag of a name, the instance of a linked array, links into geometry
// the base lacks, and matching by name that falls back to the identifier.
#include "merge/instance_tags.hpp"

#include <gtest/gtest.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

TEST(InstanceTagTest, TagsAndSuffixes) {
  for (const auto& [name, tag] :
       std::vector<std::pair<std::string, std::string>>{{"stress", ""},
                                                        {"stress" + kSep, ""},
                                                        {Tagged(Tagged("a", "b"), "c"), "c"},
                                                        {kSep + "x", "x"}})
    EXPECT_EQ(MoxMerge::InstanceTag(name), tag) << name;
  EXPECT_EQ(MoxMerge::FileSuffix(12, true) + MoxMerge::FileSuffix(12, false), "F12");
  Model model("m");
  model.AddGeometry(
      1, "g",
      {FloatArray("s", Distinct(1)), FloatArray(Tagged(Tagged("a", "b"), "c"), Distinct(2))});
  MoxMerge::InstanceMap instances;
  instances[99]["old"] = {"entry"};
  MoxMerge::TagPlain(model.tree, 3, true, instances);
  EXPECT_EQ(Arrays(model.tree), "2: s|F3@1 a|b|F3c@2\n");
  ASSERT_EQ(instances.size(), 1u);  // made anew: one empty entry per geometry
  EXPECT_TRUE(instances.at(2).empty());
}

TEST(InstanceTagTest, AnInstanceOfALinkedArrayTakesItsLink) {
  Model model("m");
  KivMox::GeometryArray linked = LinkedArray("s", 3, 1);
  linked.kind = 7;
  model.AddGeometry(1, "g",
                    {linked, FloatArray(Tagged("v", "a"), Distinct(1)),
                     FloatArray(Tagged("v", "b"), Distinct(2))});
  MoxMerge::InstanceMap instances;
  MoxMerge::TagPlain(model.tree, 1, false, instances);
  MoxMerge::LinkInstances(model.tree, instances);
  EXPECT_EQ(Arrays(model.tree), "2: s|a->3:1 v|a@1 v|b@2 s|b->3:1\n");
  EXPECT_EQ(GeometryOf(model.tree, 2)->arrays.at(3).kind, 7u);
}

TEST(InstanceJoinTest, LinksIntoGeometryTheBaseLacksAndMatchingByName) {
  Model base("base"), further("further");
  base.AddGeometry(1, "g", {FloatArray("a", Distinct(1))});
  base.AddGeometry(1, "h", {FloatArray("b", Distinct(2))});
  further.AddGeometry(1, "g", {});
  further.AddGeometry(1, "h", {LinkedArray("elsewhere", 9, 4)});
  MoxMerge::JoinPlain(base.tree, further.tree);
  EXPECT_EQ(Arrays(base.tree), "2: a@1\n3: b@2 elsewhere->9:4\n");

  Model byName("base"), unknown("further");
  byName.AddGeometry(1, "g", {});
  byName.AddGeometry(1, "h", {});
  unknown.AddGeometry(1, "h", {FloatArray(Tagged("a", "t"), Distinct(1))});
  unknown.AddGeometry(1, "unknown", {FloatArray(Tagged("b", "t"), Distinct(2))});
  MoxMerge::JoinAutoRename(byName.tree, unknown.tree, true);
  EXPECT_EQ(Arrays(byName.tree), "2:\n3: a|t@1 b|t@2\n");
}

}  // namespace
