// Whole Mox files: saving a tree, loading it back, files of older versions written here
// from the lower layers, append mode, damaged headers and safe output.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/record_file.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

using namespace KivMox;
using TestSupport::CodeOf;
using TestSupport::DescribeTree;
using TestSupport::GeometryAt;
using TestSupport::TempDir;

namespace {

// Writes a Mox file of any container version straight through the container layer.
class RawMox {
 public:
  RawMox(const std::string& path, const std::string& version) {
    file_.OpenFile(path, "wb+");
    char field[4] = {};
    std::memcpy(field, version.data(), std::min<std::size_t>(version.size(), 4));
    std::fwrite(KivRkf::kMagic, 1, 8, file_.Stream());
    std::fwrite(field, 1, 4, file_.Stream());
    wide_ = KivRkf::VersionNumber(version) > 6;
  }
  KivRkf::Index& Ix() { return file_.GetIndex(); }
  void NodeCount(std::int32_t n) { Ix().Put(kMoxTree, n); }
  // A tree header whose light position is where "Light Data" stands now.
  void Header(std::uint32_t id, std::uint32_t parent, std::uint32_t prev, std::uint32_t next,
              std::uint32_t first, std::uint32_t last, const std::string& name,
              const std::string& type, const std::string& version) {
    for (std::uint32_t v : {id, parent, prev, next, first, last}) Ix().Put(kMoxTree, v);
    Ix().Put(kMoxTree, name);
    Ix().Put(kMoxTree, type);
    Ix().Put(kMoxTree, version);
    std::uint64_t light = Ix().GetSize(kLightData);
    if (wide_)
      Ix().Put(kMoxTree, light);
    else
      Ix().Put(kMoxTree, static_cast<std::uint32_t>(light));
  }
  void Finish() {
    Ix().WriteAllBuffersToFileStream(file_.Stream());
    file_.CloseFile();
  }

 private:
  KivRkf::RkFile file_;
  bool wide_ = true;
};

void PutEmptyAttributes(KivRkf::Index& ix) {
  for (int i = 0; i < 6; ++i) ix.Put(kAttributes, std::uint32_t{0});
}

// "%a %b %d %H:%M:%S %Y %Z": "Sun Dec 06 11:35:16 2026 UTC".
bool LooksLikeSaveTime(const std::string& t) {
  if (t.size() < 26) return false;
  auto alpha = [&](std::size_t i) { return std::isalpha(static_cast<unsigned char>(t[i])) != 0; };
  auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(t[i])) != 0; };
  for (std::size_t i : {0, 1, 2, 4, 5, 6})
    if (!alpha(i)) return false;
  for (std::size_t i : {8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22, 23})
    if (!digit(i)) return false;
  return t[3] == ' ' && t[7] == ' ' && t[10] == ' ' && t[13] == ':' && t[16] == ':' &&
         t[19] == ' ' && t[24] == ' ';
}

// The description of a tree with the record versions of its nodes left out.
std::string WithoutVersions(const std::string& text) {
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    for (const std::string type : {"  Group ", "  Shape ", "  Geometry "})
      if (line.rfind(type, 0) == 0)
        line.erase(type.size(), line.find(' ', type.size()) - type.size());
    out += line + "\n";
    start = end + 1;
  }
  return out;
}

// The links of an entry: parent, previous, next, first and last child.
std::vector<std::uint32_t> Links(const Tree& tree, std::uint32_t id) {
  const auto& e = tree.GetReqNode(id);
  return {e.parentId, e.prevSiblingId, e.nextSiblingId, e.firstChildId, e.lastChildId};
}

std::string SaveAndDescribe(Tree& tree, const std::string& path) {
  tree.Save(path);
  Tree loaded;
  Tree::IdentifierMap ids;
  loaded.Load(path, ids);
  return DescribeTree(loaded, false);
}

}  // namespace

