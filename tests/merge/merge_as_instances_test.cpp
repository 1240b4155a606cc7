// The merge as instances: array names, instance links, geometry matching and links; the
// look-ups it keeps from input to input answer as the scans they stand for: the first base
// geometry of a name, the first array of a name in a geometry.
#include <gtest/gtest.h>

#include <algorithm>

#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/shape.hpp"
#include "merge/base_index.hpp"
#include "merge/merge_operations.hpp"
#include "support/log_capture.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

class MergeAsInstancesTest : public ::testing::Test {
 public:
  // A model of geometries "<name>: <array> ...; ..." with arrays "<name>@<a>[*<count>]"
  // (Distinct(10 k + a, count)) or "<name>-><node>:<index>", '|' the tag separator; other
  // nodes "<name>=Shape", "<name>=Group", or "=Empty" (an entry without a node).
  std::string Write(const std::string& name, const std::string& layout, int k) {
    Model model("model", "Builder", std::to_string(k));
    if (k == 1) model.SetViews("base-now", {"Base"}, 7);
    std::istringstream geometries(layout);
    for (std::string g, part, a; std::getline(geometries, g, ';');) {
      std::istringstream in(g);
      in >> part;
      if (const auto eq = part.find('='); eq != std::string::npos) {
        std::unique_ptr<KivMox::Node> node;
        if (part.substr(eq + 1) == "Shape") node = std::make_unique<KivMox::Shape>();
        if (part.substr(eq + 1) == "Group") node = std::make_unique<KivMox::Group>();
        if (node) node->name = part.substr(0, eq);
        model.tree.SetCurrentId(1);
        model.tree.AppendChildNode(std::move(node));
        continue;
      }
      std::vector<KivMox::GeometryArray> arrays;
      while (in >> a) {
        std::replace(a.begin(), a.end(), '|', kSep);
        const auto at = a.find('@'), link = a.find("->"), times = a.find('*');
        arrays.push_back(
            at != std::string::npos
                ? FloatArray(
                      a.substr(0, at),
                      Distinct(float(10 * k + std::stoi(a.substr(at + 1))),
                               times == std::string::npos ? 7 : std::stoul(a.substr(times + 1))))
                : LinkedArray(a.substr(0, link), std::stoul(a.substr(link + 2)),
                              std::stoul(a.substr(a.rfind(':') + 1))));
      }
      model.AddGeometry(1, part.substr(0, part.size() - 1), arrays);
    }
    model.Save(dir.File(name));
    return dir.File(name);
  }
  // The instance merge with the flags of options as the command line sets them (s: suffix,
  // r: auto-rename, which tags too, m: part names).
  std::pair<int, std::string> Merge(const std::string& options, const Names& inputs,
                                    const std::string& output) {
    const bool s = Has(options, "s"), r = Has(options, "r"), m = Has(options, "m");
    return InProcess([&] { return MoxMerge::MergeAsInstances(inputs, output, s || r, r, m); });
  }
  TempDir dir;
};

