// moxinfo end to end: its exit statuses and texts, the listing of what moxsample wrote
// (every node, array counts and value ranges, node sets, history, view points), a block
// table that accounts for every byte of the file, JSON that agrees with the tree, and
// trees whose links form cycles, dangle or run very deep, listed completely and marked.
#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "info/display_text.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

using namespace KivMox;
using namespace TestSupport;

namespace {

Outcome Info(const std::vector<std::string>& args) {
  return Execute({"moxinfo", args});
}

TEST(MoxInfo, ExitStatusesAndTexts) {
  TempDir dir;
  ASSERT_EQ(Execute({"moxsample", {dir.File("s.mox"), "--heavy-mib", "0.05"}}).status, 0);
  WriteFileBytes(dir.File("text.mox"), {'h', 'e', 'l', 'l', 'o', '\n'});
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string text;  // a part of stdout (status 0) or of stderr
  };
  std::vector<Case> cases = {
      {{"--version"}, 0, "moxinfo (MoxMerge 2017 R1)\n"},
      {{"--help"}, 0, "Usage: moxinfo FILE"},
      {{}, 1, "Usage: moxinfo"},
      {{"a.mox", "--tree"}, 1, "Usage: moxinfo"},
      {{"a.mox", "b.mox"}, 1, "Usage: moxinfo"},
      {{"--blocks"}, 1, "Usage: moxinfo"},
      {{dir.File("missing.mox")}, 2, "Unable to open file"},
      {{dir.File("text.mox"), "--blocks"}, 2, "text.mox is not a Mox file"},
  };
  const Bytes bytes = ReadFileBytes(dir.File("s.mox"));
  for (std::size_t keep : {std::size_t{10}, bytes.size() / 2}) {
    const std::string cut = dir.File("cut" + std::to_string(keep) + ".mox");
    WriteFileBytes(cut, Bytes(bytes.begin(), bytes.begin() + keep));
    cases.push_back({{cut}, 2, "Exception"});
  }
  for (const Case& c : cases) {
    const auto r = Info(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args) + "\n" + r.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.text), std::string::npos);
    EXPECT_EQ(c.status == 0 ? r.err : r.out, "");
  }
}

// The listing of what moxsample writes for one seed, which is always the same but for the
// save time of the last history record and, with it, the size of the history's block.
TEST(MoxInfo, ListsWhatMoxSampleWrote) {
  TempDir dir;
  const std::string path = dir.File("s.mox");
  ASSERT_EQ(
      Execute({"moxsample", {path, "--parts", "1", "--seed", "11", "--heavy-mib", "0.01"}}).status,
      0);
  const auto r = Info({path, "--blocks"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::uint64_t size = ReadFileBytes(path).size();
  const auto row = [](unsigned long long n, unsigned long long stored, const char* flags,
                      unsigned long long offset, const char* name) {
    char text[200];
    std::snprintf(text, sizeof text, "%8llu %6llu %10llu %-20s %7llu  %s\n", n, n + 1, stored,
                  flags, offset, name);
    return std::string(text);
  };
  std::string blocks = row(6, size - 10757, "zlib", 10757, "Global Information");
  for (int n = 7; n < 20; ++n) blocks += row(n, 0, "-", size, "<Empty Block>");
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
  3. "MoxSample" "2017 R1", format "1.3", saved "@time", computer "", user "", caller ""

View points: current "Home", 2 groups, 6 actions
  group "Overview": 4 entries
  group "Details 1": 3 entries

Blocks (20; file size @size, primary index at 16, 2784 bytes):
  number serial     stored flags                offset  name
       0      1       6145 zlib,streaming          2800  Heavy Data
       1      2        164 zlib                    8945  Mox Tree
       2      3        211 zlib                    9109  Light Data
       3      4        272 zlib                    9320  Attributes
       4      5         81 zlib                    9592  Resources
       5      6       1084 zlib                    9673  View Points
)";
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"@time", LoadTree(path)->globalInfo.back().saveTime},
        {"@size", std::to_string(size)}})
    expected.replace(expected.find(key), key.size(), value);
  EXPECT_EQ(r.out, expected + blocks);

  const auto doc = nlohmann::json::parse(Info({path, "--json", "--blocks"}).out);
  const auto& mesh = doc.at("nodes")[3];
  EXPECT_EQ(doc.at("containerVersion"), "1.3");
  EXPECT_EQ(mesh.at("name"), "Part 1 Mesh");
  EXPECT_TRUE(mesh.at("reached"));
  EXPECT_EQ(mesh.at("arrays")[3].at("linked").at("node"), 4);
  EXPECT_TRUE(mesh.at("arrays")[3].at("linked").at("resolves"));
  EXPECT_EQ(mesh.at("arrays")[1].at("values"), 220);
  EXPECT_EQ(mesh.at("arrays")[4].at("name"), "Mode Shape<RS>Mode 1");
  EXPECT_EQ(doc.at("nodes").size() + doc.at("linkProblems").size() + doc.at("history").size(), 8u);
  EXPECT_EQ(doc.at("viewPoints").at("actions"), 6);
  EXPECT_EQ(doc.at("blocks").at("rows").size(), 20u);
  EXPECT_EQ(doc.at("blocks").at("rows")[0].at("offset"), 2800);
}