TEST(TreeFile, RoundTripKeepsNodesValuesLinksAndViewPoints) {
  TempDir dir;
  Tree tree("Tester", "1.0");
  TestSupport::BuildRichTree(tree);
  tree.Save(dir.File("a.mox"));
  EXPECT_EQ(tree.fileVersion, "1.3");

  Tree first;
  Tree::IdentifierMap ids;
  first.Load(dir.File("a.mox"), ids);
  EXPECT_EQ(first.fileVersion, "1.3");
  EXPECT_EQ(ids.size(), 8u);
  EXPECT_EQ(ids.at(5), 5u);

  // Links are resolved to shared buffers.
  Geometry& mesh = GeometryAt(first, 4);
  Geometry& other = GeometryAt(first, 5);
  ASSERT_EQ(mesh.arrays.size(), 4u);
  EXPECT_EQ(TestSupport::IntsOf(mesh.arrays[0].data),
            (std::vector<std::int32_t>{0, 1, 2, 2, 3, 0, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(mesh.arrays[0].data.subKind, 2u);
  EXPECT_EQ(mesh.arrays[3].data.Bytes(), mesh.arrays[1].data.Bytes());
  EXPECT_EQ(other.arrays[0].data.Bytes(), mesh.arrays[0].data.Bytes());
  EXPECT_EQ(mesh.arrays[2].kind, kUnpackedKind);
  EXPECT_EQ(mesh.arrays[2].vibration, 1);
  EXPECT_EQ(TestSupport::FloatsOf(mesh.arrays[2].data),
            (std::vector<float>{1.5f, -2.5f, 3.25f, 0.0f, 9.0f}));

  // Node sets, the future node and the empty entry keep their places.
  auto* sets = static_cast<NodeSets*>(first.GetNode(6));
  ASSERT_NE(sets, nullptr);
  ASSERT_EQ(sets->sets.size(), 3u);
  EXPECT_EQ(sets->sets[0].name, "fixed");
  EXPECT_EQ(sets->sets[0].members[1], std::make_pair(3u, 4u));
  ASSERT_NE(first.GetNode(7), nullptr);
  EXPECT_EQ(first.GetNode(7)->GetTypeName(), "FutureNode");
  EXPECT_EQ(first.GetNode(7)->name, "From the future");
  EXPECT_EQ(first.GetNode(8), nullptr);
  EXPECT_EQ(first.GetReqNode(8).prevSiblingId, 7u);

  // History: the two records of the model, then the save's own record.
  ASSERT_EQ(first.globalInfo.size(), 2u);
  const GlobalInfoRecord& saved = first.globalInfo.back();
  EXPECT_EQ((std::vector<std::string>{saved.applicationName, saved.applicationVersion,
                                      saved.formatVersion, saved.computerName, saved.userName,
                                      saved.callerText}),
            (std::vector<std::string>{"Tester", "1.0", "1.3", "", "", ""}));
  EXPECT_TRUE(LooksLikeSaveTime(saved.saveTime)) << saved.saveTime;

  // View points and actions.
  ASSERT_TRUE(first.HasViewPoints());
  ASSERT_EQ(first.views.groups.size(), 2u);
  EXPECT_EQ(first.views.groups[0].entries[1].name, "side");
  EXPECT_EQ(first.views.groups[0].entries[1].flag, 0);
  EXPECT_EQ(first.views.current.viewPoint, RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5}));
  ASSERT_EQ(first.views.actions.actions.size(), 3u);
  EXPECT_EQ(first.views.actions.actions[2]->GetTypeCode(), 5);
  EXPECT_EQ(first.views.actions.text, "script");

  // A second save of the loaded tree holds the same tree and one more history record.
  std::string again = SaveAndDescribe(first, dir.File("b.mox"));
  EXPECT_EQ(again, DescribeTree(first, false));
  Tree second;
  second.Load(dir.File("b.mox"), ids);
  EXPECT_EQ(second.globalInfo.size(), 3u);
}

TEST(TreeFile, EverySectionIsCompressedAndTheFileEndsWithItsLastBlock) {
  TempDir dir;
  Tree tree;
  TestSupport::BuildRichTree(tree);
  tree.Save(dir.File("a.mox"));
  KivRkf::RkFile file;
  file.OpenFile(dir.File("a.mox"), "rb");
  file.ReadIndex();
  std::set<std::string> named;
  std::uint64_t end = 0;
  for (const auto& b : file.GetIndex().Blocks()) {
    end = std::max(end, b.offset + b.storedSize);
    if (b.name.empty() || b.name[0] == '\x0B') continue;
    named.insert(b.name);
    EXPECT_TRUE(b.flags & KivRkf::kFlagZlib) << b.name;
  }
  EXPECT_EQ(named, (std::set<std::string>{"Heavy Data", "Mox Tree", "Light Data", "Attributes",
                                          "Resources", "Global Information", "View Points"}));
  EXPECT_EQ(end, std::filesystem::file_size(dir.File("a.mox")));
}

TEST(TreeFile, TreeWithoutViewPointsSavesNoViewPointSection) {
  TempDir dir;
  Tree tree;
  tree.Save(dir.File("empty.mox"));
  KivRkf::RkFile file;
  file.OpenFile(dir.File("empty.mox"), "rb");
  file.ReadIndex();
  EXPECT_FALSE(file.GetIndex().HasName("View Points"));
  EXPECT_FALSE(file.GetIndex().HasName("Light Data"));
  file.CloseFile();
  Tree loaded;
  Tree::IdentifierMap ids;
  loaded.Load(dir.File("empty.mox"), ids);
  EXPECT_FALSE(loaded.HasViewPoints());
  EXPECT_EQ(loaded.Size(), 1u);
  EXPECT_EQ(loaded.GetNode(1), nullptr);
}

TEST(TreeFile, AppendModeShiftsIdentifiersAndHangsFilesUnderTheMergeRoot) {
  TempDir dir;
  {
    Tree tree;
    TestSupport::BuildRichTree(tree);
    tree.Save(dir.File("a.mox"));
  }
  Tree merged("MoxMerge", "2017 R1");
  auto root = std::make_unique<Group>();
  root->name = "Merge";
  root->mergeRoot = 1;
  merged.SetEntryNode(merged.GetCurrentNode(), std::move(root));
  Tree::IdentifierMap firstIds, secondIds;
  merged.Load(dir.File("a.mox"), firstIds);
  merged.LoadNodes(dir.File("a.mox"), secondIds);

  EXPECT_EQ(merged.NextId(), 18u);
  using L = std::vector<std::uint32_t>;
  EXPECT_EQ(Links(merged, 1), (L{0, 0, 0, 2, 10}));
  EXPECT_EQ(Links(merged, 2)[0], 1u);
  EXPECT_EQ(Links(merged, 2)[2], 10u);
  EXPECT_EQ(Links(merged, 10)[0], 1u);
  EXPECT_EQ(Links(merged, 10)[1], 2u);
  EXPECT_EQ(Links(merged, 11)[0], 10u);
  EXPECT_EQ(Links(merged, 11)[3], 12u);
  EXPECT_EQ(merged.GetNode(2)->name, "Model");
  EXPECT_EQ(merged.GetNode(10)->name, "Model");
  for (std::uint32_t k = 1; k <= 8; ++k) {
    EXPECT_EQ(firstIds.at(k + 1), k);
    EXPECT_EQ(secondIds.at(k + 9), k);
  }
  // Links are shifted with the identifiers; only the full load resolves them.
  Geometry& firstLinked = GeometryAt(merged, 6);
  Geometry& secondLinked = GeometryAt(merged, 14);
  EXPECT_EQ(firstLinked.arrays[0].linkNode, 5u);
  EXPECT_EQ(secondLinked.arrays[0].linkNode, 13u);
  EXPECT_EQ(firstLinked.arrays[0].data.Bytes(), GeometryAt(merged, 5).arrays[0].data.Bytes());
  EXPECT_FALSE(secondLinked.arrays[0].data.HasBytes());
  // The second file's own arrays are loaded.
  EXPECT_EQ(TestSupport::FloatsOf(secondLinked.arrays[1].data),
            (std::vector<float>{20.0f, 21.5f, 23.0f, 24.5f}));
  // Only the first file's history is taken.
  EXPECT_EQ(merged.globalInfo.size(), 2u);
}

TEST(TreeFile, OlderVersionsLoadAndComeOutInTheCurrentVersions) {
  TempDir dir;
  const std::string path = dir.File("old.mox");
  const std::vector<std::int32_t> conn = {0, 1, 2, 3, 4, 5};
  const std::vector<float> field = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  {
    RawMox raw(path, "0.6");
    auto& ix = raw.Ix();
    // Heavy data: a "0.3" array (as stored), a "0.5" array (as stored) and a "0.6"
    // connectivity array in component planes.
    std::vector<std::uint8_t> planes(conn.size() * 4);
    EncodeComponents(reinterpret_cast<const std::uint8_t*>(conn.data()), planes.data(),
                     planes.size(), 3);
    ix.Put(kHeavyData, field.data(), 24);                             // at 0
    ix.Put(kHeavyData, field.data(), 24);                             // at 24
    ix.Put(kHeavyData, planes.data(), std::uint32_t(planes.size()));  // at 48

    raw.NodeCount(6);
    raw.Header(1, 0, 0, 0, 2, 6, "root", "Group", "0.2");
    for (float f : {1.f, 2.f, 3.f, 0.f, 0.f, 1.f, 0.f, 2.f, 2.f, 2.f}) ix.Put(kLightData, f);
    raw.Header(2, 1, 0, 3, 0, 0, "attrs", "Group", "0.3");
    for (float f : {0.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 1.f, 1.f, 1.f}) ix.Put(kLightData, f);
    AttributeMap n;
    n["n"] = Attribute::MakeInt(7);
    WriteAttributeMap(ix, kAttributes, n);
    raw.Header(3, 1, 2, 4, 0, 0, "plain shape", "Shape", "0.1");
    raw.Header(4, 1, 3, 5, 0, 0, "g03", "Geometry", "0.3");
    using U8 = std::uint8_t;
    using U32 = std::uint32_t;
    // Count, name, kind, byte size, components, tags A and B, parameters, tag C, vibration,
    // 32-bit heavy position.
    TestSupport::PutAll(ix, kLightData, U32{1}, std::string("old field"), U32{2}, U32{24}, U8{1},
                        U8{4}, U8{5}, U32{6}, U32{7}, U8{8}, U8{0}, U32{0});
    raw.Header(5, 1, 4, 6, 0, 0, "g05", "Geometry", "0.5");
    // Count, name, kind word, not linked, byte size, components, tags and parameters, 32-bit
    // heavy position, vibration.
    TestSupport::PutAll(ix, kLightData, U32{1}, std::string("field"), U32{(3u << 24) | 1u}, U8{0},
                        U32{24}, U8{1}, U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, U32{24}, U8{0});
    PutEmptyAttributes(ix);
    raw.Header(6, 1, 5, 0, 0, 0, "g06", "Geometry", "0.6");
    TestSupport::PutAll(ix, kLightData, U32{1}, std::string("cells"), U32{4}, U8{0}, U32{24}, U8{3},
                        U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, U32{48}, U8{0});
    PutEmptyAttributes(ix);
    raw.Finish();
  }
  Tree tree;
  Tree::IdentifierMap ids;
  tree.Load(path, ids);
  EXPECT_EQ(tree.fileVersion, "0.6");
  auto* root = static_cast<Group*>(tree.GetNode(1));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->translation, (std::array<float, 3>{1, 2, 3}));
  EXPECT_EQ(root->scale, (std::array<float, 3>{2, 2, 2}));
  EXPECT_TRUE(root->attributes.empty());
  auto* attrs = static_cast<Group*>(tree.GetNode(2));
  ASSERT_EQ(attrs->attributes.size(), 1u);
  EXPECT_EQ(attrs->attributes.at("n").int32, 7);
  EXPECT_EQ(attrs->mergeRoot, 0);
  auto* shape = static_cast<Shape*>(tree.GetNode(3));
  EXPECT_EQ(shape->material.colorA, (std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f}));
  Geometry& g03 = GeometryAt(tree, 4);
  EXPECT_EQ(g03.arrays[0].name, "old field");
  EXPECT_EQ(g03.arrays[0].data.tagA, 4);
  EXPECT_EQ(g03.arrays[0].data.paramB, 7u);
  EXPECT_EQ(TestSupport::FloatsOf(g03.arrays[0].data), field);
  Geometry& g05 = GeometryAt(tree, 5);
  EXPECT_EQ(g05.arrays[0].kind, 1u);
  EXPECT_EQ(g05.arrays[0].data.subKind, 3u);
  EXPECT_EQ(TestSupport::FloatsOf(g05.arrays[0].data), field);
  Geometry& g06 = GeometryAt(tree, 6);
  EXPECT_EQ(TestSupport::IntsOf(g06.arrays[0].data), conn);

  // Saved again, every node is in its current version and the values are the same.
  const std::string before = DescribeTree(tree, false);
  Tree again;
  tree.Save(dir.File("new.mox"));
  again.Load(dir.File("new.mox"), ids);
  EXPECT_EQ(again.GetNode(1)->GetVersion(), "0.4");
  EXPECT_EQ(again.GetNode(3)->GetVersion(), "0.2");
  EXPECT_EQ(again.GetNode(6)->GetVersion(), "0.7");
  EXPECT_EQ(TestSupport::IntsOf(GeometryAt(again, 6).arrays[0].data), conn);
  EXPECT_EQ(TestSupport::FloatsOf(GeometryAt(again, 4).arrays[0].data), field);
  // Versions differ (0.2 -> 0.4 ...); everything else is equal.
  EXPECT_EQ(WithoutVersions(DescribeTree(again, false)), WithoutVersions(before));
}

