// moxinfo --check: damage built in memory into saved files or raw containers, each problem
// and warning reported where it lies; the exit statuses and the JSON document.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <set>

#include "kiv/mox/nodesets.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"
#include "tools/file_check.hpp"

using namespace AppTest;

namespace {

std::string Lines(const MoxTools::CheckReport& report) {
  std::ostringstream out;
  MoxTools::PrintCheckReport(report, false, out);
  return out.str();
}

// The rich test model saved by the program; Damage rewrites its bytes.
struct SavedModel {
  TempDir dir;
  std::string path = dir.File("model.mox");
  // With blockLimit, every stream is saved in blocks of at most that many bytes.
  explicit SavedModel(const char* blockLimit = nullptr) {
    EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", blockLimit);
    KivMox::Tree tree;
    BuildRichTree(tree);
    tree.Save(path);
  }
  std::uint64_t Offset(const std::string& section) const {
    return BlockNamed(path, section).offset;
  }
  MoxTools::CheckReport Damage(const std::function<void(Bytes&)>& damage) {
    Bytes bytes = ReadFileBytes(path);
    damage(bytes);
    WriteFileBytes(dir.File("damaged.mox"), bytes);
    return MoxTools::CheckFile(dir.File("damaged.mox"));
  }
};

// Whether a reader of ours refuses the file, the four run side by side: moxinfo's listing,
// the merge with it as first and as second input, moxdiff against itself.
bool ReadersRefuse(const TempDir& dir, const std::string& path, const std::string& sound) {
  const Names log = {"TESSARA_TEMP_PATH=" + dir.Path()};
  Process info({"moxinfo", {path}}), diff({"moxdiff", {path, path}}),
      first({"moxmerge", {path, sound, dir.File("m1.mox")}, log}),
      second({"moxmerge", {sound, path, dir.File("m2.mox")}, log});
  const int statuses[] = {info.Wait().status, first.Wait().status, second.Wait().status,
                          diff.Wait().status};
  return std::any_of(std::begin(statuses), std::end(statuses), [](int s) { return s == 2; });
}

// Raw containers with records that no sound writer produces; legacy: of version "0.2".
MoxTools::CheckReport CheckRaw(const TempDir& dir, std::int32_t count,
                               const std::function<void(RawMox&)>& body, bool legacy = false) {
  const std::string path = dir.File("raw.mox");
  {
    RawMox raw(path, legacy ? "0.2" : "1.3");
    raw.Put(KivMox::kMoxTree, count);
    raw.Header(1, 0, 0, "", "", 0, count > 1 ? 2 : 0, count > 1 ? count : 0);
    body(raw);
  }
  return MoxTools::CheckFile(path);
}

void AddToLength(Bytes& b, std::uint64_t at, std::int32_t delta) {
  SetU32At(b, at, U32At(b, at) + static_cast<std::uint32_t>(delta));
}

using Found = std::vector<std::pair<std::string, std::string>>;

// Whether each (where, what) is found among the findings in order, where as the start of a
// finding's place and what as a part of its text; one finding may hold several.
bool FoundInOrder(const std::vector<MoxTools::Finding>& findings, const Found& expected) {
  auto at = findings.begin();
  for (const auto& [where, what] : expected) {
    at = std::find_if(at, findings.end(), [&](const MoxTools::Finding& f) {
      return f.where.rfind(where, 0) == 0 && Has(f.what, what);
    });
    if (at == findings.end()) return false;
  }
  return true;
}

// Damage to a saved model: damaged blocks with their sections; a stream shorter than its
// length field, a warning where no reader takes the length from the field; a section renamed
// in the block table, two warnings. A reader refuses the file when it has problems only.
TEST(FileCheck, DamageToASavedModel) {
  SavedModel model;
  const std::uint64_t heavy = model.Offset("Heavy Data"), light = model.Offset("Light Data"),
                      attributes = model.Offset("Attributes");
  // The numbers of problems and warnings the damage gives, and (where, what) of each
  // expected among them.
  const auto check = [&](const char* name, const std::function<void(Bytes&)>& damage,
                         std::size_t problems, std::size_t warnings, const Found& problemsFound,
                         const Found& warningsFound = {}) {
    const MoxTools::CheckReport report = model.Damage(damage);
    SCOPED_TRACE(std::string(name) + "\n" + Lines(report));
    EXPECT_EQ(std::pair(report.problems.size(), report.warnings.size()),
              std::pair(problems, warnings));
    EXPECT_TRUE(FoundInOrder(report.problems, problemsFound));
    EXPECT_TRUE(FoundInOrder(report.warnings, warningsFound));
    EXPECT_EQ(report.Sound(false), problems == 0);
    EXPECT_EQ(report.Sound(true), problems == 0 && warnings == 0);
    EXPECT_EQ(ReadersRefuse(model.dir, model.dir.File("damaged.mox"), model.path), problems != 0);
  };
  const std::string zlib = "the zlib stream is damaged",
                    heavyBlock = "section \"Heavy Data\" block 0";
  check("two damaged blocks", [&](Bytes& b) { b[heavy + 12] ^= 0x55, b[attributes + 12] ^= 0x55; },
        3, 0,
        {{"node 1 \"Model\" (\"Group\")", "the node tree is cut short here"},
         {"section \"Attributes\" block 0 (block ", zlib},
         {heavyBlock, zlib}});
  check("heavy block damaged", [&](Bytes& b) { b[heavy + 12] ^= 0x55; }, 1, 0,
        {{heavyBlock, zlib + " (its data or its checksum); 5 records in it cannot be read"}});
  check("heavy length field lies", [&](Bytes& b) { AddToLength(b, heavy, 4); }, 1, 0,
        {{heavyBlock, "the length field declares"}, {heavyBlock, "cut short here"}});
  check("light length field lies, heavy block damaged",
        [&](Bytes& b) { AddToLength(b, light, -2), b[heavy + 12] ^= 0x55; }, 3, 0,
        {{"node 1 \"Model\"", "Unable to decompress block"},
         {"section \"Light Data\" block 0", "the zlib stream gives"},
         {heavyBlock, zlib}});
  check("cut inside the heavy data: one problem", [&](Bytes& b) { b.resize(heavy + 20); }, 1, 0,
        {{"container", "the file is cut short"},
         {"container", "; not read for it: section \"Global Information\", section \"Mox Tree\""}});
  check("attributes length field lies", [&](Bytes& b) { AddToLength(b, attributes, 3); }, 0, 1, {},
        {{"section \"Attributes\" block 0", "bytes, the zlib stream gives "},
         {"section \"Attributes\" block 0", "; the readers take the bytes it gives"}});
  check("bytes after the last block", [](Bytes& b) { b.resize(b.size() + 5); }, 0, 1, {},
        {{"", "the file goes on 5 bytes after the end of its last block"}});
  for (const std::string section : {"Attributes", "Resources"}) {
    const std::string first =
        section == "Attributes" ? "node 1 \"Model\" (\"Group\")" : "node 3 \"Steel\" (\"Shape\")";
    const std::string renamed = section.substr(0, section.size() - 1) + "S";
    check(section.c_str(),
          [&](Bytes& b) {
            const auto at = std::search(b.begin(), b.end(), section.begin(), section.end());
            ASSERT_LT(std::uint64_t(at - b.begin()), heavy);
            at[section.size() - 1] = 'S';
          },
          0, 2, {},
          {{"section \"" + section + "\"",
            "the file has no such section, and the readers read it as empty; " + first +
                " is the first whose record reads from it"},
           {"section \"" + renamed + "\"", "no reader reads this section"}});
  }
}

// The model as saved is sound. A file cut inside its last block, in its primary index or
// in its header: the cut is one problem with both lengths (and what the readers could not
// read for it); the blocks inside the file are still checked.
TEST(FileCheck, CutFileIsOneProblem) {
  SavedModel model;
  const MoxTools::CheckReport sound = MoxTools::CheckFile(model.path);
  EXPECT_TRUE(sound.problems.empty() && sound.warnings.empty()) << Lines(sound);
  EXPECT_EQ(sound.arrays, 4u);
  EXPECT_EQ(sound.nodeSetRecords, 1u);
  const auto rows = BlocksOf(model.path);
  const auto last = std::find_if(rows.rbegin(), rows.rend(),
                                 [](const KivRkf::BlockInfo& row) { return row.storedSize != 0; });
  const std::uint64_t size = ReadFileBytes(model.path).size(), at = last->offset + 3;
  const std::pair<std::uint64_t, std::string> cuts[] = {
      {at, "its block table ends at byte " + std::to_string(size) + ", the file has " +
               std::to_string(at) + " bytes; block " + std::to_string(rows.rend() - last - 1) +
               " is the first that runs past its end; not read for it: section \"" + last->name +
               "\""},
      {100, "it has 100 bytes, its primary index ends at byte " + std::to_string(rows[0].offset)},
      {10, "it has 10 bytes, too few for its header (16 bytes)"},
  };
  for (const auto& [length, what] : cuts) {
    const MoxTools::CheckReport report = model.Damage([&](Bytes& b) { b.resize(length); });
    ASSERT_EQ(report.problems.size(), 1u) << Lines(report);
    EXPECT_EQ(report.problems[0].where, "container");
    EXPECT_EQ(report.problems[0].what, "the file is cut short: " + what);
  }
  const MoxTools::CheckReport report = model.Damage([&](Bytes& b) { b.resize(at); });
  EXPECT_EQ(std::make_tuple(report.nodes, report.arrays, report.nodeSetRecords),
            std::make_tuple(sound.nodes, sound.arrays, sound.nodeSetRecords));

  // A cut inside the index block that continues the table (block 19): the table's end is
  // known only as far as the chain was read.
  SavedModel small("16");
  const auto blocks = BlocksOf(small.path);
  ASSERT_GT(blocks.size(), 20u);
  const std::uint64_t chainEnd = blocks[19].offset + blocks[19].storedSize,
                      inChain = blocks[19].offset + blocks[19].storedSize / 2;
  const MoxTools::CheckReport chain = small.Damage([&](Bytes& b) { b.resize(inChain); });
  ASSERT_EQ(chain.problems.size(), 1u) << Lines(chain);
  EXPECT_TRUE(Has(chain.problems[0].what,
                  "the file is cut short: its block table ends at byte " +
                      std::to_string(chainEnd) + " or later, the file has " +
                      std::to_string(inChain) +
                      " bytes; block 19 is the first that runs past its end; not read for it: "
                      "node 2 \"Part A\" (\"Group\")"))
      << Lines(chain);
}

// A node-set node of one set, "ab", with one member (5, 6), whose heavy record holds the
// offset lists given.
std::function<void(RawMox&)> NodeSetsNode(std::vector<u32> nameOffsets,
                                          std::vector<u32> memberOffsets) {
  const std::string names = "ab";
  const std::vector<u32> firsts = {5}, seconds = {6};
  return [=](RawMox& raw) {
    raw.Header(2, 1, 0, "NodeSets", "0.1", raw.LightSize());
    KivRkf::Block heavy;
    heavy.Put(nameOffsets), heavy.Put(names), heavy.Put(memberOffsets), heavy.Put(firsts),
        heavy.Put(seconds);
    raw.Put(KivMox::kLightData, KivMox::kNodeSetsLightPayload, u32{1}, std::uint64_t{0},
            heavy.Size());
    raw.Ix().Put(KivMox::kHeavyData, heavy.Data(), heavy.Size());
  };
}

// View point records; with framePastEntry, the second entry's frame runs past its entry.
std::function<void(RawMox&)> ViewPoints(bool framePastEntry) {
  return [=](RawMox& raw) {
    KivMox::ViewPointEntry front, side;
    front.name = "front", side.name = "side";
    side.viewPoint = KivMox::RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});
    const std::uint32_t size = 40;  // the frame has 16 bytes
    if (framePastEntry) std::memcpy(side.viewPoint.bytes.data(), &size, 4);
    raw.Put(KivMox::kViewPoints, front, u32{1}, std::string("cameras"), u32{2}, front, side,
            KivMox::ActionCollection{}, Bytes(64, 0));
  };
}

