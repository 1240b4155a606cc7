// moxinfo --check: damage built in memory into files the program saved or into raw
// containers, each reported with where it lies; several faults all reported; warnings
// apart from problems; the exit statuses and the JSON document.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
  // The file offset of the first stored byte of the stream's first block.
  std::uint64_t Offset(const std::string& name) const {
    for (const auto& row : BlocksOf(path))
      if (row.name == name) return row.offset;
    throw std::runtime_error("no block " + name);
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

// Raw containers with records that no sound writer produces.
MoxTools::CheckReport CheckRaw(const TempDir& dir, std::int32_t count,
                               const std::function<void(RawMox&)>& body, const Bytes& heavy,
                               const char (&version)[4] = "1.3") {
  const std::string path = dir.File("raw.mox");
  {
    RawMox raw(path, version);
    raw.Put(KivMox::kMoxTree, count);
    raw.Header(1, 0, 0, "", "", 0, count > 1 ? 2 : 0, count > 1 ? count : 0);
    body(raw);
    if (!heavy.empty())
      raw.Ix().Put(KivMox::kHeavyData, heavy.data(), static_cast<u32>(heavy.size()));
    raw.Ix().WriteAllBuffersToFileStream(raw.file_.Stream());
    raw.file_.CloseFile();
  }
  return MoxTools::CheckFile(path);
}

void AddToLength(Bytes& b, std::uint64_t at, std::int32_t delta) {
  std::uint32_t v = 0;
  std::memcpy(&v, &b[at], 4);
  v += static_cast<std::uint32_t>(delta);
  std::memcpy(&b[at], &v, 4);
}

TEST(FileCheck, SavedModelIsSound) {
  SavedModel model;
  const MoxTools::CheckReport report = MoxTools::CheckFile(model.path);
  EXPECT_TRUE(report.problems.empty() && report.warnings.empty()) << Lines(report);
  EXPECT_EQ(report.arrays, 4u);
  EXPECT_EQ(report.nodeSetRecords, 1u);
  EXPECT_TRUE(Has(report.Summary(true), ": sound; checked ")) << report.Summary(true);
  const MoxTools::CheckReport longer = model.Damage([](Bytes& b) { b.resize(b.size() + 5); });
  ASSERT_EQ(longer.warnings.size(), 1u) << Lines(longer);
  EXPECT_EQ(longer.warnings[0].what, "the file goes on 5 bytes after the end of its last block");
  EXPECT_TRUE(longer.problems.empty() && longer.Sound(false) && !longer.Sound(true));
}

TEST(FileCheck, EveryDamagedBlockReportedWithItsSection) {
  SavedModel model;
  const std::uint64_t heavy = model.Offset("Heavy Data"), light = model.Offset("Light Data"),
                      attributes = model.Offset("Attributes");
  const std::string zlib = "the zlib stream is damaged";
  const std::string cut = "cut short here";
  // Damage, then every (where, what) that must be among the problems, and their number.
  const std::tuple<const char*, std::function<void(Bytes&)>,
                   std::vector<std::pair<std::string, std::string>>, std::size_t>
      cases[] = {
          {"two damaged blocks",
           [&](Bytes& b) { b[heavy + 12] ^= 0x55, b[attributes + 12] ^= 0x55; },
           {{"section \"Attributes\" block 0 (block ", zlib},
            {"section \"Heavy Data\" block 0", zlib},
            {"node 1 \"Model\" (\"Group\")", "the node tree is cut short here"}},
           3},
          {"heavy block damaged",
           [&](Bytes& b) { b[heavy + 12] ^= 0x55; },
           {{"section \"Heavy Data\" block 0", zlib + " (its data or its checksum); 5 records "
                                                      "in it cannot be read"}},
           1},
          {"heavy length field lies",
           [&](Bytes& b) { AddToLength(b, heavy, 4); },
           {{"section \"Heavy Data\" block 0", "the length field declares"},
            {"section \"Heavy Data\" block 0", cut}},
           1},
          {"light length field lies, heavy block damaged",
           [&](Bytes& b) { AddToLength(b, light, -2), b[heavy + 12] ^= 0x55; },
           {{"section \"Light Data\" block 0", "the zlib stream gives"},
            {"section \"Heavy Data\" block 0", zlib},
            {"node 1 \"Model\"", "Unable to decompress block"}},
           3},
          {"cut inside the heavy data: one problem",
           [&](Bytes& b) { b.resize(heavy + 20); },
           {{"container", "the file is cut short"},
            {"container",
             "; not read for it: section \"Global Information\", section \"Mox Tree\""}},
           1},
      };
  for (const auto& [name, damage, expected, count] : cases) {
    const MoxTools::CheckReport report = model.Damage(damage);
    const std::string lines = Lines(report);
    EXPECT_EQ(report.problems.size(), count) << name << "\n" << lines;
    for (const auto& [where, what] : expected)
      EXPECT_TRUE(std::any_of(
          report.problems.begin(), report.problems.end(),
          [&](const MoxTools::Finding& f) { return Has(f.where, where) && Has(f.what, what); }))
          << name << ": no problem at " << where << ": " << what << "\n"
          << lines;
    EXPECT_FALSE(report.Sound(false)) << name;
    EXPECT_TRUE(ReadersRefuse(model.dir, model.dir.File("damaged.mox"), model.path)) << name;
  }
}

// A stream shorter than its length field where no reader takes the length from the field
// is a warning, and the readers load the file; in the heavy data it is a problem (above).
TEST(FileCheck, AShorterStreamWhereNoPositionDependsOnItIsAWarning) {
  SavedModel model;
  const std::uint64_t attributes = model.Offset("Attributes");
  const MoxTools::CheckReport report =
      model.Damage([&](Bytes& b) { AddToLength(b, attributes, 3); });
  ASSERT_EQ(std::pair(report.problems.size(), report.warnings.size()), std::pair(0ul, 1ul))
      << Lines(report);
  EXPECT_TRUE(Has(report.warnings[0].where, "section \"Attributes\" block 0"));
  EXPECT_TRUE(Has(report.warnings[0].what, "bytes, the zlib stream gives ") &&
              Has(report.warnings[0].what, "; the readers take the bytes it gives"))
      << report.warnings[0].what;
  KivMox::Tree tree;
  KivMox::Tree::IdentifierMap identifiers;
  tree.SetDeferredLoading(true);
  EXPECT_NO_THROW(tree.Load(model.dir.File("damaged.mox"), identifiers));
  EXPECT_NO_THROW(tree.Save(model.dir.File("again.mox")));
}

// A section name damaged in the block table: the readers take the section for missing and
// the nodes that read from it keep their defaults (no attributes, the default material).
// Two warnings: the section the file lacks, with the first node that read from it, and the
// section no reader reads.
TEST(FileCheck, ADamagedSectionNameIsTwoWarnings) {
  SavedModel model;
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Attributes", "AttributeS", "node 1 \"Model\" (\"Group\")"},
      {"Resources", "ResourceS", "node 3 \"Steel\" (\"Shape\")"}};
  for (const auto& [section, damaged, first] : cases) {
    const MoxTools::CheckReport report = model.Damage([&](Bytes& b) {
      const auto at = std::search(b.begin(), b.end(), section.begin(), section.end());
      ASSERT_LT(std::uint64_t(at - b.begin()), model.Offset("Heavy Data"));
      at[section.size() - 1] = 'S';
    });
    ASSERT_EQ(std::pair(report.problems.size(), report.warnings.size()), std::pair(0ul, 2ul))
        << Lines(report);
    EXPECT_EQ(report.warnings[0].where, "section \"" + section + "\"");
    EXPECT_EQ(report.warnings[0].what,
              "the file has no such section, and the readers read it as empty; " + first +
                  " is the first whose record reads from it");
    EXPECT_EQ(report.warnings[1].where, "section \"" + damaged + "\"");
    EXPECT_TRUE(Has(report.warnings[1].what, "no reader reads this section")) << Lines(report);
    EXPECT_EQ(Execute({"moxinfo", {"--check", "--strict", model.dir.File("damaged.mox")}}).status,
              2);
    EXPECT_FALSE(ReadersRefuse(model.dir, model.dir.File("damaged.mox"), model.path)) << section;
  }
}