TEST(TreeFile, LegacyContainerDropsViewPointsButKeepsMaterialsAndHistory) {
  TempDir dir;
  const std::string path = dir.File("legacy.mox");
  {
    RawMox raw(path, "0.2");
    auto& ix = raw.Ix();
    raw.NodeCount(1);
    raw.Header(1, 0, 0, 0, 0, 0, "shape", "Shape", "0.2");
    Material m;
    m.valueE = 3.0f;
    ix.Put(kResources, m);  // written with its size, as materials always are
    ix.Put(kGlobalInformation, std::uint32_t{1});
    GlobalInfoRecord r;
    r.applicationName = "Old";
    ix.Put(kGlobalInformation, r);
    ViewPointEntry current;
    ix.Put(kViewPoints, current);
    ix.Put(kViewPoints, std::uint32_t{0});
    raw.Finish();
  }
  Tree tree;
  Tree::IdentifierMap ids;
  tree.Load(path, ids);
  EXPECT_EQ(static_cast<Shape*>(tree.GetNode(1))->material.valueE, 3.0f);
  ASSERT_EQ(tree.globalInfo.size(), 1u);
  EXPECT_EQ(tree.globalInfo[0].applicationName, "Old");
  EXPECT_FALSE(tree.HasViewPoints());
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
}

