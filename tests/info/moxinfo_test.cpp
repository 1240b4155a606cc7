// moxinfo end to end: its exit statuses and texts, the listing of what moxsample wrote
// (every node, array counts and value ranges, node sets, history, view points), a block
// table that accounts for every byte of the file, JSON that agrees with the tree, and
// trees whose links form cycles, dangle or run very deep, listed completely and marked.
#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

bool HasRawControlBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F;
  });
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
      {{"--help"}, 0, "<RS>"},  // the help documents the separator
      {{}, 1, "Usage: moxinfo"},
      {{"a.mox", "--tree"}, 1, "Usage: moxinfo"},
      {{"a.mox", "b.mox"}, 1, "Usage: moxinfo"},
      {{"--blocks"}, 1, "Usage: moxinfo"},
      {{dir.File("missing.mox")}, 2, "Unable to open file"},
      {{dir.File("text.mox"), "--blocks"}, 2, "text.mox is not a Mox file"},
  };
  const Bytes bytes = ReadFileBytes(dir.File("s.mox"));
  for (std::size_t keep :
       {std::size_t{10}, std::size_t{2000}, bytes.size() / 2, bytes.size() - 1}) {
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
  EXPECT_EQ(Info({"--version"}).out, "moxinfo (MoxMerge 2017 R1)\n");
}

