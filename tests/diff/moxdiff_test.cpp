// moxdiff run as a program: merged inputs found again in the merge, changes found where
// they are, older record versions, bad input and the command line.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

#include "kiv/mox/sections.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

Outcome RunDiff(const Names& args) {
  return Execute({"moxdiff", args});
}

// A root group with a geometry (floats, integers, a link to its own first array) and a
// node sets node; change alters the model before it is saved.
void SaveBase(const std::string& path, const std::function<void(Model&)>& change = {}) {
  Model model("Base");
  model.AddGeometry(1, "Mesh",
                    {FloatArray("values", {1, 2, 3, 4}), IntArray("cells", {0, 1, 2}),
                     LinkedArray("copy", 2, 0)});
  auto sets = std::make_unique<KivMox::NodeSets>();
  sets->name = "Sets", sets->sets = {{"fixed", {{1, 2}, {3, 4}}}}, sets->count = 1;
  model.tree.SetCurrentId(1);
  model.tree.AppendChildNode(std::move(sets));
  if (change) change(model);
  model.Save(path);
}

KivMox::GeometryArray& ArrayOf(Model& m, std::uint32_t index) {
  return GeometryAt(m.tree, 2).arrays.at(index);
}

// A "0.6" container: a group root (record "0.1"), a group of record "0.2" holding its
// transform, and a geometry of record "0.6" with float values.
void WriteOld(const std::string& path, float seed) {
  RawMox raw(path);
  const auto values = Distinct(seed, 50);
  raw.Ix().Put(KivMox::kHeavyData, values.data(), 200);
  raw.Put(KivMox::kMoxTree, std::int32_t{3});
  raw.Header(1, 0, 0, "Group", "0.1", raw.LightSize(), 2, 3);
  raw.Header(2, 1, 3, "Group", "0.2", raw.LightSize());
  for (float v : {seed, 2.0f, 3.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, seed})
    raw.Put(KivMox::kLightData, v);
  raw.Header(3, 1, 0, "Geometry", "0.6", raw.LightSize());
  Geometry06(raw, 200, 0);
}

// Each input of a plain merge equals its subtree of the merge; an older input differs only
// in its container and record versions.
TEST(MoxDiffRun, EachInputOfAPlainMergeEqualsItsSubtree) {
  TempDir dir, logs;
  KivMox::Tree rich("Builder", "1.0");
  BuildRichTree(rich);
  rich.Save(dir.File("a.mox"));
  SaveBase(dir.File("b.mox"));
  ASSERT_EQ(Execute({"moxsample", {dir.File("c.mox"), "--seed", "5"}}).status, 0);
  WriteOld(dir.File("old.mox"), 1.0f);
  const Names inputs = {dir.File("a.mox"), dir.File("b.mox"), dir.File("c.mox"),
                        dir.File("old.mox")};
  Names args = inputs;
  args.push_back(dir.File("out.mox"));
  ASSERT_EQ(RunMoxMerge(logs, args).status, 0);
  const auto roots = Children(*LoadTree(dir.File("out.mox")), 1);
  ASSERT_EQ(roots.size(), 4u);
  for (std::size_t k = 0; k < 4; ++k) {
    const std::string id = std::to_string(roots[k]);
    Outcome run = RunDiff({dir.File("out.mox"), inputs[k], "--left-node", id});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "Summary: equal (")) << run.out;
    run = RunDiff({"--right-node", id, inputs[k], dir.File("out.mox"), "--brief"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // The whole file equals itself, history and view points included.
    EXPECT_EQ(RunDiff({inputs[k], inputs[k]}).status, 0);
  }
  Names old = {dir.File("out.mox"), inputs[3], "--left-node", std::to_string(roots[3])};
  EXPECT_TRUE(Has(RunDiff(old).out, "1 array pairs, 50 values compared"));
  old.push_back("--versions");
  const Outcome versions = RunDiff(old);
  EXPECT_EQ(versions.status, 1) << versions.out << versions.err;
  EXPECT_TRUE(Has(versions.out, "container version: \"1.3\" | \"0.6\"")) << versions.out;
  EXPECT_TRUE(Has(versions.out, "record version: \"0.7\" | \"0.6\"")) << versions.out;
  EXPECT_TRUE(Has(versions.out, "record version: \"0.4\" | \"0.2\"")) << versions.out;
  // Another input's subtree is not equal; the merge adds a save to the history.
  EXPECT_EQ(RunDiff({dir.File("out.mox"), inputs[1], "--left-node", "2"}).status, 1);
  const Outcome whole = RunDiff({dir.File("out.mox"), inputs[0]});
  EXPECT_EQ(whole.status, 1);
  EXPECT_TRUE(Has(whole.out, "History:\n  record count: 3 | 2\n")) << whole.out;
}