TEST(TreeFile, UnknownAndEmptyTypeNamesAndZeroNodes) {
  TempDir dir;
  {
    RawMox raw(dir.File("types.mox"), "1.3");
    raw.NodeCount(3);
    raw.Header(1, 0, 0, 0, 2, 3, "", "", "");
    raw.Header(2, 1, 0, 3, 0, 0, "odd", "Foo", "2.0");
    raw.Ix().Put(kLightData, std::uint32_t{3});
    raw.Ix().Put(kLightData, std::string("xyz").data(), 3);
    raw.Header(3, 1, 2, 0, 0, 0, "sets", "NodeSets", "0.1");
    raw.Ix().Put(kLightData, std::uint32_t{12});  // another payload size: skipped
    raw.Ix().Put(kLightData, std::string("123456789012").data(), 12);
    raw.Finish();
  }
  Tree tree;
  Tree::IdentifierMap ids;
  tree.Load(dir.File("types.mox"), ids);
  EXPECT_EQ(tree.GetNode(1), nullptr);
  EXPECT_EQ(tree.GetReqNode(1).firstChildId, 2u);
  ASSERT_NE(tree.GetNode(2), nullptr);
  EXPECT_EQ(tree.GetNode(2)->GetTypeName(), "FutureNode");
  EXPECT_EQ(tree.GetNode(2)->name, "odd");
  EXPECT_TRUE(static_cast<NodeSets*>(tree.GetNode(3))->sets.empty());
  // Saved again, the future node keeps its place.
  tree.Save(dir.File("again.mox"));
  Tree again;
  again.Load(dir.File("again.mox"), ids);
  EXPECT_EQ(again.GetNode(2)->GetVersion(), "0.1");
  EXPECT_EQ(again.GetNode(3)->GetTypeName(), "NodeSets");

  {
    RawMox raw(dir.File("zero.mox"), "1.3");
    raw.NodeCount(0);
    raw.Finish();
  }
  Tree zero;
  auto root = std::make_unique<Group>();
  root->name = "kept";
  zero.SetEntryNode(zero.GetCurrentNode(), std::move(root));
  zero.Load(dir.File("zero.mox"), ids);
  EXPECT_EQ(zero.Size(), 1u);
  EXPECT_EQ(zero.GetNode(1)->name, "kept");
}