TEST(MoxInfo, ListsWhatMoxSampleWrote) {
  TempDir dir;
  const std::string path = dir.File("s.mox");
  ASSERT_EQ(
      Execute({"moxsample", {path, "--parts", "2", "--seed", "11", "--heavy-mib", "0.1"}}).status,
      0);
  const auto tree = LoadTree(path);
  const auto r = Info({path, "--blocks"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string& out = r.out;
  const auto has = [&](const std::string& text) { return out.find(text) != std::string::npos; };
  EXPECT_TRUE(has("Container version: 1.3\nEntries: " + std::to_string(tree->Size()) + "\n"));
  EXPECT_TRUE(has("[1] Group \"Sample Model\" version 0.4 mergeRoot=0 attributes=5"));
  EXPECT_TRUE(has("\n  [2] Group \"Part 1\""));
  EXPECT_TRUE(has("\n    [4] Geometry \"Part 1 Mesh\""));
  EXPECT_FALSE(has("Unreached") || has("!!") || HasRawControlBytes(out));
  std::size_t arrays = 0;
  for (const auto& [id, entry] : *tree) {
    EXPECT_TRUE(has("[" + std::to_string(id) + "] " + entry.data->GetTypeName() + " \"" +
                    entry.data->name + "\" version " + entry.data->GetVersion()));
    const auto* g = NodeAs<Geometry>(entry.data);
    for (std::size_t i = 0; g && i < g->arrays.size(); ++i) {
      const GeometryArray& a = g->arrays[i];
      std::string name;
      for (char c : a.name) name += c == '\x1E' ? std::string("<RS>") : std::string(1, c);
      const std::string head =
          "array " + std::to_string(i) + " \"" + name + "\" kind=" + std::to_string(a.kind);
      const std::size_t at = out.find(head, out.find("[" + std::to_string(id) + "] Geometry"));
      ASSERT_NE(at, std::string::npos) << head;
      const std::string line = out.substr(at, out.find('\n', at) - at);
      const auto field = [&](const std::string& key) {
        const std::size_t f = line.find(" " + key + "=") + key.size() + 2;
        return line.substr(f, line.find(' ', f) - f);
      };
      if (a.linked) {
        EXPECT_EQ(line, head + " -> node " + std::to_string(a.linkNode) + " array " +
                            std::to_string(a.linkIndex));
        continue;
      }
      EXPECT_EQ(field("values") + " " + field("components"),
                std::to_string(a.data.byteSize / 4) + " " + std::to_string(a.data.componentCount));
      if (a.IsConnectivity()) {
        const auto v = IntsOf(a.data);
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        EXPECT_EQ(field("min") + " " + field("max"),
                  std::to_string(*lo) + " " + std::to_string(*hi));
      } else {
        const auto v = FloatsOf(a.data);
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        EXPECT_EQ(std::stof(field("min")), *lo) << line;
        EXPECT_EQ(std::stof(field("max")), *hi) << line;
        EXPECT_LT(*lo, *hi);
      }
      EXPECT_EQ(line.find(" vibration") != std::string::npos, a.vibration != 0) << line;
      ++arrays;
    }
  }
  EXPECT_GE(arrays, 14u);
  for (const auto& s : NodeAs<NodeSets>(tree->GetNode(Children(*tree, 1).back()))->sets)
    EXPECT_TRUE(has("set \"" + s.name + "\": " + std::to_string(s.members.size()) + " members"));
  const auto& h = tree->globalInfo;
  EXPECT_TRUE(has("Save history (" + std::to_string(h.size()) + " records):"));
  EXPECT_TRUE(has(std::to_string(h.size()) +
                  ". \"MoxSample\" \"2017 R1\", format \"1.3\", saved \"" + h.back().saveTime +
                  "\""));
  EXPECT_TRUE(has("View points: current \"Home\", 2 groups, 6 actions"));
  for (const auto& g : tree->views.groups)
    EXPECT_TRUE(has("group \"" + g.name + "\": " + std::to_string(g.entries.size()) + " entries"));

  // The blocks follow the primary index without a gap, up to the end of the file.
  const std::size_t header = out.find("\nBlocks (");
  ASSERT_NE(header, std::string::npos);
  std::size_t count = 0;
  unsigned long long fileSize = 0, primaryOffset = 0, primaryLength = 0;
  ASSERT_EQ(std::sscanf(out.c_str() + header,
                        "\nBlocks (%zu; file size %llu, primary index at %llu, %llu bytes):",
                        &count, &fileSize, &primaryOffset, &primaryLength),
            4);
  EXPECT_EQ(fileSize, ReadFileBytes(path).size());
  std::istringstream rows(out.substr(header));
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(rows, line);
  EXPECT_EQ(line, "  number serial     stored flags                offset  name");
  std::uint64_t expected = primaryOffset + primaryLength, n = 0;
  EXPECT_EQ(expected, 2800u);
  std::set<std::string> names;
  for (; std::getline(rows, line); ++n) {
    std::istringstream in(line);
    std::uint64_t number = 0, serial = 0, stored = 0, offset = 0;
    std::string flags, name;
    ASSERT_TRUE(in >> number >> serial >> stored >> flags >> offset) << line;
    std::getline(in >> std::ws, name);
    EXPECT_EQ(number, n);
    EXPECT_EQ(offset, expected) << line;
    expected += stored;
    names.insert(name);
  }
  EXPECT_EQ(n, count);
  EXPECT_EQ(expected, fileSize) << "blocks end where the file ends";
  EXPECT_EQ(names, (std::set<std::string>{"Heavy Data", "Mox Tree", "Light Data", "Attributes",
                                          "Resources", "View Points", "Global Information",
                                          "<Empty Block>"}));

  const auto doc = nlohmann::json::parse(Info({path, "--json", "--blocks"}).out);
  EXPECT_EQ(doc.at("containerVersion"), "1.3");
  EXPECT_EQ(doc.at("entryCount"), tree->Size());
  ASSERT_EQ(doc.at("nodes").size(), tree->Size());
  for (const auto& node : doc.at("nodes")) {
    const Node* n = tree->GetNode(node.at("id"));
    EXPECT_EQ(node.at("name"), n->name);
    EXPECT_EQ(node.at("type"), n->GetTypeName());
    EXPECT_TRUE(node.at("reached"));
    if (const auto* g = NodeAs<Geometry>(n)) {
      ASSERT_EQ(node.at("arrays").size(), g->arrays.size());
      EXPECT_EQ(node.at("arrays")[3].at("linked").at("node"), g->arrays[3].linkNode);
      EXPECT_TRUE(node.at("arrays")[3].at("linked").at("resolves"));
      EXPECT_EQ(node.at("arrays")[1].at("values"), g->arrays[1].data.byteSize / 4);
      EXPECT_EQ(node.at("arrays")[1].at("min"), 0);
      EXPECT_EQ(node.at("arrays")[4].at("name"), "Mode Shape<RS>Mode 1");
    }
  }
  EXPECT_TRUE(doc.at("linkProblems").empty());
  EXPECT_EQ(doc.at("history").size(), h.size());
  EXPECT_EQ(doc.at("viewPoints").at("actions"), 6);
  ASSERT_EQ(doc.at("blocks").at("rows").size(), count);
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
  for (const char* text :
       {"[1] Group \"Root\"", "  [2] Group \"A\\x01\\x1B[31m\\\"<RS>tag\"", "  [3] Geometry \"B\"",
        "!! [3] first child -> 99: dangling", "!! [3] next sibling -> 2: cycle",
        "array 0 \"Lost\" kind=0 -> node 77 array 0 (no such array)", "Unreached entries",
        "\n[5] Group \"Orphan\" version 0.4 mergeRoot=0 attributes=0 (parent link 40)\n"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  EXPECT_FALSE(HasRawControlBytes(r.out));
  auto doc = nlohmann::json::parse(Info({dir.File("broken.mox"), "--json"}).out);
  EXPECT_EQ(doc.at("entryCount"), 4);
  ASSERT_EQ(doc.at("nodes").size(), 4u);
  EXPECT_FALSE(doc.at("nodes")[3].at("reached"));
  EXPECT_EQ(doc.at("nodes")[3].at("id"), 5);
  std::multiset<std::string> kinds;
  for (const auto& p : doc.at("linkProblems")) kinds.insert(p.at("problem").get<std::string>());
  EXPECT_EQ(kinds, (std::multiset<std::string>{"cycle", "dangling"}));

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
