// The merge as instances through the built program: the array names that each
// combination of options gives, the instance links of untagged arrays, the geometry
// matching (by identifier, or by part name), and links of appended arrays that must
// still reach the array they linked to in their own input.
#include <gtest/gtest.h>

#include <functional>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::TempDir;

// Builds the geometry arrays of input k (1-based) of one test.
using ArraysOf = std::function<std::vector<KivMox::GeometryArray>(int k)>;

class MergeAsInstancesTest : public ::testing::Test {
 protected:
  // Inputs in1.mox ... inN.mox of the same shape: group "model" (1) holding geometry
  // "partA" (2) and geometry "partB" (3).
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

  // Runs the instance merge of inputs with the options; the output when it succeeded.
  std::unique_ptr<KivMox::Tree> Merge(const Names& inputs, const Names& options) {
    Names args = {"--merge-as-instances"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back(dir.File("out.mox"));
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ErrorsOf(run), "");
    if (run.status != 0) return nullptr;
    return LoadMox(dir.File("out.mox"));
  }

  TempDir dir;
  TempDir logs;
};

// Seeds that tell apart the arrays of every input: array a of input k.
float Seed(int k, int a) {
  return float(10 * k + a);
}

std::vector<KivMox::GeometryArray> Stress(int k) {
  return {FloatArray("stress", Distinct(Seed(k, 1)))};
}

std::vector<KivMox::GeometryArray> Temp(int k) {
  return {FloatArray("temp", Distinct(Seed(k, 2)))};
}

// An untagged and a tagged array.
std::vector<KivMox::GeometryArray> StressAndTagged(int k) {
  return {FloatArray("stress", Distinct(Seed(k, 1))),
          FloatArray(Tagged("s", "t"), Distinct(Seed(k, 3)))};
}

TEST_F(MergeAsInstancesTest, WithoutFlagsEveryArrayGetsAnEmptyTagAndKeepsItsValues) {
  auto out = Merge(WriteInputs(3, Stress, Temp), {});
  ASSERT_TRUE(out);
  const std::string stress = "stress" + kSep;
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  ASSERT_NE(partA, nullptr);
  EXPECT_EQ(ArrayNames(*partA), (Names{stress, stress, stress}));
  for (int k = 1; k <= 3; ++k)
    EXPECT_EQ(BytesOf(partA->arrays[k - 1].data), BytesOfValues(Distinct(Seed(k, 1)))) << k;
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 3)), (Names{"temp" + kSep, "temp" + kSep, "temp" + kSep}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 3)->arrays[2].data), BytesOfValues(Distinct(Seed(3, 2))));
}

TEST_F(MergeAsInstancesTest, SuffixFlagTagsEveryArrayWithItsInput) {
  auto out = Merge(WriteInputs(3, Stress, Temp), {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  EXPECT_EQ(ArrayNames(*partA),
            (Names{Tagged("stress", "F1"), Tagged("stress", "F2"), Tagged("stress", "F3")}));
  for (int k = 1; k <= 3; ++k)
    EXPECT_EQ(BytesOf(partA->arrays[k - 1].data), BytesOfValues(Distinct(Seed(k, 1)))) << k;
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 3)),
            (Names{Tagged("temp", "F1"), Tagged("temp", "F2"), Tagged("temp", "F3")}));
}

TEST_F(MergeAsInstancesTest, AutoRenameTakesOnlyTaggedArraysOfLaterInputs) {
  auto out = Merge(WriteInputs(3, StressAndTagged, Temp), {"--auto-rename-instances"});
  ASSERT_TRUE(out);
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  EXPECT_EQ(ArrayNames(*partA),
            (Names{"stress", Tagged("s", "F1t"), Tagged("s", "F2t"), Tagged("s", "F3t")}));
  EXPECT_EQ(BytesOf(partA->arrays[0].data), BytesOfValues(Distinct(Seed(1, 1))));
  for (int k = 1; k <= 3; ++k)
    EXPECT_EQ(BytesOf(partA->arrays[k].data), BytesOfValues(Distinct(Seed(k, 3)))) << k;
  // Untagged arrays only: nothing of the later inputs is taken.
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 3)), (Names{"temp"}));
}