TEST(TreeFile, RefusesNewerVersionsAndFilesThatAreNotMoxFiles) {
  TempDir dir;
  Tree::IdentifierMap ids;
  {
    RawMox raw(dir.File("new.mox"), "1.4");
    raw.NodeCount(0);
    raw.Finish();
  }
  std::string description;
  Tree a;
  EXPECT_EQ(CodeOf([&] { a.Load(dir.File("new.mox"), ids); }, &description), 2);
  EXPECT_EQ(description,
            "This file is of mox file version 14.\nThis version of Tessara only supports mox file "
            "version upto 13.\n");

  TestSupport::WriteFileBytes(dir.File("text.mox"), {'h', 'e', 'l', 'l', 'o', '\n'});
  Tree b;
  EXPECT_EQ(CodeOf([&] { b.Load(dir.File("text.mox"), ids); }, &description), 11);
  EXPECT_EQ(description, dir.File("text.mox") + " is not a Mox file");
  Tree c;
  EXPECT_EQ(CodeOf([&] { c.LoadNodes(dir.File("text.mox"), ids); }), 11);

  // A container without a node tree (a view point file, say) is not a Mox file either.
  {
    RawMox raw(dir.File("views.vpt"), "1.3");
    ViewPointEntry current;
    raw.Ix().Put(kViewPoints, current);
    raw.Ix().Put(kViewPoints, std::uint32_t{0});
    raw.Finish();
  }
  Tree d;
  EXPECT_EQ(CodeOf([&] { d.Load(dir.File("views.vpt"), ids); }, &description), 11);
  EXPECT_EQ(description, dir.File("views.vpt") + " is not a Mox file");

  Tree e;
  EXPECT_EQ(CodeOf([&] { e.Load(dir.File("missing.mox"), ids); }, &description), 16);
  EXPECT_EQ(description, "Unable to open file \"" + dir.File("missing.mox") + "\"");
}

