// The merge as instances, run as its command line asks: the array names that each
// combination of options gives, the instance links of untagged arrays, the geometry
// matching (by identifier, or by part name), links of appended arrays that must still
// reach the array they linked to in their own input, and values carried exactly.
#include <gtest/gtest.h>

#include <functional>

#include "merge/command_line.hpp"
#include "merge/merge_fixtures.hpp"
#include "merge/merge_operations.hpp"

namespace {

using namespace AppTest;
using Arrays_ = std::vector<KivMox::GeometryArray>;
using ArraysOf = std::function<Arrays_(int k)>;  // the arrays of input k (1-based)

KivMox::GeometryArray A(const std::string& name, float seed, std::size_t count = 7) {
  return FloatArray(name, Distinct(seed, count));
}
KivMox::GeometryArray T(const std::string& name, float seed) {
  return A(Tagged(name, "t"), seed);
}

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
      model.Save(paths.emplace_back(dir.File("in" + std::to_string(k) + ".mox")));
    }
    return paths;
  }
  // The instance merge with the flags the options give; its status and error text.
  std::pair<int, std::string> Merge(const Names& options, const Names& inputs,
                                    const std::string& output) {
    Names args = {"moxmerge", "--merge-as-instances"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back(output);
    const auto l = MoxMerge::ParseCommandLine(args);
    return InProcess([&] {
      return MoxMerge::MergeAsInstances(l.inputs, l.outputPath, l.suffix, l.autoRename,
                                        l.matchPartNames);
    });
  }
  TempDir dir;
};