TEST(MoxDiffRun, ChangesAreFoundWhereTheyAre) {
  TempDir dir;
  SaveBase(dir.File("base.mox"));
  const auto value = [](float v) {
    return [v](Model& m) { reinterpret_cast<float*>(ArrayOf(m, 0).data.data.get())[2] = v; };
  };
  struct Row {
    const char* what;
    std::function<void(Model&)> change;
    const char* option;  // or none
    int status;
    std::string shown;
  } rows[] = {
      {"beyond the tolerance", value(3.5f), "--abs-tol=0.1", 1,
       "Node /0 (left 2, right 2) \"Mesh\":\n  array 0 \"values\" values: 1 of 4 differ, "
       "largest difference 0.5 (relative 0.14285714285714285)\n    2: 3 3.5\n"},
      {"within --abs-tol", value(3.001f), "--abs-tol=0.01", 0, "Summary: equal"},
      {"within --rel-tol", value(3.001f), "--rel-tol=0.001", 0, "Summary: equal"},
      {"without a tolerance", value(3.001f), nullptr, 1, "    2: 3 3.001\n"},
      {"an attribute",
       [](Model& m) {
         GeometryAt(m.tree, 2).arrays[1].attributes["Unit"] = KivMox::Attribute::MakeFloat(2);
       },
       nullptr, 1,
       "Node /0 (left 2, right 2) \"Mesh\":\n  array 1 \"cells\" attribute \"Unit\": "
       "(none) | 2 (float)\n"},
      {"a name", [](Model& m) { m.tree.GetNode(3)->name = "Groups"; }, nullptr, 1,
       "Node /1 (left 3, right 3) \"Sets\":\n  name: \"Sets\" | \"Groups\"\n"},
      {"a link", [](Model& m) { ArrayOf(m, 2).linkIndex = 1; }, nullptr, 1,
       "Node /0 (left 2, right 2) \"Mesh\":\n  array 2 \"copy\" link: node /0 array 0 | node /0 "
       "array 1\n"},
      {"a node set member",
       [](Model& m) {
         KivMox::NodeAs<KivMox::NodeSets>(m.tree.GetNode(3))->sets[0].members[1] = {3, 5};
       },
       nullptr, 1,
       "Node /1 (left 3, right 3) \"Sets\":\n  set 0 \"fixed\" member 1: (3, 4) | (3, 5)\n"},
  };
  for (const Row& row : rows) {
    SaveBase(dir.File("changed.mox"), row.change);
    // Saves a second apart differ in their history.
    Names args = {dir.File("base.mox"), dir.File("changed.mox"), "--ignore", "history"};
    if (row.option) args.push_back(row.option);
    const Outcome run = RunDiff(args);
    SCOPED_TRACE(std::string(row.what) + "\n" + run.out + run.err);
    EXPECT_EQ(run.status, row.status);
    EXPECT_TRUE(Has(run.out, row.shown));
    if (row.status == 1) {
      EXPECT_TRUE(Has(run.out, "Summary: 1 difference ("));
      // The same difference in the JSON report.
      args.push_back("--json");
      const auto doc = nlohmann::json::parse(RunDiff(args).out);
      EXPECT_FALSE(doc.at("equal").get<bool>());
      EXPECT_EQ(doc.at("summary").at("differences"), 1);
      ASSERT_EQ(doc.at("nodes").size(), 1u);
    }
  }
  // The value statistics as JSON.
  SaveBase(dir.File("changed.mox"), value(3.5f));
  const auto doc =
      nlohmann::json::parse(RunDiff({dir.File("base.mox"), dir.File("changed.mox"), "--json"}).out);
  EXPECT_EQ(doc.at("nodes").at(0).at("path"), "/0");
  EXPECT_EQ(doc.at("nodes").at(0).at("arrays").at(0), nlohmann::json::parse(R"({
      "index": 0, "name": "values", "integers": false, "compared": 4, "differing": 1,
      "largestAbsolute": 0.5, "largestRelative": 0.14285714285714285,
      "first": [{"index": 2, "left": 3, "right": 3.5}]})"));
}

