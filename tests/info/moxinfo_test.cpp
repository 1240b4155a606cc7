// moxinfo end to end: it lists what moxsample wrote (names, counts, value ranges), its
// block table accounts for every byte of the file, its JSON parses and agrees with the
// tree, damaged or foreign files end with status 2 and the error text, and trees whose
// links form cycles, dangle or run very deep are listed completely and marked.
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/tool_files.hpp"

using namespace KivMox;
using TestSupport::RunProgram;
using TestSupport::TempDir;
using ToolFiles::NodeAs;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The displayed form of an array name: the tag separator as <RS>.
std::string Shown(std::string name) {
  for (std::size_t p; (p = name.find('\x1E')) != std::string::npos;) name.replace(p, 1, "<RS>");
  return name;
}

// The text after " key=" up to the next blank, or "" when the line has no such field.
std::string Field(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size() + 2;
  return line.substr(start, line.find(' ', start) - start);
}

bool HasRawControlBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && b != '\n') || b == 0x7F;
  });
}

class InfoOfSample : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    ToolFiles::Sample(dir_->File("s.mox"), {"--parts", "2", "--seed", "11", "--heavy-mib", "0.1"});
    tree_ = ToolFiles::LoadTree(dir_->File("s.mox")).release();
  }
  static void TearDownTestSuite() {
    delete tree_;
    delete dir_;
  }
  static std::string Path() { return dir_->File("s.mox"); }
  static const Tree& T() { return *tree_; }
  static TempDir* dir_;
  static Tree* tree_;
};
TempDir* InfoOfSample::dir_ = nullptr;
Tree* InfoOfSample::tree_ = nullptr;