TEST_F(MergeAsInstancesTest, OptionsTagsJoinsAndLinks) {
  // base.mox: partA (2), partB (3); later1.mox: only partB, as its node 2; later2.mox:
  // partB (2) linking to partA (3), the other order.
  Model base("model"), later1("other-model"), later2("other-model");
  base.AddGeometry(1, "partA", {T("a", 1), T("b", 2)});
  base.AddGeometry(1, "partB", {T("a", 3)});
  base.Save(dir.File("base.mox"));
  later1.AddGeometry(1, "partB", {T("a", 4), A("plain", 5)});
  later1.Save(dir.File("later1.mox"));
  later2.AddGeometry(1, "partB", {LinkedArray(Tagged("l", "t"), 3, 1)});
  later2.AddGeometry(1, "partA", {T("a", 6), T("b", 7)});
  later2.Save(dir.File("later2.mox"));

  const std::string suffix = "--suffix-file-instance", rename = "--auto-rename-instances",
                    match = "--match-part-names";
  const auto arrays = [](std::vector<std::pair<std::string, int>> named) -> ArraysOf {
    return [named](int k) {
      Arrays_ out;
      for (const auto& [name, a] : named)
        out.push_back(name[0] == '>' ? LinkedArray(name.substr(3), 2, name[1] - '0')
                                     : A(name, float(10 * k + a)));
      return out;
    };
  };
  const ArraysOf stress = arrays({{"stress", 1}}), temp = arrays({{"temp", 2}});
  const ArraysOf stressAndTagged = arrays({{"stress", 1}, {Tagged("s", "t"), 3}});
  struct Case {
    int count;  // inputs in1.mox ... of partA and partB, or -n for base.mox and later<n>.mox
    ArraysOf partA, partB;
    Names options;
    std::string arrays;  // Arrays() of the output
  };
  // clang-format off
  const Case cases[] = {
      // Without flags every array gets an empty tag.
      {3, stress, temp, {},
       "2: stress|@11 stress|@21 stress|@31\n3: temp|@12 temp|@22 temp|@32\n"},
      // The suffix tags every array with its input.
      {3, stress, temp, {suffix},
       "2: stress|F1@11 stress|F2@21 stress|F3@31\n3: temp|F1@12 temp|F2@22 temp|F3@32\n"},
      // Auto-rename takes only tagged arrays of later inputs.
      {3, stressAndTagged, temp, {rename},
       "2: stress@11 s|F1t@13 s|F2t@23 s|F3t@33\n3: temp@12\n"},
      // The suffix wins over auto-rename.
      {2, stressAndTagged, temp, {rename, suffix},
       "2: stress|F1@11 s|F1t@13 stress|F2@21 s|F2t@23\n3: temp|F1@12 temp|F2@22\n"},
      // Untagged arrays become instances linked to the smallest tag.
      {2, arrays({{"stress", 1}, {Tagged("v", "b"), 2}, {Tagged("v", "a"), 3}}), temp, {},
       "2: stress|a@11 v|b@12 v|a@13 stress|b->2:0 stress|a@21 v|b@22 v|a@23\n3: temp|@12 temp|@22\n"},
      // A plain join shifts links by the target geometry's array count.
      {3, arrays({{"a", 1}, {"b", 2}, {"c", 3}}), arrays({{"d", 4}, {">2:l", 0}}), {},
       "2: a|@11 b|@12 c|@13 a|@21 b|@22 c|@23 a|@31 b|@32 c|@33\n3: d|@14 l|->2:2 d|@24 l|->2:5 d|@34 l|->2:8\n"},
      // An auto-rename join follows links to tagged arrays and drops the others.
      {3, arrays({{Tagged("a", "t"), 1}, {"u", 2}}),
       arrays({{">0:" + Tagged("l", "t"), 0}, {">1:" + Tagged("m", "t"), 0}}), {rename},
       "2: a|F1t@11 u@12 a|F2t@21 a|F3t@31\n3: l|F1t->2:0 m|F1t->2:1 l|F2t->2:2 m|F2t@22 l|F3t->2:3 m|F3t@32\n"},
      // Later geometry joins the base geometry of its name; without matching by name it is
      // matched by identifier; links follow arrays into geometry matched by name.
      {-1, {}, {}, {rename, match},
       "2: a|F1t@1 b|F1t@2\n3: a|F1t@3 a|F2t@4\n"},
      {-1, {}, {}, {rename},
       "2: a|F1t@1 b|F1t@2 a|F2t@4\n3: a|F1t@3\n"},
      {-2, {}, {}, {rename, match},
       "2: a|F1t@1 b|F1t@2 a|F2t@6 b|F2t@7\n3: a|F1t@3 l|F2t->2:3\n"},
      // The writer takes runs from the inputs in turn, geometry by geometry: each input
      // block is needed again and again while the pass lasts.
      {3, arrays({{"field", 1}, {"cells", 2}}), arrays({{"field", 3}, {"cells", 4}}), {suffix},
       "2: field|F1@11 cells|F1@12 field|F2@21 cells|F2@22 field|F3@31 cells|F3@32\n3: field|F1@13 cells|F1@14 field|F2@23 cells|F2@24 field|F3@33 cells|F3@34\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    const Names inputs = c.count > 0 ? WriteInputs(c.count, c.partA, c.partB)
                                     : Names{dir.File("base.mox"),
                                             dir.File("later" + std::to_string(-c.count) + ".mox")};
    const auto [status, err] = Merge(c.options, inputs, dir.File("out.mox"));
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(Arrays(*LoadTree(dir.File("out.mox"))), c.arrays)
        << c.count << ::testing::PrintToString(c.options);
  }
}

TEST_F(MergeAsInstancesTest, BaseHistoryViewPointsAndOneRecordOfTheMergeOrAFailure) {
  const ArraysOf one = [](int k) { return Arrays_{A("stress", float(k))}; };
  const Names inputs = WriteInputs(2, one, one);
  ASSERT_EQ(Merge({"--suffix-file-instance"}, inputs, dir.File("out.mox")).first, 0);
  auto out = LoadTree(dir.File("out.mox")), base = LoadTree(inputs[0]);
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo.front(), base->globalInfo.front());
  EXPECT_EQ(out->globalInfo.front().applicationVersion, "1");
  // The instance merge's tree is made without a program name or version.
  const auto& r = out->globalInfo.back();
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion, "||1.3");
  EXPECT_EQ(GroupNames(out->views), (Names{"Base"}));
  EXPECT_EQ(out->views.current.name + " " + out->GetNode(1)->name, "base-now model");
  EXPECT_EQ(out->Size(), 3u);

  // A geometry the base lacks fails the merge, whatever the options.
  Model extra("model");
  for (const char* part : {"partA", "partB", "partC"}) extra.AddGeometry(1, part, {T("x", 5)});
  extra.Save(dir.File("extra.mox"));
  for (const Names& options :
       std::vector<Names>{{}, {"--suffix-file-instance"}, {"--auto-rename-instances"}}) {
    const auto [status, err] =
        Merge(options, {inputs[0], dir.File("extra.mox")}, dir.File("bad.mox"));
    EXPECT_EQ(status, 2) << ::testing::PrintToString(options);
    EXPECT_EQ(Count(err, "Exception \""), 1u) << err;
    EXPECT_TRUE(Has(err, "GetReqNode")) << err;
    EXPECT_FALSE(FileExists(dir.File("bad.mox")));
  }
}

}  // namespace