// A file cut inside its last block, in its primary index or in its header: the cut is one
// problem with both lengths (and what the readers could not read for it); the blocks
// inside the file are still checked.
TEST(FileCheck, CutFileIsOneProblem) {
  SavedModel model;
  const MoxTools::CheckReport sound = MoxTools::CheckFile(model.path);
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

// Heavy bytes no record references are counted only when the whole node tree was read:
// with the tree cut short, the records not read may well reference them.
TEST(FileCheck, UnreferencedBytesCountedForAWholeTreeOnly) {
  TempDir dir;
  const auto geometry = [](RawMox& raw) {
    raw.Header(2, 1, 0, "Geometry", "0.6", raw.LightSize());
    Geometry06(raw, 8, 4);
  };
  EXPECT_EQ(CheckRaw(dir, 2, geometry, Bytes(16, 7)).unreferencedHeavyBytes, 8u);
  const MoxTools::CheckReport cut = CheckRaw(dir, 3, geometry, Bytes(16, 7));
  EXPECT_EQ(std::pair(cut.problems.size(), cut.unreferencedHeavyBytes), std::pair(1ul, 0ul))
      << Lines(cut);
}

// A nested view point frame that runs past its entry is a problem placed at its group and
// entry; the same section in a legacy container, whose view point records have no size,
// is left out by the readers and is a warning.
TEST(FileCheck, ViewPointsFromRawContainers) {
  TempDir dir;
  const std::string sound = dir.File("sound.mox");
  CheckRaw(dir, 1, [](RawMox&) {}, {});
  std::filesystem::copy_file(dir.File("raw.mox"), sound);
  const auto views = [](bool framePastEntry) {
    return [=](RawMox& raw) {
      KivMox::ViewPointEntry front, side;
      front.name = "front", side.name = "side";
      side.viewPoint = KivMox::RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});
      const std::uint32_t size = 40;  // the frame has 16 bytes
      if (framePastEntry) std::memcpy(side.viewPoint.bytes.data(), &size, 4);
      raw.Put(KivMox::kViewPoints, front, u32{1}, std::string("cameras"), u32{2}, front, side,
              KivMox::ActionCollection{}, Bytes(64, 0));
    };
  };
  // Container version, frame damaged; the problem and warning expected (in part), or none.
  const std::tuple<const char*, bool, std::string, std::string> cases[] = {
      {"1.3", false, "", ""},
      {"1.3", true,
       "section \"View Points\" group 0 \"cameras\" entry 1 \"side\": view points: ", ""},
      {"0.2", false, "",
       "section \"View Points\": the view points of a container of version \"0.2\" cannot be "
       "read and are left out"},
      {"0.2", true, "",
       "section \"View Points\": the view points of a container of version \"0.2\" cannot be "
       "read and are left out"}};
  for (const auto& [version, damaged, problem, warning] : cases) {
    const MoxTools::CheckReport report = std::string(version) == "0.2"
                                             ? CheckRaw(dir, 1, views(damaged), {}, "0.2")
                                             : CheckRaw(dir, 1, views(damaged), {});
    const std::string lines = Lines(report);
    ASSERT_EQ(report.problems.size(), problem.empty() ? 0u : 1u) << version << "\n" << lines;
    ASSERT_EQ(report.warnings.size(), warning.empty() ? 0u : 1u) << version << "\n" << lines;
    if (!problem.empty()) {
      EXPECT_TRUE(Has(report.problems[0].where + ": " + report.problems[0].what, problem)) << lines;
    }
    if (!warning.empty()) {
      EXPECT_TRUE(Has(report.warnings[0].where + ": " + report.warnings[0].what, warning)) << lines;
    }
    EXPECT_EQ(ReadersRefuse(dir, dir.File("raw.mox"), sound), !problem.empty()) << lines;
  }
}