TEST(TreeFile, HeaderIdentifiersThatWouldCorruptTheTreeAreRefused) {
  TempDir dir;
  Tree::IdentifierMap ids;
  auto write = [&](const std::string& name, std::vector<std::uint32_t> idList) {
    RawMox raw(dir.File(name), "1.3");
    raw.NodeCount(std::int32_t(idList.size()));
    for (std::uint32_t id : idList) raw.Header(id, 0, 0, 0, 0, 0, "n", "", "");
    raw.Finish();
  };
  write("zero.mox", {0});
  write("twice.mox", {1, 2, 2});
  write("high.mox", {1, 0xFFFFFFF0u});
  Tree a, b;
  EXPECT_EQ(CodeOf([&] { a.Load(dir.File("zero.mox"), ids); }), 1);
  EXPECT_EQ(CodeOf([&] { b.Load(dir.File("twice.mox"), ids); }), 1);
  // Shifted past 4294967295 in append mode.
  Tree merged;
  auto root = std::make_unique<Group>();
  root->mergeRoot = 1;
  merged.SetEntryNode(merged.GetCurrentNode(), std::move(root));
  write("wide.mox", {1, 0xFFFFFF00u});
  merged.LoadNodes(dir.File("wide.mox"), ids);
  EXPECT_EQ(CodeOf([&] { merged.LoadNodes(dir.File("high.mox"), ids); }), 1);
  EXPECT_EQ(merged.GetReqNode(1).data->GetTypeName(), "Group");
}