TEST_F(MergeAsInstancesTest, SuffixOptionWinsOverAutoRename) {
  auto out = Merge(WriteInputs(2, StressAndTagged, Temp),
                   {"--auto-rename-instances", "--suffix-file-instance"});
  ASSERT_TRUE(out);
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  EXPECT_EQ(ArrayNames(*partA), (Names{Tagged("stress", "F1"), Tagged("s", "F1t"),
                                       Tagged("stress", "F2"), Tagged("s", "F2t")}));
  EXPECT_EQ(BytesOf(partA->arrays[2].data), BytesOfValues(Distinct(Seed(2, 1))));
  EXPECT_EQ(BytesOf(partA->arrays[3].data), BytesOfValues(Distinct(Seed(2, 3))));
}

TEST_F(MergeAsInstancesTest, UntaggedArraysBecomeInstancesLinkedToTheSmallestTag) {
  // Without a suffix, "stress" takes the smallest tag of its geometry ("a"); every other
  // tag ("b") gives an array of that name linked to it.
  auto arrays = [](int k) {
    return std::vector<KivMox::GeometryArray>{FloatArray("stress", Distinct(Seed(k, 1))),
                                              FloatArray(Tagged("v", "b"), Distinct(Seed(k, 2))),
                                              FloatArray(Tagged("v", "a"), Distinct(Seed(k, 3)))};
  };
  auto out = Merge(WriteInputs(2, arrays, Temp), {});
  ASSERT_TRUE(out);
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  EXPECT_EQ(ArrayNames(*partA),
            (Names{Tagged("stress", "a"), Tagged("v", "b"), Tagged("v", "a"), Tagged("stress", "b"),
                   Tagged("stress", "a"), Tagged("v", "b"), Tagged("v", "a")}));
  const auto& instance = partA->arrays.at(3);
  EXPECT_EQ(instance.linked, 1);
  EXPECT_EQ(instance.linkNode, 2u);
  EXPECT_EQ(instance.linkIndex, 0u);
  EXPECT_EQ(BytesOf(instance.data), BytesOfValues(Distinct(Seed(1, 1))));
  EXPECT_EQ(BytesOf(partA->arrays.at(4).data), BytesOfValues(Distinct(Seed(2, 1))));
  EXPECT_EQ(BytesOf(partA->arrays.at(6).data), BytesOfValues(Distinct(Seed(2, 3))));
}

