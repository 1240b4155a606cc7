// The merge as instances through the built program: the array names that each
// combination of options gives, the instance links of untagged arrays, the geometry
// matching (by identifier, or by part name), links of appended arrays that must still
// reach the array they linked to in their own input, and values carried exactly.
#include <gtest/gtest.h>

#include <functional>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;
using Arrays = std::vector<KivMox::GeometryArray>;
using ArraysOf = std::function<Arrays(int k)>;  // the arrays of input k (1-based)

// Seeds that tell apart the arrays of every input: array a of input k.
float Seed(int k, int a) {
  return float(10 * k + a);
}
Bytes Values(int k, int a) {
  return DistinctBytes(Seed(k, a));
}

// Every name tagged with every tag, tag after tag.
Names Series(const Names& names, const Names& tags) {
  Names all;
  for (const auto& tag : tags)
    for (const auto& name : names) all.push_back(Tagged(name, tag));
  return all;
}
const Names kThree = {"", "", ""};
const Names kF123 = {"F1", "F2", "F3"};

class MergeAsInstancesTest : public ::testing::Test {
 public:
  // in1.mox ... inN.mox: group "model" (1) holding geometry "partA" (2) and "partB" (3).
  Names WriteInputs(int count, const ArraysOf& partA, const ArraysOf& partB) {
    Names paths;
    for (int k = 1; k <= count; ++k) {
      Model model("model", "Builder", std::to_string(k));
      model.AddGeometry(1, "partA", partA(k));
      model.AddGeometry(1, "partB", partB(k));
      if (k == 1) model.SetViews("base-now", {"Base"}, 7);
      paths.push_back(dir.File("in" + std::to_string(k) + ".mox"));
      model.Save(paths.back());
    }
    return paths;
  }
  std::unique_ptr<KivMox::Tree> Merge(const Names& inputs, const Names& options) {
    Names args = {"--merge-as-instances"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back(dir.File("out.mox"));
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ErrorsOf(run), "");
    return run.status == 0 ? LoadTree(dir.File("out.mox")) : nullptr;
  }
  TempDir dir;
  TempDir logs;
};

Arrays Stress(int k) {
  return {FloatArray("stress", Distinct(Seed(k, 1)))};
}
Arrays Temp(int k) {
  return {FloatArray("temp", Distinct(Seed(k, 2)))};
}
Arrays StressAndTagged(int k) {
  return {FloatArray("stress", Distinct(Seed(k, 1))),
          FloatArray(Tagged("s", "t"), Distinct(Seed(k, 3)))};
}
KivMox::GeometryArray Tag(const std::string& name, const std::string& tag, float seed) {
  return FloatArray(Tagged(name, tag), Distinct(seed));
}
Arrays ThreeArrays(int k) {
  return {FloatArray("a", Distinct(Seed(k, 1))), FloatArray("b", Distinct(Seed(k, 2))),
          FloatArray("c", Distinct(Seed(k, 3)))};
}

struct Value {
  std::uint32_t node, index;
  Bytes bytes;
};
struct Link {
  std::uint32_t node, index;
  int linked;
  std::uint32_t linkNode, linkIndex;
};
struct Case {
  std::string what;
  int count;  // inputs in1.mox ... of partA and partB, or 0 for base.mox and later<n>.mox
  ArraysOf partA, partB;
  Names options;
  Names namesA, namesB;  // the array names of geometry 2 and 3
  std::vector<Value> values;
  std::vector<Link> links;
};

