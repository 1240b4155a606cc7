// The steps of the instance merge on trees in memory: the tag of a name, the two
// taggings, the instance links, and where the two joins put appended arrays and links.
#include "merge/instance_tags.hpp"

#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using MoxMerge::InstanceMap;

void ExpectLink(const KivMox::GeometryArray& a, int linked, std::uint32_t node,
                std::uint32_t index) {
  EXPECT_EQ(a.linked, linked) << a.name;
  EXPECT_EQ(a.linkNode, node) << a.name;
  EXPECT_EQ(a.linkIndex, index) << a.name;
}

TEST(InstanceTagTest, TagIsWhatFollowsTheLastSeparator) {
  EXPECT_EQ(MoxMerge::InstanceTag("stress"), "");
  EXPECT_EQ(MoxMerge::InstanceTag("stress" + kSep), "");
  EXPECT_EQ(MoxMerge::InstanceTag(Tagged("stress", "t")), "t");
  EXPECT_EQ(MoxMerge::InstanceTag(Tagged(Tagged("a", "b"), "c")), "c");
  EXPECT_EQ(MoxMerge::InstanceTag(kSep + "x"), "x");
  EXPECT_EQ(MoxMerge::FileSuffix(1, true), "F1");
  EXPECT_EQ(MoxMerge::FileSuffix(12, true), "F12");
  EXPECT_EQ(MoxMerge::FileSuffix(12, false), "");
}

TEST(InstanceTagTest, PlainTaggingPutsTheSuffixInFrontOfTheLastTag) {
  Model model("m");
  model.AddGeometry(1, "g",
                    {FloatArray("s", {1}), FloatArray(Tagged(Tagged("a", "b"), "c"), {2}),
                     FloatArray("e" + kSep, {3})});
  InstanceMap instances;
  instances[99]["old"] = {"entry"};
  MoxMerge::TagPlain(model.Tree(), 3, true, instances);
  EXPECT_EQ(ArrayNames(GeometryAt(model.Tree(), 2)),
            (Names{Tagged("s", "F3"), Tagged(Tagged("a", "b"), "F3c"), Tagged("e", "F3")}));
  // The map is made anew: one empty entry per geometry.
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_TRUE(instances.at(2).empty());
}

TEST(InstanceTagTest, PlainTaggingWithoutSuffixGivesUntaggedArraysTheSmallestTag) {
  Model model("m");
  model.AddGeometry(
      1, "g",
      {FloatArray("s", {1}), FloatArray(Tagged("v", "zz"), {2}), FloatArray(Tagged("v", "b"), {3}),
       FloatArray(Tagged("v", "a"), {4}), FloatArray("w", {5})});
  model.AddGeometry(1, "h", {FloatArray("only", {6})});
  InstanceMap instances;
  MoxMerge::TagPlain(model.Tree(), 2, false, instances);
  EXPECT_EQ(instances.at(2).at(Tagged("s", "a")), (Names{Tagged("s", "b"), Tagged("s", "zz")}));
  EXPECT_EQ(instances.at(2).at(Tagged("w", "a")), (Names{Tagged("w", "b"), Tagged("w", "zz")}));
  EXPECT_EQ(ArrayNames(GeometryAt(model.Tree(), 3)), (Names{"only" + kSep}));
  EXPECT_TRUE(instances.at(3).empty());

  MoxMerge::LinkInstances(model.Tree(), instances);
  KivMox::Geometry* g = GeometryAt(model.Tree(), 2);
  EXPECT_EQ(ArrayNames(g), (Names{Tagged("s", "a"), Tagged("v", "zz"), Tagged("v", "b"),
                                  Tagged("v", "a"), Tagged("w", "a"), Tagged("s", "b"),
                                  Tagged("s", "zz"), Tagged("w", "b"), Tagged("w", "zz")}));
  for (std::size_t i = 5; i < 9; ++i) ExpectLink(g->arrays[i], 1, 2, i < 7 ? 0u : 4u);
}

TEST(InstanceTagTest, AnInstanceOfALinkedArrayTakesItsLink) {
  Model model("m");
  KivMox::GeometryArray linked = LinkedArray("s", 3, 1);
  linked.kind = 7;
  model.AddGeometry(1, "g",
                    {linked, FloatArray(Tagged("v", "a"), {1}), FloatArray(Tagged("v", "b"), {2})});
  InstanceMap instances;
  MoxMerge::TagPlain(model.Tree(), 1, false, instances);
  MoxMerge::LinkInstances(model.Tree(), instances);
  const auto& instance = GeometryAt(model.Tree(), 2)->arrays.at(3);
  EXPECT_EQ(instance.name, Tagged("s", "b"));
  EXPECT_EQ(instance.kind, 7u);
  ExpectLink(instance, 1, 3, 1);
}