TEST_F(MergeAsInstancesTest, BaseHistoryAndViewPointsStayWithOneRecordOfTheMerge) {
  Names inputs = WriteInputs(2, Stress, Temp);
  auto out = Merge(inputs, {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  auto base = LoadMox(inputs[0]);
  ASSERT_EQ(out->globalInfo.size(), base->globalInfo.size() + 1);
  EXPECT_EQ(out->globalInfo.front(), base->globalInfo.front());
  EXPECT_EQ(out->globalInfo.front().applicationVersion, "1");
  // The instance merge's tree is made without a program name or version.
  EXPECT_EQ(out->globalInfo.back().applicationName, "");
  EXPECT_EQ(out->globalInfo.back().applicationVersion, "");
  EXPECT_EQ(out->globalInfo.back().formatVersion, "1.3");
  EXPECT_EQ(GroupNames(out->views), (Names{"Base"}));
  EXPECT_EQ(out->views.current.name, "base-now");
  EXPECT_EQ(GroupAt(*out, 1)->name, "model");
  EXPECT_EQ(out->Size(), 3u);
}

TEST_F(MergeAsInstancesTest, GeometryMissingFromTheBaseFailsTheMerge) {
  Names inputs = WriteInputs(1, Stress, Temp);
  Model extra("model");
  extra.AddGeometry(1, "partA", Stress(2));
  extra.AddGeometry(1, "partB", {FloatArray(Tagged("temp", "x"), Distinct(5.0f))});
  extra.AddGeometry(1, "partC", {FloatArray(Tagged("other", "x"), Distinct(6.0f))});
  extra.Save(dir.File("extra.mox"));
  for (const Names& options :
       std::vector<Names>{{}, {"--suffix-file-instance"}, {"--auto-rename-instances"}}) {
    Names args = {"--merge-as-instances", inputs[0], dir.File("extra.mox"), dir.File("out.mox")};
    args.insert(args.end(), options.begin(), options.end());
    auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(options);
    EXPECT_EQ(Count(run.err, "Exception \""), 1u) << run.err;
    EXPECT_NE(run.err.find("GetReqNode"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("out.mox")));
  }
}

// Base: partA (2), partB (3). The later input holds only partB, as its node 2.
class MatchPartNamesTest : public MergeAsInstancesTest {
 protected:
  void SetUp() override {
    Model base("model");
    base.AddGeometry(1, "partA", {FloatArray(Tagged("s", "t"), Distinct(1.0f))});
    base.AddGeometry(1, "partB", {FloatArray(Tagged("s", "t"), Distinct(2.0f))});
    base.Save(dir.File("base.mox"));
    Model later("other-model");
    later.AddGeometry(
        1, "partB",
        {FloatArray(Tagged("s", "t"), Distinct(3.0f)), FloatArray("plain", Distinct(4.0f))});
    later.Save(dir.File("later.mox"));
  }
};

TEST_F(MatchPartNamesTest, LaterGeometryJoinsTheBaseGeometryOfItsName) {
  auto out = Merge({dir.File("base.mox"), dir.File("later.mox")},
                   {"--auto-rename-instances", "--match-part-names"});
  ASSERT_TRUE(out);
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)), (Names{Tagged("s", "F1t")}));
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 3)), (Names{Tagged("s", "F1t"), Tagged("s", "F2t")}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 3)->arrays[1].data), BytesOfValues(Distinct(3.0f)));
}

TEST_F(MatchPartNamesTest, WithoutTheOptionGeometryIsMatchedByIdentifier) {
  auto out = Merge({dir.File("base.mox"), dir.File("later.mox")}, {"--auto-rename-instances"});
  ASSERT_TRUE(out);
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)), (Names{Tagged("s", "F1t"), Tagged("s", "F2t")}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 2)->arrays[1].data), BytesOfValues(Distinct(3.0f)));
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 3)), (Names{Tagged("s", "F1t")}));
}

TEST_F(MatchPartNamesTest, AnUnknownNameFallsBackToTheIdentifier) {
  Model later("other-model");
  later.AddGeometry(1, "partZ", {FloatArray(Tagged("s", "t"), Distinct(5.0f))});
  later.Save(dir.File("later.mox"));
  auto out = Merge({dir.File("base.mox"), dir.File("later.mox")},
                   {"--auto-rename-instances", "--match-part-names"});
  ASSERT_TRUE(out);
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)), (Names{Tagged("s", "F1t"), Tagged("s", "F2t")}));
  EXPECT_EQ(BytesOf(GeometryAt(*out, 2)->arrays[1].data), BytesOfValues(Distinct(5.0f)));
}

// Plain join: partA holds a, b, c; partB holds d and a link to partA's c. After every
// join the link of each input's partB must still give that input's c.
std::vector<KivMox::GeometryArray> ThreeArrays(int k) {
  return {FloatArray("a", Distinct(Seed(k, 1))), FloatArray("b", Distinct(Seed(k, 2))),
          FloatArray("c", Distinct(Seed(k, 3)))};
}

std::vector<KivMox::GeometryArray> LinkToC(int k) {
  return {FloatArray("d", Distinct(Seed(k, 4))), LinkedArray("l", 2, 2)};
}