TEST_F(InfoOfSample, ListsEveryNodeWithItsTypeAndVersion) {
  const auto r = RunProgram("moxinfo", {Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_NE(r.out.find("Container version: 1.3\n"), std::string::npos);
  EXPECT_NE(r.out.find("Entries: " + std::to_string(T().Size()) + "\n"), std::string::npos);
  for (const auto& [id, entry] : T()) {
    const std::string head = "[" + std::to_string(id) + "] " + entry.data->GetTypeName() + " \"" +
                             entry.data->name + "\" version " + entry.data->GetVersion();
    EXPECT_NE(r.out.find(head), std::string::npos) << head;
  }
  EXPECT_NE(r.out.find("[1] Group \"Sample Model\" version 0.4 mergeRoot=0 attributes=5"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n  [2] Group \"Part 1\""), std::string::npos) << "one level deeper";
  EXPECT_NE(r.out.find("\n    [4] Geometry \"Part 1 Mesh\""), std::string::npos);
  EXPECT_EQ(r.out.find("Unreached"), std::string::npos);
  EXPECT_EQ(r.out.find("!!"), std::string::npos);
  EXPECT_FALSE(HasRawControlBytes(r.out));
}

TEST_F(InfoOfSample, ArrayLinesShowCountsAndTheRangeOfTheValues) {
  const auto r = RunProgram("moxinfo", {Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  std::size_t checked = 0;
  for (std::uint32_t id : ToolFiles::IdsOfType(T(), "Geometry")) {
    const auto& arrays = NodeAs<Geometry>(T(), id, "Geometry")->arrays;
    for (std::size_t i = 0; i < arrays.size(); ++i) {
      const GeometryArray& a = arrays[i];
      const std::string start = "array " + std::to_string(i) + " \"" + Shown(a.name) +
                                "\" kind=" + std::to_string(a.kind);
      // The line of this array in the part's block of lines.
      auto geometryLine = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find("[" + std::to_string(id) + "] Geometry") != std::string::npos;
      });
      ASSERT_NE(geometryLine, lines.end());
      auto line = std::find_if(geometryLine, lines.end(), [&](const std::string& l) {
        return l.find(start) != std::string::npos;
      });
      ASSERT_NE(line, lines.end()) << start;
      if (a.linked) {
        EXPECT_NE(line->find("-> node " + std::to_string(a.linkNode) + " array " +
                             std::to_string(a.linkIndex)),
                  std::string::npos);
        continue;
      }
      ASSERT_EQ(Field(*line, "values"), std::to_string(a.data.byteSize / 4)) << *line;
      ASSERT_EQ(Field(*line, "components"), std::to_string(a.data.componentCount)) << *line;
      const std::string min = Field(*line, "min"), max = Field(*line, "max");
      ASSERT_FALSE(min.empty() || max.empty()) << *line;
      if (a.IsConnectivity()) {
        const auto w = ToolFiles::Words(a);
        const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
        EXPECT_EQ(min, std::to_string(*lo)) << *line;
        EXPECT_EQ(max, std::to_string(*hi)) << *line;
        EXPECT_LT(*hi, arrays[0].data.byteSize / 12) << "a corner beyond the nodes";
      } else {
        const auto v = ToolFiles::Floats(a);
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        EXPECT_EQ(std::stof(min), *lo) << *line;
        EXPECT_EQ(std::stof(max), *hi) << *line;
        EXPECT_LT(*lo, *hi);
      }
      if (a.vibration) {
        EXPECT_NE(line->find(" vibration"), std::string::npos);
      }
      ++checked;
    }
  }
  EXPECT_GE(checked, 14u);
}

TEST_F(InfoOfSample, ListsNodeSetsHistoryAndViewPoints) {
  const auto r = RunProgram("moxinfo", {Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto* sets = NodeAs<NodeSets>(T(), ToolFiles::IdsOfType(T(), "NodeSets")[0], "NodeSets");
  for (const auto& s : sets->sets)
    EXPECT_NE(
        r.out.find("set \"" + s.name + "\": " + std::to_string(s.members.size()) + " members"),
        std::string::npos);
  const auto& h = T().globalInfo;
  EXPECT_NE(r.out.find("Save history (" + std::to_string(h.size()) + " records):"),
            std::string::npos);
  EXPECT_NE(r.out.find(std::to_string(h.size()) +
                       ". \"MoxSample\" \"2017 R1\", format \"1.3\", saved \"" + h.back().saveTime +
                       "\""),
            std::string::npos);
  EXPECT_NE(r.out.find("View points: current \"Home\", 2 groups, 6 actions"), std::string::npos);
  for (const auto& g : T().views.groups)
    EXPECT_NE(
        r.out.find("group \"" + g.name + "\": " + std::to_string(g.entries.size()) + " entries"),
        std::string::npos);
}

TEST_F(InfoOfSample, BlockTableCoversTheWholeFile) {
  const auto r = RunProgram("moxinfo", {Path(), "--blocks"});
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(stat(Path().c_str(), &st), 0);
  const std::size_t header = r.out.find("\nBlocks (");
  ASSERT_NE(header, std::string::npos);
  std::size_t count = 0;
  unsigned long long fileSize = 0, primaryOffset = 0, primaryLength = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + header,
                        "\nBlocks (%zu; file size %llu, primary index at %llu, %llu bytes):",
                        &count, &fileSize, &primaryOffset, &primaryLength),
            4);
  EXPECT_EQ(fileSize, static_cast<unsigned long long>(st.st_size));
  std::uint64_t expected = primaryOffset + primaryLength;
  EXPECT_EQ(expected, 2800u);
  const auto lines = Lines(r.out.substr(header));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "  number serial     stored flags                offset  name");
  std::size_t rows = 0;
  std::set<std::string> names;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    std::uint64_t number = 0, serial = 0, stored = 0, offset = 0;
    std::string flags, name;
    ASSERT_TRUE(in >> number >> serial >> stored >> flags >> offset) << lines[i];
    std::getline(in >> std::ws, name);
    EXPECT_EQ(number, rows);
    EXPECT_EQ(offset, expected) << lines[i];
    expected += stored;
    names.insert(name);
    ++rows;
  }
  EXPECT_EQ(rows, count);
  EXPECT_EQ(expected, static_cast<std::uint64_t>(st.st_size)) << "blocks end where the file ends";
  KivRkf::RkFile file;
  file.OpenFile(Path(), "rb");
  file.ReadIndex();
  EXPECT_EQ(rows, file.GetIndex().Blocks().size());
  for (const char* name : {"Heavy Data", "Mox Tree", "Light Data", "Attributes", "Resources",
                           "View Points", "Global Information", "<Empty Block>"})
    EXPECT_TRUE(names.count(name)) << name;
  EXPECT_FALSE(HasRawControlBytes(r.out));
}