// Each damage with the problem or warning it must give (its line of the report, in part),
// and the rule that the check and the readers agree: a file a reader refuses has a problem,
// a file without problems every reader reads.
TEST(FileCheck, RecordsAndRunsFromRawContainers) {
  TempDir dir;
  // Geometries whose runs lie in sixteen bytes of heavy data, or past them.
  const auto geometry = [](u32 size, u32 position, const std::string& version = "0.6") {
    return [=](RawMox& raw) {
      raw.Header(2, 1, 0, "Geometry", version, raw.LightSize());
      Geometry06(raw, size, position);
      raw.Ix().Put(KivMox::kHeavyData, Bytes(16, 7).data(), 16);
    };
  };
  const auto twoGeometries = [](u32 size, u32 position, const std::string& first = "0.6") {
    return [=](RawMox& raw) {
      raw.Header(2, 1, 3, "Geometry", first, raw.LightSize());
      Geometry06(raw, 8, 0);
      raw.Header(3, 1, 0, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, size, position);
      raw.Ix().Put(KivMox::kHeavyData, Bytes(16, 7).data(), 16);
    };
  };
  const std::string sound = dir.File("sound.mox");
  CheckRaw(dir, 2, geometry(16, 0));
  std::filesystem::copy_file(dir.File("raw.mox"), sound);
  const std::string legacyViews =
      "warning: section \"View Points\": the view points of a container of version \"0.2\" "
      "cannot be read and are left out";
  // A problem of array 0 "values" of node n.
  const auto values = [](int n, const std::string& what) {
    const std::string node = "node " + std::to_string(n);
    return "problem: " + node + " \"" + node + "\" array 0 \"values\": " + what;
  };
  struct Case {
    const char* name;
    std::int32_t nodes;
    std::function<void(RawMox&)> body;
    std::string finding;  // the one problem or warning, in part; empty: none
    bool legacy = false;  // a container of version "0.2"
    // Heavy bytes no record references, counted only when the whole node tree was read:
    // with the tree cut short, the records not read may well reference them.
    std::optional<std::uint64_t> unreferenced = {};
  } cases[] = {
      {"bytes unreferenced", 2, geometry(8, 4), "", false, 8},
      {"older record read at once", 2, geometry(16, 0, "0.5"), ""},
      {"headers cut short", 3, geometry(8, 4),
       "problem: section \"Mox Tree\" header 3 of 3: the node tree is cut short here (2 nodes "
       "read)",
       false, 0},
      {"group record cut short", 2,
       [](RawMox& raw) {
         raw.Header(2, 1, 0, "Group", "0.4", raw.LightSize());
         raw.Put(KivMox::kLightData, u32{1}, u32{2});
       },
       "problem: node 2 \"node 2\" (\"Group\"): the node tree is cut short here (1 nodes read)"},
      {"run beyond the section", 2, geometry(16, 8),
       values(2, "bytes 8 to 24 lie beyond the end of the section (16 bytes)")},
      {"byte size not a multiple of 4", 2, geometry(6, 0),
       values(2, "its byte size 6 is not a multiple of 4")},
      {"runs that share bytes", 3, twoGeometries(8, 4),
       values(3, "bytes 4 to 8 of the section are also those of node 2 \"node 2\" array 0")},
      {"run inside another and past the section", 3, twoGeometries(20, 4),
       values(3,
              "bytes 4 to 24 run past the end of the section (16 bytes); bytes 4 to 8 of the "
              "section are also those of node 2")},
      {"empty run past the section", 2, geometry(0, 20),
       values(2, "it is empty, but its position 20 lies past the end of the section (16 bytes)")},
      {"older record, byte size not a multiple of 4", 2, geometry(10, 0, "0.5"),
       values(2, "its byte size 10 is not a multiple of 4")},
      {"older record beyond the section, the next node read", 3, twoGeometries(8, 24, "0.5"),
       values(3, "bytes 24 to 32 lie beyond the end")},
      {"older records that share bytes", 3, twoGeometries(8, 4, "0.5"),
       values(3, "bytes 4 to 8 of the section are also those of node 2")},
      {"tree link of 0xFFFFFFFF", 2, [](RawMox& raw) { raw.Header(2, 1, 0xFFFFFFFF, "", "", 0); },
       "problem: node 2 \"\": its next sibling link is 0xFFFFFFFF, which a merge cannot shift"},
      {"sound node sets", 2, NodeSetsNode({0, 2}, {0, 1}), ""},
      {"first name offset not 0", 2, NodeSetsNode({1, 2}, {0, 1}),
       "problem: node 2 \"node 2\" node sets: its first name offset is 1, not 0"},
      {"last name offset short of the names", 2, NodeSetsNode({0, 1}, {0, 1}),
       "problem: node 2 \"node 2\" node sets: its last name offset is 1, but the joined names "
       "have 2 bytes"},
      {"first member offset not 0", 2, NodeSetsNode({0, 2}, {1, 1}),
       "problem: node 2 \"node 2\" node sets: its first member offset is 1, not 0"},
      {"a section no reader reads", 2,
       [](RawMox& raw) {
         raw.Header(2, 1, 0, "", "", 0);
         raw.Put("Attributez", u32{7});
       },
       "warning: section \"Attributez\": no reader reads this section: its 1 blocks"},
      {"dangling array link", 2,
       [](RawMox& raw) {
         raw.Header(2, 1, 0, "Geometry", "0.7", raw.LightSize());
         raw.Put(KivMox::kLightData, u32{1}, std::string("copy"), u32{1}, u8{1}, u32{9}, u32{0},
                 u8{0});
         for (int i = 0; i < 6; ++i) raw.Put(KivMox::kAttributes, u32{0});
       },
       "warning: node 2 \"node 2\" array 0 \"copy\": links to array 0 of node 9, which does not "
       "exist"},
      {"dangling sibling link", 2, [](RawMox& raw) { raw.Header(2, 1, 7, "", "", 0); },
       "warning: node 2 \"\": its next sibling link names node 7, which does not exist"},
      // A frame past its entry is placed at its group and entry; a legacy container's view
      // point records have no size, and the readers leave the section out.
      {"sound view points", 1, ViewPoints(false), ""},
      {"view point frame past its entry", 1, ViewPoints(true),
       "problem: section \"View Points\" group 0 \"cameras\" entry 1 \"side\": view points: "},
      {"legacy view points", 1, ViewPoints(false), legacyViews, true},
      {"legacy view point frame past its entry", 1, ViewPoints(true), legacyViews, true},
  };
  // Problems every reader passes over, damage they carry on or read back differently: a run
  // that is no whole number of values, which a merge copies into a record that moxdiff
  // refuses, and offset lists.
  const std::set<std::string> passedOver = {
      "older record, byte size not a multiple of 4", "first name offset not 0",
      "last name offset short of the names", "first member offset not 0"};
  for (const Case& c : cases) {
    const MoxTools::CheckReport report = CheckRaw(dir, c.nodes, c.body, c.legacy);
    const std::string lines = Lines(report);
    SCOPED_TRACE(std::string(c.name) + "\n" + lines);
    const bool problem = c.finding.rfind("problem: ", 0) == 0;
    EXPECT_EQ(report.problems.size(), problem ? 1u : 0u);
    EXPECT_EQ(report.warnings.size(), c.finding.rfind("warning: ", 0) == 0 ? 1u : 0u);
    EXPECT_TRUE(Has(lines, c.finding));
    EXPECT_EQ(report.Sound(false), !problem);
    EXPECT_EQ(report.Sound(true), c.finding.empty());
    if (c.unreferenced) {
      EXPECT_EQ(report.unreferencedHeavyBytes, *c.unreferenced);
    }
    EXPECT_EQ(ReadersRefuse(dir, dir.File("raw.mox"), sound), problem && !passedOver.count(c.name));
  }
}