// A file whose entries link into a cycle, to an identifier without entry, and beside the
// root; its names hold control bytes. Then a tree deeper than the listing goes.
TEST(MoxInfo, BrokenLinksAndDeepTreesAreListedCompletelyAndMarked) {
  TempDir dir;
  Tree tree;
  const auto put = [&](std::unique_ptr<Node> node, const std::string& name,
                       std::array<std::uint32_t, 6> l) {
    Tree::TreeEntry e;
    e.id = l[0], e.parentId = l[1], e.prevSiblingId = l[2], e.nextSiblingId = l[3];
    e.firstChildId = l[4], e.lastChildId = l[5];
    node->name = name;
    tree.SetEntryNode(e, std::move(node));
  };
  put(std::make_unique<Group>(), "Root", {1, 0, 0, 0, 2, 3});
  put(std::make_unique<Group>(), std::string("A\x01\x1B[31m\"") + '\x1E' + "tag",
      {2, 1, 0, 3, 0, 0});
  auto b = std::make_unique<Geometry>();
  b->arrays.push_back(LinkedArray("Lost", 77, 0));
  put(std::move(b), "B", {3, 1, 2, 2, 99, 0});
  put(std::make_unique<Group>(), "Orphan", {5, 40, 0, 0, 0, 0});
  tree.Save(dir.File("broken.mox"));
  auto r = Info({dir.File("broken.mox")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File: " + dir.File("broken.mox") + R"(
Container version: 1.3
Entries: 4

Node tree:
[1] Group "Root" version 0.4 mergeRoot=0 attributes=0
  [2] Group "A\x01\x1B[31m\"<RS>tag" version 0.4 mergeRoot=0 attributes=0
  [3] Geometry "B" version 0.7 arrays=1
      array 0 "Lost" kind=0 -> node 77 array 0 (no such array)
    !! [3] first child -> 99: dangling, no such entry
  !! [3] next sibling -> 2: cycle, already listed, not followed

Unreached entries (not linked from the root):
[5] Group "Orphan" version 0.4 mergeRoot=0 attributes=0 (parent link 40)

Save history (1 record):
  1. "" "", format "1.3", saved ")" +
                       LoadTree(dir.File("broken.mox"))->globalInfo[0].saveTime +
                       R"(", computer "", user "", caller ""

View points: none
)");
  auto doc = nlohmann::json::parse(Info({dir.File("broken.mox"), "--json"}).out);
  EXPECT_EQ(doc.at("nodes").size(), 4u);
  EXPECT_EQ(doc.at("linkProblems").size(), 2u);

  Model deep("");
  for (std::uint32_t i = 1; i <= 400; ++i) deep.Add(i, std::make_unique<Group>());
  deep.Save(dir.File("deep.mox"));
  doc = nlohmann::json::parse(Info({dir.File("deep.mox"), "--json"}).out);
  ASSERT_EQ(doc.at("nodes").size(), 401u);
  ASSERT_EQ(doc.at("linkProblems").size(), 1u);
  EXPECT_EQ(doc.at("linkProblems")[0].at("problem"), "too deep");
  std::size_t reached = 0;
  for (const auto& n : doc.at("nodes")) reached += n.at("reached").get<bool>();
  EXPECT_EQ(reached, 257u) << "depths 0 to 256";
}

}  // namespace