TEST(InstanceTagTest, AutoRenameTagsOnlyTaggedNames) {
  Model model("m");
  model.AddGeometry(
      1, "g",
      {FloatArray("s", {1}), FloatArray(Tagged("v", "t"), {2}), FloatArray("e" + kSep, {3})});
  InstanceMap instances;
  instances[5]["x"] = {"y"};
  MoxMerge::TagAutoRename(model.Tree(), 4, true, instances);
  EXPECT_EQ(ArrayNames(GeometryAt(model.Tree(), 2)), (Names{"s", Tagged("v", "F4t"), "e" + kSep}));
  EXPECT_TRUE(instances.empty());
}

TEST(InstanceJoinTest, PlainJoinShiftsLinksByTheirTargetsCountBeforeTheJoin) {
  Model base("base"), further("further");
  base.AddGeometry(1, "g", {FloatArray("a", {1})});
  base.AddGeometry(1, "h", {FloatArray("b", {2}), FloatArray("c", {3}), FloatArray("d", {4})});
  further.AddGeometry(1, "g",
                      {LinkedArray("toH", 3, 2), LinkedArray("toG", 2, 2), FloatArray("a", {5})});
  further.AddGeometry(1, "h", {FloatArray("b", {6}), LinkedArray("elsewhere", 9, 4)});
  MoxMerge::JoinPlain(base.Tree(), further.Tree());
  KivMox::Geometry* g = GeometryAt(base.Tree(), 2);
  KivMox::Geometry* h = GeometryAt(base.Tree(), 3);
  ASSERT_EQ(ArrayNames(g), (Names{"a", "toH", "toG", "a"}));
  ExpectLink(g->arrays[1], 1, 3, 2 + 3);
  ExpectLink(g->arrays[2], 1, 2, 2 + 1);
  ASSERT_EQ(ArrayNames(h), (Names{"b", "c", "d", "b", "elsewhere"}));
  // A link to a node the base has no geometry for is left as it was.
  EXPECT_EQ(h->arrays[4].linkIndex, 4u);

  // A geometry the base lacks fails the join.
  further.AddGeometry(1, "x", {FloatArray("b", {2})});
  EXPECT_EQ(TestSupport::CodeOf([&] { MoxMerge::JoinPlain(base.Tree(), further.Tree()); }), 5);
}

TEST(InstanceJoinTest, AutoRenameJoinMovesLinksWithTheirSources) {
  Model base("base"), further("further");
  base.AddGeometry(1, "g", {FloatArray(Tagged("a", "F1t"), {1})});
  base.AddGeometry(1, "h", {FloatArray(Tagged("b", "F1t"), {2}), FloatArray("c", {3})});
  // g: a tagged source, an untagged one and links to both and to h's tagged array.
  further.AddGeometry(1, "g",
                      {FloatArray("u", {4}), FloatArray(Tagged("a", "F2t"), {5}),
                       LinkedArray(Tagged("l", "F2t"), 2, 1), LinkedArray(Tagged("m", "F2t"), 2, 0),
                       LinkedArray(Tagged("n", "F2t"), 3, 1)});
  further.AddGeometry(1, "h", {FloatArray("x", {6}), FloatArray(Tagged("b", "F2t"), {7})});
  // The untagged source's values are what the dropped link held after loading.
  GeometryAt(further.Tree(), 2)->arrays[3].data = GeometryAt(further.Tree(), 2)->arrays[0].data;
  MoxMerge::JoinAutoRename(base.Tree(), further.Tree(), false);

  KivMox::Geometry* g = GeometryAt(base.Tree(), 2);
  ASSERT_EQ(ArrayNames(g), (Names{Tagged("a", "F1t"), Tagged("a", "F2t"), Tagged("l", "F2t"),
                                  Tagged("m", "F2t"), Tagged("n", "F2t")}));
  ASSERT_EQ(ArrayNames(GeometryAt(base.Tree(), 3)),
            (Names{Tagged("b", "F1t"), "c", Tagged("b", "F2t")}));
  ExpectLink(g->arrays[2], 1, 2, 1);
  ExpectLink(g->arrays[3], 0, 0, 0);
  EXPECT_EQ(BytesOf(g->arrays[3].data), BytesOfValues(std::vector<float>{4}));
  ExpectLink(g->arrays[4], 1, 3, 2);
}

TEST(InstanceJoinTest, AutoRenameJoinByNameFallsBackToTheIdentifier) {
  Model base("base"), further("further");
  base.AddGeometry(1, "g", {});
  base.AddGeometry(1, "h", {});
  further.AddGeometry(1, "h", {FloatArray(Tagged("a", "t"), {1})});
  further.AddGeometry(1, "unknown", {FloatArray(Tagged("b", "t"), {2})});
  MoxMerge::JoinAutoRename(base.Tree(), further.Tree(), true);
  EXPECT_EQ(ArrayNames(GeometryAt(base.Tree(), 2)), Names{});
  EXPECT_EQ(ArrayNames(GeometryAt(base.Tree(), 3)), (Names{Tagged("a", "t"), Tagged("b", "t")}));
}

}  // namespace