TEST(TreeFile, ViewPointFailureRules) {
  TempDir dir;
  Tree::IdentifierMap ids;
  Tree base;
  TestSupport::BuildRichTree(base);
  base.Save(dir.File("base.mox"));

  // Damaged group list: every group goes, also those held before.
  {
    RawMox raw(dir.File("broken.vpt"), "1.3");
    ViewPointEntry current;
    raw.Ix().Put(kViewPoints, current);
    raw.Ix().Put(kViewPoints, std::uint32_t{5});  // five groups announced, none stored
    raw.Finish();
  }
  Tree tree;
  tree.Load(dir.File("base.mox"), ids);
  ASSERT_EQ(tree.views.groups.size(), 2u);
  tree.LoadViewPoints(dir.File("broken.vpt"));
  EXPECT_TRUE(tree.views.groups.empty());
  EXPECT_FALSE(tree.HasViewPoints());

  // Damaged actions after complete groups: the groups stay.
  {
    RawMox raw(dir.File("noactions.vpt"), "1.3");
    ViewPointEntry current;
    current.name = "imported";
    raw.Ix().Put(kViewPoints, current);
    raw.Ix().Put(kViewPoints, std::uint32_t{1});
    raw.Ix().Put(kViewPoints, std::string("Imported"));
    raw.Ix().Put(kViewPoints, std::uint32_t{1});
    raw.Ix().Put(kViewPoints, current);
    raw.Finish();
  }
  Tree other;
  other.Load(dir.File("base.mox"), ids);
  other.LoadViewPoints(dir.File("noactions.vpt"));
  ASSERT_EQ(other.views.groups.size(), 3u);
  EXPECT_EQ(other.views.groups[2].name, "Imported");
  EXPECT_EQ(other.views.current.name, "imported");
  EXPECT_TRUE(other.HasViewPoints());

  // A view point file of container version 0.1 contributes nothing.
  {
    RawMox raw(dir.File("old.vpt"), "0.1");
    raw.Ix().Put(kViewPoints, std::uint32_t{1});
    raw.Finish();
  }
  Tree third;
  third.Load(dir.File("base.mox"), ids);
  const std::string before = DescribeTree(third);
  third.LoadViewPoints(dir.File("old.vpt"));
  EXPECT_EQ(DescribeTree(third), before);
}

TEST(TreeFile, LegacyWriterFlagFollowsTheLastHistoryRecord) {
  TempDir dir;
  Tree::IdentifierMap ids;
  for (const char* version : {"2010 R1 4,1,311,217", "2010 R1 4.1.110.825", "2019 R2"}) {
    Tree tree;
    GlobalInfoRecord r;
    r.applicationVersion = "2010 R1 4,1,311,217";
    tree.globalInfo.push_back(r);
    tree.currentInfo.applicationVersion = version;
    tree.Save(dir.File("h.mox"));
    Tree loaded;
    loaded.Load(dir.File("h.mox"), ids);
    EXPECT_EQ(LegacyWriterFlag(), std::string(version) != "2019 R2") << version;
  }
}

TEST(TreeFile, FailedSaveLeavesNoOutputAndNoTemporaryFile) {
  TempDir dir;
  Tree tree;
  TestSupport::BuildRichTree(tree);
  EXPECT_EQ(CodeOf([&] { tree.Save(dir.File("missing/out.mox")); }), 16);
  EXPECT_FALSE(TestSupport::FileExists(dir.File("missing")));

  // A write that fails part way (file size limit) leaves the old output untouched.
  TestSupport::WriteFileBytes(dir.File("out.mox"), {'o', 'l', 'd'});
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {3000, 3000};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      tree.Save(dir.File("out.mox"));
    } catch (const Kiv::Util::Exception& e) {
      _exit(e.GetCode() == Kiv::Util::ErrorCode::WriteError ? 0 : 3);
    }
    _exit(4);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(TestSupport::ReadFileBytes(dir.File("out.mox")),
            (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST(TreeFile, SavingThroughASymbolicLinkReplacesItsTarget) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("real"));
  TestSupport::WriteFileBytes(dir.File("real/model.mox"), {'x'});
  std::filesystem::create_symlink("real/model.mox", dir.File("link.mox"));
  Tree tree;
  TestSupport::BuildRichTree(tree);
  tree.Save(dir.File("link.mox"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.mox")));
  Tree loaded;
  Tree::IdentifierMap ids;
  loaded.Load(dir.File("real/model.mox"), ids);
  EXPECT_EQ(loaded.GetNode(1)->name, "Model");
}