TEST_F(MergeAsInstancesTest, OptionsTagsJoinsAndLinks) {
  // base.mox: partA (2), partB (3); later1.mox: only partB, as its node 2; later2.mox:
  // partB (2) linking to partA (3), the other order.
  Model base("model");
  base.AddGeometry(1, "partA", {Tag("a", "t", 1), Tag("b", "t", 2)});
  base.AddGeometry(1, "partB", {Tag("a", "t", 3)});
  base.Save(dir.File("base.mox"));
  Model later1("other-model");
  later1.AddGeometry(1, "partB", {Tag("a", "t", 4), FloatArray("plain", Distinct(5))});
  later1.Save(dir.File("later1.mox"));
  Model later2("other-model");
  later2.AddGeometry(1, "partB", {LinkedArray(Tagged("l", "t"), 3, 1)});
  later2.AddGeometry(1, "partA", {Tag("a", "t", 6), Tag("b", "t", 7)});
  later2.Save(dir.File("later2.mox"));

  const std::string suffix = "--suffix-file-instance", rename = "--auto-rename-instances",
                    match = "--match-part-names";
  const ArraysOf vTags = [](int k) -> Arrays {
    return {FloatArray("stress", Distinct(Seed(k, 1))), Tag("v", "b", Seed(k, 2)),
            Tag("v", "a", Seed(k, 3))};
  };
  const ArraysOf linkToC = [](int k) -> Arrays {
    return {FloatArray("d", Distinct(Seed(k, 4))), LinkedArray("l", 2, 2)};
  };
  const ArraysOf taggedAndUntagged = [](int k) -> Arrays {
    return {Tag("a", "t", Seed(k, 1)), FloatArray("u", Distinct(Seed(k, 2)))};
  };
  const ArraysOf linksToBoth = [](int) -> Arrays {
    return {LinkedArray(Tagged("l", "t"), 2, 0), LinkedArray(Tagged("m", "t"), 2, 1)};
  };
  // clang-format off
  const Case cases[] = {
      {"without flags every array gets an empty tag", 3, Stress, Temp, {},
       Series({"stress"}, kThree), Series({"temp"}, kThree),
       {{2, 0, Values(1, 1)}, {2, 1, Values(2, 1)}, {2, 2, Values(3, 1)}, {3, 2, Values(3, 2)}},
       {}},
      {"the suffix tags every array with its input", 3, Stress, Temp, {suffix},
       Series({"stress"}, kF123), Series({"temp"}, kF123),
       {{2, 0, Values(1, 1)}, {2, 1, Values(2, 1)}, {2, 2, Values(3, 1)}}, {}},
      {"auto-rename takes only tagged arrays of later inputs", 3, StressAndTagged, Temp, {rename},
       {"stress", Tagged("s", "F1t"), Tagged("s", "F2t"), Tagged("s", "F3t")}, {"temp"},
       {{2, 0, Values(1, 1)}, {2, 1, Values(1, 3)}, {2, 2, Values(2, 3)}, {2, 3, Values(3, 3)}},
       {}},
      {"the suffix wins over auto-rename", 2, StressAndTagged, Temp, {rename, suffix},
       {Tagged("stress", "F1"), Tagged("s", "F1t"), Tagged("stress", "F2"), Tagged("s", "F2t")},
       Series({"temp"}, {"F1", "F2"}), {{2, 2, Values(2, 1)}, {2, 3, Values(2, 3)}}, {}},
      {"untagged arrays become instances linked to the smallest tag", 2, vTags, Temp, {},
       {Tagged("stress", "a"), Tagged("v", "b"), Tagged("v", "a"), Tagged("stress", "b"),
        Tagged("stress", "a"), Tagged("v", "b"), Tagged("v", "a")},
       Series({"temp"}, {"", ""}),
       {{2, 3, Values(1, 1)}, {2, 4, Values(2, 1)}, {2, 6, Values(2, 3)}},
       {{2, 3, 1, 2, 0}}},
      {"a plain join shifts links by the target geometry's array count", 3, ThreeArrays, linkToC,
       {}, Series({"a", "b", "c"}, kThree), Series({"d", "l"}, kThree),
       {{3, 0, Values(1, 4)}, {3, 1, Values(1, 3)}, {3, 2, Values(2, 4)}, {3, 3, Values(2, 3)},
        {3, 4, Values(3, 4)}, {3, 5, Values(3, 3)}},
       {{3, 1, 1, 2, 2}, {3, 3, 1, 2, 5}, {3, 5, 1, 2, 8}}},
      {"an auto-rename join follows links to tagged arrays and drops the others", 3,
       taggedAndUntagged, linksToBoth, {rename},
       {Tagged("a", "F1t"), "u", Tagged("a", "F2t"), Tagged("a", "F3t")},
       Series({"l", "m"}, {"F1t", "F2t", "F3t"}),
       {{3, 0, Values(1, 1)}, {3, 1, Values(1, 2)}, {3, 2, Values(2, 1)}, {3, 3, Values(2, 2)},
        {3, 4, Values(3, 1)}, {3, 5, Values(3, 2)}},
       {{3, 0, 1, 2, 0}, {3, 1, 1, 2, 1}, {3, 2, 1, 2, 2}, {3, 3, 0, 0, 0}, {3, 4, 1, 2, 3},
        {3, 5, 0, 0, 0}}},
      {"later geometry joins the base geometry of its name", -1, {}, {}, {rename, match},
       Series({"a", "b"}, {"F1t"}), {Tagged("a", "F1t"), Tagged("a", "F2t")},
       {{3, 1, DistinctBytes(4)}}, {}},
      {"without matching by name geometry is matched by identifier", -1, {}, {}, {rename},
       {Tagged("a", "F1t"), Tagged("b", "F1t"), Tagged("a", "F2t")}, {Tagged("a", "F1t")},
       {{2, 2, DistinctBytes(4)}}, {}},
      {"links follow arrays into geometry matched by name", -2, {}, {}, {rename, match},
       Series({"a", "b"}, {"F1t", "F2t"}), {Tagged("a", "F1t"), Tagged("l", "F2t")},
       {{3, 1, DistinctBytes(7)}}, {{3, 1, 1, 2, 3}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Names inputs = c.count > 0 ? WriteInputs(c.count, c.partA, c.partB)
                                     : Names{dir.File("base.mox"),
                                             dir.File("later" + std::to_string(-c.count) + ".mox")};
    auto out = Merge(inputs, c.options);
    ASSERT_TRUE(out);
    EXPECT_EQ(ArrayNames(GeometryOf(*out, 2)), c.namesA);
    ASSERT_EQ(ArrayNames(GeometryOf(*out, 3)), c.namesB);
    for (const Value& v : c.values)
      EXPECT_EQ(BytesOf(GeometryOf(*out, v.node)->arrays.at(v.index).data), v.bytes)
          << v.node << "/" << v.index;
    for (const Link& l : c.links) {
      const auto& array = GeometryOf(*out, l.node)->arrays.at(l.index);
      EXPECT_EQ(array.linked, l.linked) << l.node << "/" << l.index;
      EXPECT_EQ(array.linkNode, l.linkNode) << l.node << "/" << l.index;
      EXPECT_EQ(array.linkIndex, l.linkIndex) << l.node << "/" << l.index;
    }
  }
}

TEST_F(MergeAsInstancesTest, BaseHistoryAndViewPointsStayWithOneRecordOfTheMerge) {
  Names inputs = WriteInputs(2, Stress, Temp);
  auto out = Merge(inputs, {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  auto base = LoadTree(inputs[0]);
  ASSERT_EQ(out->globalInfo.size(), base->globalInfo.size() + 1);
  EXPECT_EQ(out->globalInfo.front(), base->globalInfo.front());
  EXPECT_EQ(out->globalInfo.front().applicationVersion, "1");
  // The instance merge's tree is made without a program name or version.
  EXPECT_EQ(out->globalInfo.back().applicationName, "");
  EXPECT_EQ(out->globalInfo.back().applicationVersion, "");
  EXPECT_EQ(out->globalInfo.back().formatVersion, "1.3");
  EXPECT_EQ(GroupNames(out->views), (Names{"Base"}));
  EXPECT_EQ(out->views.current.name, "base-now");
  EXPECT_EQ(out->GetNode(1)->name, "model");
  EXPECT_EQ(out->Size(), 3u);

  // A geometry the base lacks fails the merge, whatever the options.
  Model extra("model");
  extra.AddGeometry(1, "partA", Stress(2));
  extra.AddGeometry(1, "partB", {Tag("temp", "x", 5)});
  extra.AddGeometry(1, "partC", {Tag("other", "x", 6)});
  extra.Save(dir.File("extra.mox"));
  for (const Names& options :
       std::vector<Names>{{}, {"--suffix-file-instance"}, {"--auto-rename-instances"}}) {
    Names args = {"--merge-as-instances", inputs[0], dir.File("extra.mox"), dir.File("bad.mox")};
    args.insert(args.end(), options.begin(), options.end());
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(options);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_TRUE(Has(run.err, "GetReqNode")) << run.err;
    EXPECT_FALSE(TestSupport::FileExists(dir.File("bad.mox")));
  }
}

// Five geometries per input, their arrays in one block of each input: the writer takes
// runs from the inputs in turn (geometry by geometry), so each input block is needed
// again and again while the pass lasts; it must stay loaded rather than be read anew.
TEST_F(MergeAsInstancesTest, InputsReadInTurnKeepTheirBlocksForThePass) {
  auto field = [](int k, int p) {
    std::vector<float> values(3000);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = float(k * 100000 + p * 1000) + i;
    return values;
  };
  Names paths;
  for (int k = 1; k <= 3; ++k) {
    Model model("model", "Builder", std::to_string(k));
    for (int p = 0; p < 5; ++p)
      model.AddGeometry(1, "part" + std::to_string(p),
                        {FloatArray("field", field(k, p)), IntArray("cells", {k, p, 1, 2, 3, 4})});
    paths.push_back(dir.File("in" + std::to_string(k) + ".mox"));
    model.Save(paths.back());
  }
  auto out = Merge(paths, {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  for (int p = 0; p < 5; ++p) {
    KivMox::Geometry* part = GeometryOf(*out, 2 + p);
    ASSERT_EQ(ArrayNames(part), Series({"field", "cells"}, kF123)) << p;
    for (int k = 1; k <= 3; ++k) {
      EXPECT_EQ(BytesOf(part->arrays[2 * (k - 1)].data), BytesOfValues(field(k, p))) << p << k;
      EXPECT_EQ(BytesOf(part->arrays[2 * (k - 1) + 1].data),
                BytesOfValues(std::vector<std::int32_t>{k, p, 1, 2, 3, 4}))
          << p << k;
    }
  }
}

}  // namespace