TEST_F(MergeAsInstancesTest, OptionsTagsJoinsLinksAndHistory) {
  // base.mox: partA (2), partB (3); later1.mox: only partB, as its node 2; later2.mox:
  // partB (2) linking to partA (3), the other order.
  const std::string base = Write("base.mox", "partA: a|t@1 b|t@2; partB: a|t@3", 0);
  const Names later = {Write("later1.mox", "partB: a|t@4 plain@5", 0),
                       Write("later2.mox", "partB: l|t->3:1; partA: a|t@6 b|t@7", 0)};
  struct Case {
    int count;  // inputs of the layout (seeds 10 k + a), or -n for base.mox and later<n>.mox
    std::string layout, options, arrays;  // Arrays() of the output
  };
  const Case cases[] = {
      // Without flags every array gets an empty tag; the suffix tags every array with its
      // input; auto-rename takes only tagged arrays of later inputs.
      {3, "partA: stress@1; partB: temp@2", "",
       "2: stress|@11 stress|@21 stress|@31\n3: temp|@12 temp|@22 temp|@32\n"},
      {3, "partA: stress@1; partB: temp@2", "s",
       "2: stress|F1@11 stress|F2@21 stress|F3@31\n3: temp|F1@12 temp|F2@22 temp|F3@32\n"},
      {2, "partA: v|b@1; partB: temp@2", "s", "2: v|F1b@11 v|F2b@21\n3: temp|F1@12 temp|F2@22\n"},
      {3, "partA: stress@1 s|t@3; partB: temp@2", "r",
       "2: stress@11 s|F1t@13 s|F2t@23 s|F3t@33\n3: temp@12\n"},
      // Untagged arrays become instances linked to the smallest tag.
      {2, "partA: stress@1 v|b@2 v|a@3; partB: temp@2", "",
       "2: stress|a@11 v|b@12 v|a@13 stress|b->2:0 stress|a@21 v|b@22 v|a@23\n"
       "3: temp|@12 temp|@22\n"},
      // A plain join shifts links by the target geometry's array count.
      {3, "partA: a@1 b@2 c@3; partB: d@4 l->2:2", "",
       "2: a|@11 b|@12 c|@13 a|@21 b|@22 c|@23 a|@31 b|@32 c|@33\n"
       "3: d|@14 l|->2:2 d|@24 l|->2:5 d|@34 l|->2:8\n"},
      // An auto-rename join follows links to tagged arrays and drops the others.
      {3, "partA: a|t@1 u@2; partB: l|t->2:0 m|t->2:1", "r",
       "2: a|F1t@11 u@12 a|F2t@21 a|F3t@31\n"
       "3: l|F1t->2:0 m|F1t->2:1 l|F2t->2:2 m|F2t@22 l|F3t->2:3 m|F3t@32\n"},
      // Later geometry joins the base geometry of its name; without matching by name it is
      // matched by identifier; links follow arrays into geometry matched by name.
      {-1, "", "rm", "2: a|F1t@1 b|F1t@2\n3: a|F1t@3 a|F2t@4\n"},
      {-1, "", "r", "2: a|F1t@1 b|F1t@2 a|F2t@4\n3: a|F1t@3\n"},
      {-2, "", "rm", "2: a|F1t@1 b|F1t@2 a|F2t@6 b|F2t@7\n3: a|F1t@3 l|F2t->2:3\n"},
      // Each input block is needed again and again while the writer's pass lasts.
      {3, "partA: field@1*3000 cells@2; partB: field@3*3000 cells@4", "s",
       "2: field|F1@11 cells|F1@12 field|F2@21 cells|F2@22 field|F3@31 cells|F3@32\n"
       "3: field|F1@13 cells|F1@14 field|F2@23 cells|F2@24 field|F3@33 cells|F3@34\n"},
  };
  for (const Case& c : cases) {
    Names inputs = {base, later[std::size_t(-c.count - 1) % 2]};
    if (c.count > 0) inputs.clear();
    for (int k = 1; k <= c.count; ++k)
      inputs.push_back(Write("in" + std::to_string(k) + ".mox", c.layout, k));
    const auto [status, err] = Merge(c.options, inputs, dir.File("out.mox"));
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(Arrays(*LoadTree(dir.File("out.mox"))), c.arrays) << c.layout << " " << c.options;
  }
  // The base's history and view points, and a record of the merge (without a program name).
  auto out = LoadTree(dir.File("out.mox")), first = LoadTree(dir.File("in1.mox"));
  ASSERT_EQ(out->globalInfo.size(), 2u);
  EXPECT_EQ(out->globalInfo.front(), first->globalInfo.front());
  const auto& r = out->globalInfo.back();
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion, "||1.3");
  EXPECT_EQ(out->views.groups, first->views.groups);
  EXPECT_EQ(out->views.current.name + " " + out->GetNode(1)->name, "base-now model");
}