TEST_F(MergeAsInstancesTest, PlainJoinShiftsLinksByTheTargetGeometrysArrayCount) {
  for (const Names& options : std::vector<Names>{{}, {"--suffix-file-instance"}}) {
    SCOPED_TRACE(::testing::PrintToString(options));
    auto out = Merge(WriteInputs(3, ThreeArrays, LinkToC), options);
    ASSERT_TRUE(out);
    KivMox::Geometry* partB = GeometryAt(*out, 3);
    ASSERT_EQ(partB->arrays.size(), 6u);
    ASSERT_EQ(GeometryAt(*out, 2)->arrays.size(), 9u);
    for (int k = 1; k <= 3; ++k) {
      const auto& link = partB->arrays[2 * (k - 1) + 1];
      EXPECT_EQ(link.linked, 1) << k;
      EXPECT_EQ(link.linkNode, 2u) << k;
      EXPECT_EQ(link.linkIndex, std::uint32_t(2 + 3 * (k - 1))) << k;
      EXPECT_EQ(BytesOf(link.data), BytesOfValues(Distinct(Seed(k, 3)))) << k;
      EXPECT_EQ(BytesOf(partB->arrays[2 * (k - 1)].data), BytesOfValues(Distinct(Seed(k, 4))));
    }
  }
}