TEST_F(InfoOfSample, JsonParsesAndAgreesWithTheTree) {
  const auto r = RunProgram("moxinfo", {Path(), "--json", "--blocks"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc.at("containerVersion"), "1.3");
  EXPECT_EQ(doc.at("entryCount"), T().Size());
  ASSERT_EQ(doc.at("nodes").size(), T().Size());
  std::set<std::uint32_t> ids;
  for (const auto& node : doc.at("nodes")) {
    const std::uint32_t id = node.at("id");
    ids.insert(id);
    EXPECT_EQ(node.at("name"), T().GetNode(id)->name);
    EXPECT_EQ(node.at("type"), T().GetNode(id)->GetTypeName());
    EXPECT_TRUE(node.at("reached"));
    if (const auto* g = NodeAs<Geometry>(T(), id, "Geometry")) {
      ASSERT_EQ(node.at("arrays").size(), g->arrays.size());
      const auto& json3 = node.at("arrays")[3];
      EXPECT_EQ(json3.at("linked").at("node"), g->arrays[3].linkNode);
      EXPECT_TRUE(json3.at("linked").at("resolves"));
      const auto& json1 = node.at("arrays")[1];
      EXPECT_EQ(json1.at("values"), g->arrays[1].data.byteSize / 4);
      EXPECT_EQ(json1.at("min"), 0);
      EXPECT_EQ(node.at("arrays")[4].at("name"), "Mode Shape<RS>Mode 1");
    }
  }
  EXPECT_EQ(ids.size(), T().Size());
  EXPECT_TRUE(doc.at("linkProblems").empty());
  EXPECT_EQ(doc.at("history").size(), T().globalInfo.size());
  EXPECT_EQ(doc.at("viewPoints").at("actions"), 6);
  KivRkf::RkFile file;
  file.OpenFile(Path(), "rb");
  file.ReadIndex();
  ASSERT_EQ(doc.at("blocks").at("rows").size(), file.GetIndex().Blocks().size());
  EXPECT_EQ(doc.at("blocks").at("rows")[0].at("name"), file.GetIndex().Blocks()[0].name);
  EXPECT_EQ(doc.at("blocks").at("rows")[0].at("offset"), 2800);
}

TEST(MoxInfo, VersionHelpAndUsage) {
  auto r = RunProgram("moxinfo", {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "moxinfo (MoxMerge 2017 R1)\n");
  r = RunProgram("moxinfo", {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: moxinfo FILE"), std::string::npos);
  EXPECT_NE(r.out.find("<RS>"), std::string::npos) << "the help documents the separator";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"a.mox", "--tree"}, {"a.mox", "b.mox"}, {"--blocks"}}) {
    r = RunProgram("moxinfo", args);
    EXPECT_EQ(r.status, 1) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("Usage: moxinfo"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(MoxInfo, UnreadableFilesExitTwoWithTheErrorText) {
  TempDir dir;
  auto r = RunProgram("moxinfo", {dir.File("missing.mox")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unable to open file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  TestSupport::WriteFileBytes(dir.File("text.mox"), {'h', 'e', 'l', 'l', 'o', '\n'});
  r = RunProgram("moxinfo", {dir.File("text.mox"), "--blocks"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("text.mox is not a Mox file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  ToolFiles::Sample(dir.File("s.mox"), {"--heavy-mib", "0.05"});
  auto bytes = TestSupport::ReadFileBytes(dir.File("s.mox"));
  for (std::size_t keep :
       {std::size_t{10}, std::size_t{2000}, bytes.size() / 2, bytes.size() - 1}) {
    TestSupport::WriteFileBytes(dir.File("cut.mox"),
                                std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + keep));
    r = RunProgram("moxinfo", {dir.File("cut.mox")});
    EXPECT_EQ(r.status, 2) << keep;
    EXPECT_NE(r.err.find("Exception"), std::string::npos) << keep << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << keep;
    EXPECT_EQ(r.signal, 0);
  }
}

// A file whose entries link into a cycle, to an identifier without entry, and beside
// the root; its names hold control bytes.
class BrokenLinks : public testing::Test {
 protected:
  void SetUp() override {
    Tree tree;
    auto root = std::make_unique<Group>();
    root->name = "Root";
    Tree::TreeEntry e;
    e.id = 1;
    e.firstChildId = 2;
    e.lastChildId = 3;
    tree.SetEntryNode(e, std::move(root));
    e = {};
    e.id = 2, e.parentId = 1, e.nextSiblingId = 3;
    auto a = std::make_unique<Group>();
    a->name = std::string("A\x01\x1B[31m\"") + '\x1E' + "tag";
    tree.SetEntryNode(e, std::move(a));
    e = {};
    e.id = 3, e.parentId = 1, e.prevSiblingId = 2, e.nextSiblingId = 2, e.firstChildId = 99;
    auto g = std::make_unique<Geometry>();
    g->name = "B";
    GeometryArray link;
    link.name = "Lost";
    link.linked = 1;
    link.linkNode = 77;
    g->arrays.push_back(link);
    tree.SetEntryNode(e, std::move(g));
    e = {};
    e.id = 5;
    e.parentId = 40;
    auto orphan = std::make_unique<Group>();
    orphan->name = "Orphan";
    tree.SetEntryNode(e, std::move(orphan));
    tree.Save(dir_.File("broken.mox"));
  }
  TempDir dir_;
};

TEST_F(BrokenLinks, TextMarksTheCycleTheDanglingLinkAndTheUnreachedEntry) {
  const auto r = RunProgram("moxinfo", {dir_.File("broken.mox")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.out.find("[1] Group \"Root\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  [2] Group \"A\\x01\\x1B[31m\\\"<RS>tag\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  [3] Geometry \"B\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("!! [3] first child -> 99: dangling"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("!! [3] next sibling -> 2: cycle"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("array 0 \"Lost\" kind=0 -> node 77 array 0 (no such array)"),
            std::string::npos)
      << r.out;
  const auto unreached = r.out.find("Unreached entries");
  ASSERT_NE(unreached, std::string::npos);
  EXPECT_NE(
      r.out.find("\n[5] Group \"Orphan\" version 0.4 mergeRoot=0 attributes=0 (parent link 40)\n",
                 unreached),
      std::string::npos)
      << r.out;
  EXPECT_FALSE(HasRawControlBytes(r.out));
}

TEST_F(BrokenLinks, JsonCountsEveryEntryOnceAndReportsBothProblems) {
  const auto r = RunProgram("moxinfo", {dir_.File("broken.mox"), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc.at("entryCount"), 4);
  ASSERT_EQ(doc.at("nodes").size(), 4u);
  EXPECT_FALSE(doc.at("nodes")[3].at("reached"));
  EXPECT_EQ(doc.at("nodes")[3].at("id"), 5);
  const auto& problems = doc.at("linkProblems");
  ASSERT_EQ(problems.size(), 2u);
  std::set<std::string> kinds;
  for (const auto& p : problems) kinds.insert(p.at("problem").get<std::string>());
  EXPECT_EQ(kinds, (std::set<std::string>{"cycle", "dangling"}));
}

TEST(MoxInfo, AVeryDeepTreeIsCutAndTheRestListedFlat) {
  TempDir dir;
  Tree tree;
  Tree::TreeEntry rootEntry;
  rootEntry.id = 1;
  tree.SetEntryNode(rootEntry, std::make_unique<Group>());
  const std::uint32_t depth = 400;
  for (std::uint32_t i = 0; i < depth; ++i) {
    auto g = std::make_unique<Group>();
    g->name = "Level " + std::to_string(i + 1);
    tree.AppendChildNode(std::move(g));  // each under the one before
  }
  tree.Save(dir.File("deep.mox"));
  const auto r = RunProgram("moxinfo", {dir.File("deep.mox"), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc.at("nodes").size(), depth + 1);
  ASSERT_EQ(doc.at("linkProblems").size(), 1u);
  EXPECT_EQ(doc.at("linkProblems")[0].at("problem"), "too deep");
  std::size_t reached = 0;
  for (const auto& n : doc.at("nodes")) reached += n.at("reached").get<bool>() ? 1 : 0;
  EXPECT_EQ(reached, 257u) << "depths 0 to 256";
}

}  // namespace