// Text less its "Time" line, which differs from raise to raise.
std::string WithoutTime(const std::string& text) {
  std::string kept, line;
  for (std::istringstream in(text); std::getline(in, line);)
    if (!Has(line, "Time : ")) kept += line + "\n";
  return kept;
}
// What GetReqNode raises for an identifier the tree lacks, less its time.
std::string MissingNodeText() {
  try {
    KivMox::Tree().GetReqNode(99);
  } catch (const std::exception& e) {
    return WithoutTime(e.what());
  }
  return "GetReqNode raised nothing";
}

// A later geometry whose target in the base is missing, or of another kind while the join
// would take arrays from it, fails the merge: one line that names both inputs and both
// nodes, then the unchanged text of a missing identifier; an earlier output stays.
TEST_F(MergeAsInstancesTest, LaterGeometryWithoutABaseGeometry) {
  const std::string byId =
      " (the trees must match node for node; --auto-rename-instances --match-part-names joins "
      "by name)";
  const std::string byName =
      " (no geometry of the base bears its name, so it joins by identifier; the trees must "
      "match node for node)";
  const std::string onB = "geometry node 3 \"partB\" has no geometry at identifier 3";
  const std::string noB = "geometry node 3 \"partB\" has no node at identifier 3";
  const std::string shapeB = ": its node 3 is Shape \"partB\"";
  struct Case {
    std::string base, later, options;
    std::string what, baseSide;  // the line "<later>: <what> in the base <base><baseSide>"
    std::string arrays;          // without a line, Arrays() of the output
  };
  const Case cases[] = {
      // Arrays that would be lost on a shape, a group or an entry without a node.
      {"partA: a|t@1; partB=Shape", "partA: a|t@2; partB: b@3", "", onB, shapeB + byId, ""},
      {"partA: a|t@1; partB=Group", "partA: a|t@2; partB: b@3", "s", onB,
       ": its node 3 is Group \"partB\"" + byId, ""},
      {"partA: a|t@1; =Empty", "partA: a|t@2; partB: b@3", "", onB,
       ": its entry 3 holds no node" + byId, ""},
      {"partA: a|t@1; partB=Shape", "partA: a|t@2; partB: b@3 c|t@4", "r", onB, shapeB + byId, ""},
      // A name is matched among geometries only; without a match the identifier counts.
      {"partA: a|t@1; partB=Shape", "partA: a|t@2; partB: b|t@3", "rm", onB, shapeB + byName, ""},
      {"partA: a|t@1; partS=Shape; partB: x|t@9", "partA: a|t@2; partB: b|t@3", "r", onB,
       ": its node 3 is Shape \"partS\"" + byId, ""},
      {"partA: a|t@1; partS=Shape; partB: x|t@9", "partA: a|t@2; partB: b|t@3", "rm", "", "",
       "2: a|F1t@1 a|F2t@2\n4: x|F1t@9 b|F2t@3\n"},
      // A geometry that gives nothing loses nothing.
      {"partA: a|t@1; partB=Shape", "partA: a|t@2; partB: b@3", "r", "", "",
       "2: a|F1t@1 a|F2t@2\n"},
      {"partA: a|t@1; partB=Group", "partA: a|t@2; partB:", "", "", "", "2: a|t@1 a|t@2\n"},
      // A missing identifier fails whatever the join would take.
      {"partA: a|t@1", "partA: a|t@2; partB: b@3", "", noB, byId, ""},
      {"partA: a|t@1", "partA: a|t@2; partB: b@3", "r", noB, byId, ""},
      {"partA: a|t@1", "partA: a|t@2; partB: b|t@3", "rm", noB, byName, ""},
  };
  // The failure's log record is that of the missing identifier.
  const std::string missing = MissingNodeText(), out = dir.File("out.mox");
  const std::string line = missing.substr(missing.find("Line : ") + 7);
  const std::string record =
      "tree.hpp : " + line.substr(0, line.find(' ')) + " @ Element Not Found\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base + " / " + c.later + " / " + c.options);
    const std::string base = Write("base.mox", c.base, 0), later = Write("later.mox", c.later, 0);
    WriteFileBytes(out, {'o', 'l', 'd'});
    LogCapture log;
    const auto [status, err] = Merge(c.options, {base, later}, out);
    if (c.what.empty()) {
      ASSERT_EQ(status, 0) << err;
      EXPECT_EQ(Arrays(*LoadTree(out)), c.arrays);
      continue;
    }
    EXPECT_EQ(status, 2);
    EXPECT_EQ(WithoutTime(err),
              later + ": " + c.what + " in the base " + base + c.baseSide + "\n" + missing + "\n");
    EXPECT_EQ(ReadFileBytes(out), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(std::count(log.Captured().begin(), log.Captured().end(), std::pair(record, 0)), 1);
  }
}