// A node-set node of one set whose heavy record holds the lists given.
std::function<void(RawMox&)> NodeSetsNode(std::vector<u32> nameOffsets, std::string names,
                                          std::vector<u32> memberOffsets, std::vector<u32> firsts,
                                          std::vector<u32> seconds) {
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

// Each damage with the problems and warnings it must give (where and what, in part, in
// order), and the rule that the check and the readers agree: a file a reader refuses has
// a problem, a file without problems every reader reads.
TEST(FileCheck, RecordsAndRunsFromRawContainers) {
  TempDir dir;
  const auto geometry = [](u32 size, u32 position, const std::string& version = "0.6") {
    return [=](RawMox& raw) {
      raw.Header(2, 1, 0, "Geometry", version, raw.LightSize());
      Geometry06(raw, size, position);
    };
  };
  const auto twoGeometries = [](u32 size, u32 position, const std::string& first = "0.6") {
    return [=](RawMox& raw) {
      raw.Header(2, 1, 3, "Geometry", first, raw.LightSize());
      Geometry06(raw, 8, 0);
      raw.Header(3, 1, 0, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, size, position);
    };
  };
  const std::string sound = dir.File("sound.mox");
  CheckRaw(dir, 2, geometry(16, 0), Bytes(16, 7));
  std::filesystem::copy_file(dir.File("raw.mox"), sound);
  const Bytes sixteen(16, 7);
  // Nodes, body, heavy bytes; then the problem and warning lines expected (in part) in order.
  const std::tuple<const char*, std::int32_t, std::function<void(RawMox&)>, Bytes,
                   std::vector<std::string>, std::vector<std::string>>
      cases[] = {
          {"sound", 2, geometry(16, 0), sixteen, {}, {}},
          {"older record read at once",
           2,
           [](RawMox& raw) {
             raw.Header(2, 1, 0, "Geometry", "0.5", raw.LightSize());
             Geometry06(raw, 16, 0);
           },
           sixteen,
           {},
           {}},
          {"headers cut short",
           3,
           geometry(16, 0),
           sixteen,
           {"section \"Mox Tree\" header 3 of 3: the node tree is cut short here (2 nodes read)"},
           {}},
          {"group record cut short",
           2,
           [](RawMox& raw) {
             raw.Header(2, 1, 0, "Group", "0.4", raw.LightSize());
             raw.Put(KivMox::kLightData, u32{1}, u32{2});
           },
           {},
           {"node 2 \"node 2\" (\"Group\"): the node tree is cut short here (1 nodes read)"},
           {}},
          {"run beyond the section",
           2,
           geometry(16, 8),
           sixteen,
           {"node 2 \"node 2\" array 0 \"values\": bytes 8 to 24 lie beyond the end of the "
            "section (16 bytes)"},
           {}},
          {"byte size not a multiple of 4",
           2,
           geometry(6, 0),
           sixteen,
           {"array 0 \"values\": its byte size 6 is not a multiple of 4"},
           {}},
          {"runs that share bytes",
           3,
           twoGeometries(8, 4),
           sixteen,
           {"node 3 \"node 3\" array 0 \"values\": bytes 4 to 8 of the section are also those "
            "of node 2 \"node 2\" array 0"},
           {}},
          {"run inside another and past the section",
           3,
           twoGeometries(20, 4),
           sixteen,
           {"node 3 \"node 3\" array 0 \"values\": bytes 4 to 24 run past the end of the section "
            "(16 bytes); bytes 4 to 8 of the section are also those of node 2"},
           {}},
          {"empty run past the section",
           2,
           geometry(0, 20),
           sixteen,
           {"array 0 \"values\": it is empty, but its position 20 lies past the end of the "
            "section (16 bytes)"},
           {}},
          {"older record, byte size not a multiple of 4",
           2,
           geometry(10, 0, "0.5"),
           sixteen,
           {"node 2 \"node 2\" array 0 \"values\": its byte size 10 is not a multiple of 4"},
           {}},
          {"older record beyond the section, the next node read",
           3,
           twoGeometries(8, 24, "0.5"),
           sixteen,
           {"node 3 \"node 3\" array 0 \"values\": bytes 24 to 32 lie beyond the end"},
           {}},
          {"older records that share bytes",
           3,
           twoGeometries(8, 4, "0.5"),
           sixteen,
           {"node 3 \"node 3\" array 0 \"values\": bytes 4 to 8 of the section are also those "
            "of node 2"},
           {}},
          {"tree link of 0xFFFFFFFF",
           2,
           [](RawMox& raw) { raw.Header(2, 1, 0xFFFFFFFF, "", "", 0); },
           {},
           {"node 2 \"\": its next sibling link is 0xFFFFFFFF, which a merge cannot shift"},
           {}},
          {"sound node sets", 2, NodeSetsNode({0, 2}, "ab", {0, 1}, {5}, {6}), {}, {}, {}},
          {"first name offset not 0",
           2,
           NodeSetsNode({1, 2}, "ab", {0, 1}, {5}, {6}),
           {},
           {"node 2 \"node 2\" node sets: its first name offset is 1, not 0"},
           {}},
          {"last name offset short of the names",
           2,
           NodeSetsNode({0, 1}, "ab", {0, 1}, {5}, {6}),
           {},
           {"node sets: its last name offset is 1, but the joined names have 2 bytes"},
           {}},
          {"first member offset not 0",
           2,
           NodeSetsNode({0, 2}, "ab", {1, 1}, {5}, {6}),
           {},
           {"node sets: its first member offset is 1, not 0"},
           {}},
          {"a section no reader reads",
           2,
           [](RawMox& raw) {
             raw.Header(2, 1, 0, "", "", 0);
             raw.Put("Attributez", u32{7});
           },
           {},
           {},
           {"section \"Attributez\": no reader reads this section: its 1 blocks"}},
          {"dangling array link",
           2,
           [](RawMox& raw) {
             raw.Header(2, 1, 0, "Geometry", "0.7", raw.LightSize());
             raw.Put(KivMox::kLightData, u32{1}, std::string("copy"), u32{1}, u8{1}, u32{9}, u32{0},
                     u8{0});
             for (int i = 0; i < 6; ++i) raw.Put(KivMox::kAttributes, u32{0});
           },
           {},
           {},
           {"array 0 \"copy\": links to array 0 of node 9, which does not exist"}},
          {"dangling sibling link",
           2,
           [](RawMox& raw) { raw.Header(2, 1, 7, "", "", 0); },
           {},
           {},
           {"node 2 \"\": its next sibling link names node 7, which does not exist"}},
      };
  // Problems every reader passes over: a run that is no whole number of values, which a
  // merge copies into a record that moxdiff refuses, and offset lists that read back
  // differently.
  const std::set<std::string> passedOver = {
      "older record, byte size not a multiple of 4", "first name offset not 0",
      "last name offset short of the names", "first member offset not 0"};
  for (const auto& [name, count, body, heavy, problems, warnings] : cases) {
    const MoxTools::CheckReport report = CheckRaw(dir, count, body, heavy);
    const std::string lines = Lines(report);
    ASSERT_EQ(report.problems.size(), problems.size()) << name << "\n" << lines;
    ASSERT_EQ(report.warnings.size(), warnings.size()) << name << "\n" << lines;
    for (std::size_t i = 0; i < problems.size(); ++i)
      EXPECT_TRUE(Has(report.problems[i].where + ": " + report.problems[i].what, problems[i]))
          << name << "\n"
          << lines;
    for (std::size_t i = 0; i < warnings.size(); ++i)
      EXPECT_TRUE(Has(report.warnings[i].where + ": " + report.warnings[i].what, warnings[i]))
          << name << "\n"
          << lines;
    EXPECT_EQ(report.Sound(false), problems.empty()) << name;
    EXPECT_EQ(report.Sound(true), problems.empty() && warnings.empty()) << name;
    // A reader refusing the file is a problem; a problem the readers pass over is damage
    // they carry on or read back differently.
    EXPECT_EQ(ReadersRefuse(dir, dir.File("raw.mox"), sound),
              !problems.empty() && !passedOver.count(name))
        << name;
  }
}

TEST(FileCheck, ExitStatusesAndJson) {
  SavedModel model;
  Bytes bytes = ReadFileBytes(model.path);
  bytes[model.Offset("Heavy Data") + 12] ^= 0x55;
  WriteFileBytes(model.dir.File("damaged.mox"), bytes);
  const std::string damaged = model.dir.File("damaged.mox"), cut = model.dir.File("cut.mox");
  WriteFileBytes(cut, Bytes(bytes.begin(), bytes.end() - 1));
  const std::string cutShort =
      "problem: container: the file is cut short: its block table ends at byte " +
      std::to_string(bytes.size()) + ", the file has " + std::to_string(bytes.size() - 1) +
      " bytes";
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--check", model.path}, 0, ": sound; checked "},
      {{"--check", damaged}, 2, "problem: section \"Heavy Data\" block 0"},
      {{"--check", model.dir.File("missing.mox")}, 2, "problem: container: "},
      {{"--check", cut}, 2, cutShort},
      {{"--check", "--blocks", model.path}, 1, ""},
      {{"--strict", model.path}, 1, ""},
      {{"--x"}, 1, ""},
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
  EXPECT_EQ(Execute({"moxinfo", {model.path, model.path}}).status, 1);
}

// A plain merge adopts its inputs' heavy blocks with their node sets' bytes in them: counted,
// not warned about, so --strict holds for the program's own merges.
TEST(FileCheck, StrictHoldsForAMergeThatAdoptedBlocks) {
  TempDir dir;
  for (const char* seed : {"1", "2"})
    ASSERT_EQ(
        Execute({"moxsample",
                 {dir.File(std::string(seed) + ".mox"), "--heavy-mib", "0.2", "--seed", seed}})
            .status,
        0);
  ASSERT_EQ(RunMoxMerge(dir, {dir.File("1.mox"), dir.File("2.mox"), dir.File("m.mox")}).status, 0);
  const MoxTools::CheckReport report = MoxTools::CheckFile(dir.File("m.mox"));
  EXPECT_TRUE(report.Sound(true)) << Lines(report);
  EXPECT_GT(report.unreferencedHeavyBytes, 0u);
  EXPECT_TRUE(
      Has(report.Summary(true), " bytes of heavy data unreferenced; 0 problems, 0 warnings"))
      << report.Summary(true);
}

}  // namespace