TEST(FileCheck, ExitStatusesAndJson) {
  SavedModel model;
  model.Damage([&](Bytes& b) { b[model.Offset("Heavy Data") + 12] ^= 0x55; });
  const std::string damaged = model.dir.File("damaged.mox"), longer = model.dir.File("longer.mox");
  WriteFileBytes(longer, Cat({ReadFileBytes(model.path), Bytes(5, 0)}));  // a warning only
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--check", model.path}, 0, ": sound; checked "},
      {{"--check", longer}, 0, "warning: "},
      {{"--check", "--strict", longer}, 2, ": damaged; checked "},
      {{"--check", damaged}, 2, "problem: section \"Heavy Data\" block 0"},
      {{"--check", model.dir.File("missing.mox")}, 2, "problem: container: "},
      {{"--check", "--blocks", model.path}, 1, ""},
      {{"--strict", model.path}, 1, ""},
  };
  for (const auto& [args, status, out] : cases) {
    const Outcome run = Execute({"moxinfo", args});
    EXPECT_EQ(run.status, status) << args.back() << run.err;
    EXPECT_TRUE(Has(run.out, out)) << run.out;
    if (status == 2) {
      EXPECT_TRUE(Has(run.err, ": damaged; checked ")) << run.err;
    }
  }
  const Outcome json = Execute({"moxinfo", {"--check", damaged, "--json"}});
  ASSERT_EQ(json.status, 2);
  const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(json.out);
  std::vector<std::string> keys;
  for (const auto& [key, value] : doc.items()) keys.push_back(key);
  EXPECT_EQ(keys,
            (Names{"file", "sound", "problems", "warnings", "unreferencedHeavyBytes", "summary"}));
  EXPECT_EQ(doc["sound"], false);
  EXPECT_EQ(doc["problems"][0]["where"], "section \"Heavy Data\" block 0 (block 0 of the file)");

  // Several files: each checked, the status the worst of them.
  const Outcome several = Execute({"moxinfo", {"--check", model.path, damaged, model.path}});
  EXPECT_EQ(several.status, 2);
  EXPECT_EQ(Count(several.out, ": sound; checked "), 2u) << several.out;
  EXPECT_EQ(Count(several.out, ": damaged; checked "), 1u) << several.out;
  EXPECT_EQ(Execute({"moxinfo", {"--check", model.path, model.path}}).status, 0);
  const Outcome array = Execute({"moxinfo", {"--check", "--json", model.path, damaged}});
  const nlohmann::ordered_json docs = nlohmann::ordered_json::parse(array.out);
  ASSERT_TRUE(docs.is_array() && docs.size() == 2u) << array.out;
  EXPECT_TRUE(docs[0]["sound"] == true && docs[1]["sound"] == false) << array.out;
}

// A plain merge adopts its inputs' heavy blocks with their node sets' bytes in them: counted,
// not warned about, so --strict holds for the program's own merges.
TEST(FileCheck, StrictHoldsForAMergeThatAdoptedBlocks) {
  TempDir dir;
  for (const std::string seed : {"1", "2"}) {
    const Names args = {dir.File(seed + ".mox"), "--heavy-mib", "0.2", "--seed", seed};
    ASSERT_EQ(Execute({"moxsample", args}).status, 0);
  }
  ASSERT_EQ(RunMoxMerge(dir, {dir.File("1.mox"), dir.File("2.mox"), dir.File("m.mox")}).status, 0);
  const MoxTools::CheckReport report = MoxTools::CheckFile(dir.File("m.mox"));
  EXPECT_TRUE(report.Sound(true)) << Lines(report);
  EXPECT_GT(report.unreferencedHeavyBytes, 0u);
  EXPECT_TRUE(
      Has(report.Summary(true), " bytes of heavy data unreferenced; 0 problems, 0 warnings"))
      << report.Summary(true);
}

}  // namespace