TEST_F(MergeAsInstancesTest, PlainJoinShiftsLinksWithinTheSameGeometry) {
  auto selfLinked = [](int k) {
    return std::vector<KivMox::GeometryArray>{FloatArray("x", Distinct(Seed(k, 5))),
                                              LinkedArray("y", 3, 0)};
  };
  auto out = Merge(WriteInputs(2, ThreeArrays, selfLinked), {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  const auto& link = GeometryAt(*out, 3)->arrays.at(3);
  EXPECT_EQ(link.name, Tagged("y", "F2"));
  EXPECT_EQ(link.linkIndex, 2u);
  EXPECT_EQ(BytesOf(link.data), BytesOfValues(Distinct(Seed(2, 5))));
}

// Auto-rename join: partA holds a tagged array and an untagged one; partB links to each.
// The link to the tagged array follows it to its new place; the untagged one is not
// taken, so the array linking to it is written with the values it shares.
std::vector<KivMox::GeometryArray> TaggedAndUntagged(int k) {
  return {FloatArray(Tagged("a", "t"), Distinct(Seed(k, 1))),
          FloatArray("u", Distinct(Seed(k, 2)))};
}

std::vector<KivMox::GeometryArray> LinksToBoth(int k) {
  (void)k;
  return {LinkedArray(Tagged("l", "t"), 2, 0), LinkedArray(Tagged("m", "t"), 2, 1)};
}

TEST_F(MergeAsInstancesTest, AutoRenameJoinFollowsOrDropsLinks) {
  auto out = Merge(WriteInputs(3, TaggedAndUntagged, LinksToBoth), {"--auto-rename-instances"});
  ASSERT_TRUE(out);
  KivMox::Geometry* partA = GeometryAt(*out, 2);
  EXPECT_EQ(ArrayNames(*partA),
            (Names{Tagged("a", "F1t"), "u", Tagged("a", "F2t"), Tagged("a", "F3t")}));
  KivMox::Geometry* partB = GeometryAt(*out, 3);
  ASSERT_EQ(ArrayNames(*partB),
            (Names{Tagged("l", "F1t"), Tagged("m", "F1t"), Tagged("l", "F2t"), Tagged("m", "F2t"),
                   Tagged("l", "F3t"), Tagged("m", "F3t")}));
  // The base's own links are untouched.
  EXPECT_EQ(BytesOf(partB->arrays[0].data), BytesOfValues(Distinct(Seed(1, 1))));
  EXPECT_EQ(partB->arrays[1].linked, 1);
  EXPECT_EQ(BytesOf(partB->arrays[1].data), BytesOfValues(Distinct(Seed(1, 2))));
  for (int k = 2; k <= 3; ++k) {
    const auto& l = partB->arrays[2 * (k - 1)];
    EXPECT_EQ(l.linked, 1) << k;
    EXPECT_EQ(l.linkNode, 2u) << k;
    EXPECT_EQ(l.linkIndex, std::uint32_t(k)) << k;
    EXPECT_EQ(BytesOf(l.data), BytesOfValues(Distinct(Seed(k, 1)))) << k;
    const auto& m = partB->arrays[2 * (k - 1) + 1];
    EXPECT_EQ(m.linked, 0) << k;
    EXPECT_EQ(BytesOf(m.data), BytesOfValues(Distinct(Seed(k, 2)))) << k;
  }
}

TEST_F(MergeAsInstancesTest, AutoRenameJoinFollowsLinksIntoGeometryMatchedByName) {
  // The later input has the two parts in the other order: partB (2) links to partA (3).
  Model base("model");
  base.AddGeometry(
      1, "partA",
      {FloatArray(Tagged("a", "t"), Distinct(1.0f)), FloatArray(Tagged("b", "t"), Distinct(2.0f))});
  base.AddGeometry(1, "partB", {FloatArray(Tagged("x", "t"), Distinct(3.0f))});
  base.Save(dir.File("base.mox"));
  Model later("model");
  later.AddGeometry(1, "partB", {LinkedArray(Tagged("l", "t"), 3, 1)});
  later.AddGeometry(
      1, "partA",
      {FloatArray(Tagged("a", "t"), Distinct(4.0f)), FloatArray(Tagged("b", "t"), Distinct(5.0f))});
  later.Save(dir.File("later.mox"));
  auto out = Merge({dir.File("base.mox"), dir.File("later.mox")},
                   {"--auto-rename-instances", "--match-part-names"});
  ASSERT_TRUE(out);
  EXPECT_EQ(ArrayNames(*GeometryAt(*out, 2)), (Names{Tagged("a", "F1t"), Tagged("b", "F1t"),
                                                     Tagged("a", "F2t"), Tagged("b", "F2t")}));
  KivMox::Geometry* partB = GeometryAt(*out, 3);
  ASSERT_EQ(ArrayNames(*partB), (Names{Tagged("x", "F1t"), Tagged("l", "F2t")}));
  EXPECT_EQ(partB->arrays[1].linked, 1);
  EXPECT_EQ(partB->arrays[1].linkNode, 2u);
  EXPECT_EQ(partB->arrays[1].linkIndex, 3u);
  EXPECT_EQ(BytesOf(partB->arrays[1].data), BytesOfValues(Distinct(5.0f)));
}

}  // namespace

namespace {

// Five geometries per input, their arrays in one block of each input: the writer takes
// runs from the inputs in turn (geometry by geometry), so each input block is needed
// again and again while the pass lasts; it must stay loaded rather than be read anew.
TEST_F(MergeAsInstancesTest, InputsReadInTurnKeepTheirBlocksForThePass) {
  constexpr int kParts = 5;
  Names paths;
  for (int k = 1; k <= 3; ++k) {
    Model model("model", "Builder", std::to_string(k));
    for (int p = 0; p < kParts; ++p) {
      std::vector<float> values(3000);
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = float(k * 100000 + p * 1000) + i;
      model.AddGeometry(1, "part" + std::to_string(p),
                        {FloatArray("field", values), IntArray("cells", {k, p, 1, 2, 3, 4})});
    }
    paths.push_back(dir.File("in" + std::to_string(k) + ".mox"));
    model.Save(paths.back());
  }
  auto out = Merge(paths, {"--suffix-file-instance"});
  ASSERT_TRUE(out);
  for (int p = 0; p < kParts; ++p) {
    KivMox::Geometry* part = GeometryAt(*out, 2 + p);
    ASSERT_NE(part, nullptr);
    ASSERT_EQ(part->arrays.size(), 6u) << p;
    for (int k = 1; k <= 3; ++k) {
      std::vector<float> values(3000);
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = float(k * 100000 + p * 1000) + i;
      const std::string tag = "F" + std::to_string(k);
      int found = 0;
      for (const auto& array : part->arrays) {
        if (array.name == Tagged("field", tag)) {
          EXPECT_EQ(BytesOf(array.data), BytesOfValues(values)) << p << " " << k;
          ++found;
        }
        if (array.name == Tagged("cells", tag)) {
          EXPECT_EQ(BytesOf(array.data),
                    BytesOfValues(std::vector<std::int32_t>{k, p, 1, 2, 3, 4}));
          ++found;
        }
      }
      EXPECT_EQ(found, 2) << p << " " << k;
    }
  }
}

}  // namespace