TEST(MoxDiffRun, BadInputEndsWithStatusTwo) {
  TempDir dir;
  SaveBase(dir.File("good.mox"));
  const std::string good = dir.File("good.mox"), cut = dir.File("cut.mox"),
                    missing = dir.File("missing.mox");
  const Bytes whole = ReadFileBytes(good);
  WriteFileBytes(cut, Bytes(whole.begin(), whole.end() - 1));  // inside its last block
  Bytes flipped = ReadFileBytes(good);
  flipped.at(BlockNamed(good, KivMox::kHeavyData).offset + 12) ^= 0x55;
  WriteFileBytes(dir.File("flipped.mox"), flipped);
  // The arguments, a part of the error, and whether the usage follows it.
  const std::tuple<Names, std::string, bool> rows[] = {
      {{missing, good}, "moxdiff: left file " + missing + ": ", false},
      {{cut, good},
       "moxdiff: left file " + cut + ": \"" + cut + "\" is cut short: its block table ends at " +
           "byte " + std::to_string(whole.size()) + ", the file has " +
           std::to_string(whole.size() - 1) + " bytes (container: the file is cut short: ",
       false},
      {{good, dir.File("flipped.mox")},
       "moxdiff: right file " + dir.File("flipped.mox") +
           ": Unable to decompress block (section \"Heavy Data\" block 0 (block 0 of the file): "
           "the zlib stream is damaged",
       false},
      {{good, good, "--left-node", "99"}, "moxdiff: --left-node 99: ", false},
      {{good, good, "--right-node", "4"}, "moxdiff: --right-node 4: ", false},
      {{}, "moxdiff: Two files are needed\n", true},
      {{good}, "moxdiff: Two files are needed\n", true},
      {{good, good, good}, "moxdiff: Unexpected argument ", true},
      {{good, good, "--colour"}, "moxdiff: Unknown option --colour\n", true},
      {{good, good, "--abs-tol", "-1"}, "Bad value for --abs-tol: \"-1\"", true},
      {{good, good, "--rel-tol", "1e"}, "Bad value for --rel-tol: \"1e\"", true},
      {{good, good, "--rel-tol", "nan"}, "Bad value for --rel-tol: \"nan\"", true},
      {{good, good, "--abs-tol"}, "moxdiff: Option --abs-tol needs a value\n", true},
      {{good, good, "--abs-tol=1", "--abs-tol=2"}, "Option --abs-tol given twice", true},
      {{good, good, "--left-node", "0"}, "Bad value for --left-node: \"0\"", true},
      {{good, good, "--left-node", "4294967296"}, "Bad value for --left-node", true},
      {{good, good, "--ignore", "history,colours"}, "Bad value for --ignore", true},
      {{good, good, "--brief=yes"}, "Option --brief takes no value", true},
      {{good, good, "--brief", "--json"}, "--brief and --json do not go together", true},
  };
  for (const auto& [args, error, usage] : rows) {
    const Outcome run = RunDiff(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Has(run.err, error)) << run.err;
    EXPECT_EQ(Has(run.err, "\nUsage: moxdiff A B "), usage) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// Two samples that differ in their view points (and in their save times when a second
// apart): equal when both are ignored; a damaged view point section is trouble.
TEST(MoxDiffRun, ViewPointsIgnoredOrDamaged) {
  TempDir dir;
  for (const std::string k : {"2", "3"}) {
    const Names args = {dir.File(k + ".mox"), "--seed", "5", "--heavy-mib", "0.05",
                        "--view-points",      k};
    ASSERT_EQ(Execute({"moxsample", args}).status, 0);
  }
  const std::string sound = dir.File("2.mox"), damaged = dir.File("damaged.mox");
  const std::pair<const char*, int> cases[] = {
      {"history", 1}, {"history,view-points", 0}, {"view-points,history", 0}};
  for (const auto& [ignore, status] : cases) {
    const Outcome run = RunDiff({sound, dir.File("3.mox"), "--brief", "--ignore", ignore});
    EXPECT_EQ(run.status, status) << ignore << "\n" << run.out << run.err;
  }
  Bytes bytes = ReadFileBytes(sound);
  bytes.at(BlockNamed(sound, KivMox::kViewPoints).offset + 12) ^= 0x55;
  WriteFileBytes(damaged, bytes);
  const std::string said =
      "moxdiff: right file " + damaged + ": section \"View Points\" is damaged";
  for (const Names& args : {Names{damaged, damaged}, Names{sound, damaged}}) {
    const Outcome run = RunDiff(args);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(Has(run.err, said) && Has(run.err, "(view points: ")) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // What is absent by design, and the view points of legacy containers, are no damage.
  SaveBase(dir.File("none.mox"));
  Write06(
      dir.File("legacy.mox"), 1,
      [](RawMox& raw) { raw.Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}); }, "0.2");
  for (const char* name : {"none.mox", "legacy.mox"}) {
    const Outcome run = RunDiff({dir.File(name), dir.File(name)});
    EXPECT_EQ(run.status, 0) << name << "\n" << run.out << run.err;
  }
}

// The help text begins with the usage and ends with the exit statuses.
TEST(MoxDiffRun, HelpAndVersion) {
  const Outcome help = RunDiff({"--help"}), version = RunDiff({"--version"});
  EXPECT_EQ(std::tuple(help.status, version.status, version.out),
            std::tuple(0, 0, "moxdiff (MoxMerge 2017 R1)\n"));
  EXPECT_EQ(help.out.rfind("Usage: moxdiff A B ", 0), 0u);
  const std::string tail = help.out.substr(help.out.rfind("\nExit status: "));
  EXPECT_TRUE(Has(tail, "0 equal") && Has(tail, "1 they differ") && Has(tail, "2 trouble") &&
              Count(tail, "\n") <= 3u)
      << help.out;
}

}  // namespace
