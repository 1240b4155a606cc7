// moxinfo end to end: its exit statuses and texts, and the listing of what moxsample wrote
// (nodes, arrays, node sets, history, view points and the block table).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "info/block_listing.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

using namespace TestSupport;

namespace {

TEST(MoxInfo, ExitStatusesAndTexts) {
  TempDir dir;
  WriteFileBytes(dir.File("text.mox"), {'h', 'e', 'l', 'l', 'o', '\n'});
  const std::string usage = "Usage: moxinfo";
  // The status, and a part of stdout (status 0) or of stderr.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--version"}, 0, "moxinfo (MoxMerge 2017 R1)\n"},
      {{"--help"}, 0, usage + " FILE"},
      {{}, 1, usage},
      {{"a.mox", "--tree"}, 1, usage},
      {{"a.mox", "b.mox"}, 1, usage},
      {{"--blocks"}, 1, usage},
      {{dir.File("missing.mox")}, 2, "Unable to open file"},
      {{dir.File("text.mox"), "--blocks"}, 2, "text.mox is not a Mox file"},
  };
  for (const auto& [args, status, text] : cases) {
    const auto r = Execute({"moxinfo", args});
    SCOPED_TRACE(::testing::PrintToString(args) + "\n" + r.err);
    EXPECT_EQ(r.status, status);
    EXPECT_NE((status == 0 ? r.out : r.err).find(text), std::string::npos);
    EXPECT_EQ(status == 0 ? r.err : r.out, "");
  }
}

// The listing of what moxsample writes for one seed, which is always the same but for the
// save time of the last history record and the stored sizes of the compressed blocks.
// Those sizes come from the block table; the offsets must chain them from the end of the
// primary index (2800) to the end of the file.
TEST(MoxInfo, ListsWhatMoxSampleWrote) {
  TempDir dir;
  const std::string path = dir.File("s.mox");
  ASSERT_EQ(
      Execute({"moxsample", {path, "--parts", "1", "--seed", "11", "--heavy-mib", "0.01"}}).status,
      0);
  const auto r = Execute({"moxinfo", {path, "--blocks"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::uint64_t size = ReadFileBytes(path).size();
  const auto table = MoxInfo::ReadBlockListing(path);
  const char* names[] = {"Heavy Data", "Mox Tree",    "Light Data",        "Attributes",
                         "Resources",  "View Points", "Global Information"};
  std::string blocks;
  std::uint64_t offset = 2800;
  for (unsigned n = 0; n < 20; ++n) {
    const std::uint64_t stored = n < 6 ? table.rows.at(n).storedSize : n == 6 ? size - offset : 0;
    const char* flags = n == 0 ? "zlib,streaming" : n < 7 ? "zlib" : "-";
    char row[200];
    std::snprintf(row, sizeof row, "%8u %6u %10llu %-20s %7llu  %s\n", n, n + 1,
                  (unsigned long long)stored, flags, (unsigned long long)offset,
                  n < 7 ? names[n] : "<Empty Block>");
    blocks += row;
    offset += stored;
  }
  std::string expected = "File: " + path + R"(
Container version: 1.3
Entries: 5

Node tree:
[1] Group "Sample Model" version 0.4 mergeRoot=0 attributes=5
  [2] Group "Part 1" version 0.4 mergeRoot=0 attributes=3
    [3] Shape "Part 1 Surface" version 0.2 colour=(0.8539454, 0.4037364, 0.2739539, 1)
    [4] Geometry "Part 1 Mesh" version 0.7 arrays=9
        array 0 "Coordinates" kind=0 values=432 components=3 min=-9.0556506e-07 max=109.973206 attributes=1
        array 1 "Quadrilaterals" kind=5 values=220 components=4 min=0 max=71
        array 2 "Triangles" kind=4 values=396 components=3 min=60 max=143
        array 3 "Base Coordinates" kind=0 -> node 4 array 0
        array 4 "Mode Shape<RS>Mode 1" kind=1 values=432 components=3 min=-0.9003732 max=0.97974646 attributes=2 vibration
        array 5 "Displacement<RS>Step 1" kind=1 values=432 components=3 min=-0.68353385 max=0.69152695 attributes=2
        array 6 "Stress<RS>Step 1" kind=1 values=144 components=1 min=54.227783 max=121.53675 attributes=2
        array 7 "Displacement<RS>Step 2" kind=1 values=432 components=3 min=-0.95691174 max=0.9788939 attributes=2
        array 8 "Stress<RS>Step 2" kind=1 values=144 components=1 min=68.405396 max=163.59465 attributes=2
  [5] NodeSets "Node Sets" version 0.1 sets=3
      set "Fixed Edge": 12 members
      set "Load Patch": 16 members
      set "Sensors": 4 members

Save history (3 records):
  1. "ModelPrep" "4.2.1", format "1.2", saved "Fri Apr 21 17:48:30 2017 UTC", computer "WS-ANALYSIS-6", user "analyst", caller ""
  2. "MoxMerge" "2017 R1", format "1.3", saved "Tue Jan 10 08:31:12 2017 UTC", computer "WS-ANALYSIS-33", user "engineer", caller ""
  3. "MoxSample" "2017 R1", format "1.3", saved ")" +
                         LoadTree(path)->globalInfo.back().saveTime +
                         R"(", computer "", user "", caller ""

View points: current "Home", 2 groups, 6 actions
  group "Overview": 4 entries
  group "Details 1": 3 entries

Blocks (20; file size )" +
                         std::to_string(size) +
                         R"(, primary index at 16, 2784 bytes):
  number serial     stored flags                offset  name
)";
  EXPECT_EQ(r.out, expected + blocks);

  const auto doc = nlohmann::json::parse(Execute({"moxinfo", {path, "--json", "--blocks"}}).out);
  EXPECT_EQ(doc.at("nodes")[3].at("arrays")[3].at("linked").dump(),
            R"({"array":0,"node":4,"resolves":true})");
  EXPECT_EQ(doc.at("nodes").size() + doc.at("linkProblems").size() + doc.at("history").size(), 8u);
  EXPECT_EQ(doc.at("blocks").at("rows")[0].at("offset"), 2800);
  // The bounds of the integer array listed above as "min=0 max=71", as integers.
  const auto& quadrilaterals = doc.at("nodes")[3].at("arrays")[1];
  EXPECT_EQ(quadrilaterals.at("name"), "Quadrilaterals");
  EXPECT_EQ(quadrilaterals.at("min").dump() + " " + quadrilaterals.at("max").dump(), "0 71");
}

}  // namespace