// The arrays of a file in the order it stores their values: "<geometry>:<array>" (tags shown
// with '|'), by heavy position.
std::string StoredOrderOf(const std::string& path) {
  const auto tree = LoadTree(path, true);
  std::vector<std::pair<std::uint64_t, std::string>> runs;
  for (const auto& [id, entry] : tree->Entries())
    if (const auto* g = dynamic_cast<const KivMox::Geometry*>(entry.data))
      for (const KivMox::GeometryArray& a : g->arrays)
        if (!a.linked && a.data.loader)
          runs.push_back({a.data.loader->position, g->name + ":" + a.name});
  std::sort(runs.begin(), runs.end());
  std::string text;
  for (auto [position, name] : runs) {
    std::replace(name.begin(), name.end(), kSep, '|');
    text += (text.empty() ? "" : " ") + name;
  }
  return text;
}

// A merge writes the arrays it writes anew input by input, each in the order its input
// stores them (connectivity first here), whatever they join: each input is read front to back.
TEST_F(MergeAsInstancesTest, HeavyDataInputByInputInStoredOrder) {
  Names inputs;
  for (int k = 1; k <= 3; ++k) {
    Model model("model");
    model.AddGeometry(1, "partA",
                      {FloatArray("a", Distinct(float(k), 3000)), IntArray("c", {1, 2, 3})});
    model.AddGeometry(1, "partB", {FloatArray("b", Distinct(float(10 + k)))});
    model.Save(inputs.emplace_back(dir.File("in" + std::to_string(k) + ".mox")));
  }
  EXPECT_EQ(StoredOrderOf(inputs[0]), "partA:c partA:a partB:b");
  const std::string out = dir.File("out.mox");
  ASSERT_EQ(Merge("s", inputs, out).first, 0);
  EXPECT_EQ(StoredOrderOf(out),
            "partA:c|F1 partA:a|F1 partB:b|F1 partA:c|F2 partA:a|F2 partB:b|F2 "
            "partA:c|F3 partA:a|F3 partB:b|F3");
  // The plain merge writing every block anew: the same order under each input's root.
  ASSERT_EQ(InProcess([&] { return MoxMerge::MergeFiles(inputs, out, false); }).first, 0);
  EXPECT_EQ(StoredOrderOf(out),
            "partA:c partA:a partB:b partA:c partA:a partB:b partA:c partA:a partB:b");
}

TEST(BaseIndex, AnswersAsTheScans) {
  Model model("root");
  const std::uint32_t first = model.AddGeometry(1, "part", {FloatArray("s", {1})});
  model.AddGeometry(1, "part", {});
  model.tree.SetCurrentId(1);
  const std::uint32_t groupId = model.tree.AppendChildNode(std::make_unique<KivMox::Group>());
  model.tree.GetNode(groupId)->name = "group";
  MoxMerge::BaseIndex index(model.tree);
  EXPECT_EQ(index.GeometryNamed("part"), first);  // the first of the name, as a scan finds it
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
