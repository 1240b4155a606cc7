// Whole Mox files: saving a tree and loading it back, append mode, files of older versions
// written here from the lower layers, damaged headers and heavy blocks, deferred loading
// and where a save writes.

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "../../../fuzz/tree_description.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/future_node.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"
#include "mox_helpers.hpp"
#include "support/model_builder.hpp"

using namespace KivMox;
using MoxTest::Failure;
using TestSupport::GeometryAt;
using TestSupport::TempDir;
using U8 = std::uint8_t;
using U32 = std::uint32_t;

namespace {

// Writes a Mox file of any container version straight through the container layer.
class RawMox {
 public:
  RawMox(const std::string& path, const std::string& version, std::int32_t nodes) {
    file_.OpenFile(path, "wb+");
    char field[4] = {};
    std::memcpy(field, version.data(), std::min<std::size_t>(version.size(), 4));
    std::fwrite(KivRkf::kMagic, 1, 8, file_.Stream());
    std::fwrite(field, 1, 4, file_.Stream());
    wide_ = KivRkf::VersionNumber(version) > 6;
    if (nodes >= 0) Ix().Put(kMoxTree, nodes);
  }
  ~RawMox() {
    Ix().WriteAllBuffersToFileStream(file_.Stream());
    file_.CloseFile();
  }
  KivRkf::Index& Ix() { return file_.GetIndex(); }
  // A tree header whose light position is where "Light Data" stands now.
  void Header(std::array<U32, 6> links, const std::string& name, const std::string& type,
              const std::string& version) {
    MoxTest::PutAll(Ix(), kMoxTree, links, name, type, version);
    const std::uint64_t light = Ix().GetSize(kLightData);
    if (wide_)
      Ix().Put(kMoxTree, light);
    else
      Ix().Put(kMoxTree, U32(light));
  }

 private:
  KivRkf::RkFile file_;
  bool wide_ = true;
};

std::unique_ptr<Tree> Load(const std::string& path, Tree::IdentifierMap* ids = nullptr) {
  auto tree = std::make_unique<Tree>();
  Tree::IdentifierMap own;
  tree->Load(path, ids ? *ids : own);
  return tree;
}

std::string Describe(const Tree& tree) {
  return FuzzDescription::DescribeTree(tree);
}

// A description with the record versions of the nodes left out.
std::string WithoutVersions(std::string text) {
  for (auto at = text.find(" version="); at != std::string::npos; at = text.find(" version=", at))
    text.erase(at, text.find(' ', at + 1) - at);
  return text;
}

// A tree whose root is a merge root, as moxmerge builds it.
void SetMergeRoot(Tree& tree) {
  auto root = std::make_unique<Group>();
  root->name = "Merge";
  root->mergeRoot = 1;
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
}

std::vector<U32> Links(const Tree& tree, U32 id) {
  const auto& e = tree.GetReqNode(id);
  return {e.parentId, e.prevSiblingId, e.nextSiblingId, e.firstChildId, e.lastChildId};
}

TEST(TreeFile, RoundTripKeepsNodesValuesLinksHistoryAndViewPoints) {
  TempDir dir;
  Tree tree("Tester", "1.0");
  TestSupport::BuildRichTree(tree);
  auto move = std::make_unique<MoveAction>();
  move->vector = {1, 2, 3};
  tree.views.actions.actions.push_back(std::move(move));
  tree.Save(dir.File("a.mox"));
  Tree::IdentifierMap ids;
  auto first = Load(dir.File("a.mox"), &ids);
  EXPECT_EQ(Describe(*first), Describe(tree));
  EXPECT_EQ(first->fileVersion, "1.3");
  EXPECT_EQ(ids.size(), 8u);
  // Links are resolved to shared buffers; the heavy positions are forgotten.
  Geometry& mesh = GeometryAt(*first, 4);
  EXPECT_EQ(mesh.arrays[3].data.Bytes(), mesh.arrays[1].data.Bytes());
  EXPECT_EQ(GeometryAt(*first, 5).arrays[0].data.Bytes(), mesh.arrays[0].data.Bytes());
  for (const auto& a : mesh.arrays) EXPECT_FALSE(a.heavyPosition.has_value()) << a.name;
  // History: the two records of the model, then the save's own record with its time as
  // "Sun Dec 06 11:35:16 2026 UTC".
  ASSERT_EQ(first->globalInfo.size(), 2u);
  const GlobalInfoRecord& saved = first->globalInfo.back();
  EXPECT_EQ((std::vector<std::string>{saved.applicationName, saved.applicationVersion,
                                      saved.formatVersion, saved.computerName, saved.userName,
                                      saved.callerText}),
            (std::vector<std::string>{"Tester", "1.0", "1.3", "", "", ""}));
  std::string shape = saved.saveTime.substr(0, 25);
  for (char& c : shape) c = std::isalpha(U8(c)) ? 'a' : std::isdigit(U8(c)) ? '0' : c;
  EXPECT_EQ(shape, "aaa aaa 00 00:00:00 0000 ") << saved.saveTime;
  // A second save of the loaded tree holds the same tree and one more history record.
  first->Save(dir.File("b.mox"));
  auto second = Load(dir.File("b.mox"));
  EXPECT_EQ(Describe(*second), Describe(tree));
  EXPECT_EQ(second->globalInfo.size(), 3u);

  // Every section is compressed and the file ends with its last block.
  MoxTest::Reader file(dir.File("a.mox"));
  std::set<std::string> named;
  std::uint64_t end = 0;
  for (const auto& b : file.Index().Blocks()) {
    end = std::max(end, b.offset + b.storedSize);
    if (b.name.empty() || b.name[0] == '\x0B') continue;
    named.insert(b.name);
    EXPECT_TRUE(b.flags & KivRkf::kFlagZlib) << b.name;
  }
  EXPECT_EQ(named, (std::set<std::string>{"Heavy Data", "Mox Tree", "Light Data", "Attributes",
                                          "Resources", "Global Information", "View Points"}));
  EXPECT_EQ(end, std::filesystem::file_size(dir.File("a.mox")));
  // A tree without view points saves no view point section.
  Tree().Save(dir.File("empty.mox"));
  EXPECT_FALSE(MoxTest::Reader(dir.File("empty.mox")).Index().HasName("View Points"));
  auto empty = Load(dir.File("empty.mox"));
  EXPECT_EQ(std::make_tuple(empty->HasViewPoints(), empty->Size(), empty->GetNode(1)),
            std::make_tuple(false, std::size_t{1}, static_cast<Node*>(nullptr)));
}

TEST(TreeFile, AppendModeShiftsIdentifiersAndHangsFilesUnderTheMergeRoot) {
  TempDir dir;
  Tree rich;
  TestSupport::BuildRichTree(rich);
  rich.Save(dir.File("a.mox"));
  Tree merged("MoxMerge", "2017 R1");
  SetMergeRoot(merged);
  Tree::IdentifierMap firstIds, secondIds;
  merged.Load(dir.File("a.mox"), firstIds);
  merged.LoadNodes(dir.File("a.mox"), secondIds);
  EXPECT_EQ(merged.NextId(), 18u);
  using L = std::vector<U32>;
  EXPECT_EQ(Links(merged, 1), (L{0, 0, 0, 2, 10}));
  EXPECT_EQ(Links(merged, 2), (L{1, 0, 10, 3, 3}));
  EXPECT_EQ(Links(merged, 10), (L{1, 2, 0, 11, 11}));
  EXPECT_EQ(Links(merged, 11), (L{10, 0, 0, 12, 17}));
  EXPECT_EQ(merged.GetNode(10)->name, "Model");
  for (U32 k = 1; k <= 8; ++k)
    EXPECT_EQ(std::make_pair(firstIds.at(k + 1), secondIds.at(k + 9)), std::make_pair(k, k));
  // Links are shifted with the identifiers; only the full load resolves them.
  Geometry& firstLinked = GeometryAt(merged, 6);
  Geometry& secondLinked = GeometryAt(merged, 14);
  EXPECT_EQ(std::make_pair(firstLinked.arrays[0].linkNode, secondLinked.arrays[0].linkNode),
            std::make_pair(5u, 13u));
  EXPECT_EQ(firstLinked.arrays[0].data.Bytes(), GeometryAt(merged, 5).arrays[0].data.Bytes());
  EXPECT_FALSE(secondLinked.arrays[0].data.HasBytes());
  EXPECT_EQ(TestSupport::FloatsOf(secondLinked.arrays[1].data),
            (std::vector<float>{20.0f, 21.5f, 23.0f, 24.5f}));
  EXPECT_EQ(merged.globalInfo.size(), 2u);  // only the first file's history
}

TEST(TreeFile, OlderVersionsLoadAndComeOutInTheCurrentVersions) {
  TempDir dir;
  const std::string path = dir.File("old.mox");
  const std::vector<std::int32_t> conn = {0, 1, 2, 3, 4, 5};
  const std::vector<float> field = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  {
    RawMox raw(path, "0.6", 6);
    auto& ix = raw.Ix();
    // Heavy data: a "0.3" array and a "0.5" array (as stored) and a "0.6" connectivity
    // array in component planes.
    std::vector<U8> planes(conn.size() * 4);
    EncodeComponents(reinterpret_cast<const U8*>(conn.data()), planes.data(), planes.size(), 3);
    ix.Put(kHeavyData, field.data(), 24);                   // at 0
    ix.Put(kHeavyData, field.data(), 24);                   // at 24
    ix.Put(kHeavyData, planes.data(), U32(planes.size()));  // at 48
    raw.Header({1, 0, 0, 0, 2, 6}, "root", "Group", "0.2");
    ix.Put(kLightData, std::array<float, 10>{1, 2, 3, 0, 0, 1, 0, 2, 2, 2});
    raw.Header({2, 1, 0, 3, 0, 0}, "attrs", "Group", "0.3");
    ix.Put(kLightData, std::array<float, 10>{0, 0, 0, 0, 0, 1, 0, 1, 1, 1});
    AttributeMap n;
    n["n"] = Attribute::MakeInt(7);
    WriteAttributeMap(ix, kAttributes, n);
    raw.Header({3, 1, 2, 4, 0, 0}, "plain shape", "Shape", "0.1");
    raw.Header({4, 1, 3, 5, 0, 0}, "g03", "Geometry", "0.3");
    // Count, name, kind, byte size, components, tags A and B, parameters, tag C, vibration,
    // 32-bit heavy position.
    MoxTest::PutAll(ix, kLightData, U32{1}, std::string("old field"), U32{2}, U32{24}, U8{1}, U8{4},
                    U8{5}, U32{6}, U32{7}, U8{8}, U8{0}, U32{0});
    // Count, name, kind word, not linked, byte size, components, tags and parameters, 32-bit
    // heavy position, vibration.
    raw.Header({5, 1, 4, 6, 0, 0}, "g05", "Geometry", "0.5");
    MoxTest::PutAll(ix, kLightData, U32{1}, std::string("field"), U32{(3u << 24) | 1u}, U8{0},
                    U32{24}, U8{1}, U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, U32{24}, U8{0});
    WriteAttributeMap(ix, kAttributes, {});
    raw.Header({6, 1, 5, 0, 0, 0}, "g06", "Geometry", "0.6");
    MoxTest::PutAll(ix, kLightData, U32{1}, std::string("cells"), U32{4}, U8{0}, U32{24}, U8{3},
                    U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, U32{48}, U8{0});
    WriteAttributeMap(ix, kAttributes, {});
  }
  auto tree = Load(path);
  EXPECT_EQ(tree->fileVersion, "0.6");
  auto* root = static_cast<Group*>(tree->GetNode(1));
  EXPECT_EQ(std::make_tuple(root->translation, root->scale, root->attributes.size()),
            std::make_tuple(std::array<float, 3>{1, 2, 3}, std::array<float, 3>{2, 2, 2},
                            std::size_t{0}));
  auto* attrs = static_cast<Group*>(tree->GetNode(2));
  EXPECT_EQ(std::make_pair(attrs->attributes.at("n").int32, int(attrs->mergeRoot)),
            std::make_pair(7, 0));
  EXPECT_EQ(static_cast<Shape*>(tree->GetNode(3))->material.colorA,
            (std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f}));
  const auto& g03 = GeometryAt(*tree, 4).arrays[0];
  EXPECT_EQ(std::make_tuple(g03.name, int(g03.data.tagA), g03.data.paramB),
            std::make_tuple("old field", 4, 7u));
  EXPECT_EQ(TestSupport::FloatsOf(g03.data), field);
  const auto& g05 = GeometryAt(*tree, 5).arrays[0];
  EXPECT_EQ(std::make_pair(g05.kind, g05.data.subKind), std::make_pair(1u, 3u));
  EXPECT_EQ(TestSupport::FloatsOf(g05.data), field);
  EXPECT_EQ(TestSupport::IntsOf(GeometryAt(*tree, 6).arrays[0].data), conn);
  // Saved again, every node is in its current version and the values are the same.
  tree->Save(dir.File("new.mox"));
  auto again = Load(dir.File("new.mox"));
  EXPECT_EQ(std::make_tuple(again->GetNode(1)->GetVersion(), again->GetNode(3)->GetVersion(),
                            again->GetNode(6)->GetVersion()),
            std::make_tuple("0.4", "0.2", "0.7"));
  EXPECT_EQ(WithoutVersions(Describe(*again)), WithoutVersions(Describe(*tree)));
}

TEST(TreeFile, LegacyContainersUnknownTypesAndZeroNodes) {
  TempDir dir;
  {
    RawMox raw(dir.File("legacy.mox"), "0.2", 1);
    raw.Header({1, 0, 0, 0, 0, 0}, "shape", "Shape", "0.2");
    Material m;
    m.valueE = 3.0f;
    raw.Ix().Put(kResources, m);  // written with its size, as materials always are
    GlobalInfoRecord r;
    r.applicationName = "Old";
    MoxTest::PutAll(raw.Ix(), "Global Information", U32{1}, r);
    MoxTest::PutAll(raw.Ix(), "View Points", ViewPointEntry{}, U32{0});
  }
  auto legacy = Load(dir.File("legacy.mox"));
  EXPECT_EQ(static_cast<Shape*>(legacy->GetNode(1))->material.valueE, 3.0f);
  ASSERT_EQ(legacy->globalInfo.size(), 1u);
  EXPECT_EQ(legacy->globalInfo[0].applicationName, "Old");
  EXPECT_FALSE(legacy->HasViewPoints());  // view points of a legacy container are dropped
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
  {
    RawMox raw(dir.File("types.mox"), "1.3", 3);
    raw.Header({1, 0, 0, 0, 2, 3}, "", "", "");
    raw.Header({2, 1, 0, 3, 0, 0}, "odd", "Foo", "2.0");
    MoxTest::PutAll(raw.Ix(), kLightData, U32{3}, std::array<char, 3>{'x', 'y', 'z'});
    raw.Header({3, 1, 2, 0, 0, 0}, "sets", "NodeSets", "0.1");
    MoxTest::PutAll(raw.Ix(), kLightData, U32{12}, std::array<char, 12>{});  // skipped
  }
  auto types = Load(dir.File("types.mox"));
  EXPECT_EQ(std::make_pair(types->GetNode(1), types->GetReqNode(1).firstChildId),
            std::make_pair(static_cast<Node*>(nullptr), 2u));
  ASSERT_NE(types->GetNode(2), nullptr);
  EXPECT_EQ(std::make_pair(types->GetNode(2)->GetTypeName(), types->GetNode(2)->name),
            std::make_pair(std::string("FutureNode"), std::string("odd")));
  EXPECT_TRUE(static_cast<NodeSets*>(types->GetNode(3))->sets.empty());
  types->Save(dir.File("again.mox"));  // the future node keeps its place
  auto again = Load(dir.File("again.mox"));
  EXPECT_EQ(std::make_pair(again->GetNode(2)->GetVersion(), again->GetNode(3)->GetTypeName()),
            std::make_pair(std::string("0.1"), std::string("NodeSets")));
  { RawMox raw(dir.File("zero.mox"), "1.3", 0); }
  Tree zero;
  SetMergeRoot(zero);
  Tree::IdentifierMap ids;
  zero.Load(dir.File("zero.mox"), ids);
  EXPECT_EQ(std::make_pair(zero.Size(), zero.GetNode(1)->name),
            std::make_pair(std::size_t{1}, std::string("Merge")));
}

TEST(TreeFile, RefusedFilesAndHeaders) {
  TempDir dir;
  Tree::IdentifierMap ids;
  { RawMox raw(dir.File("new.mox"), "1.4", 0); }
  TestSupport::WriteFileBytes(dir.File("text.mox"), {'h', 'e', 'l', 'l', 'o', '\n'});
  {  // a container without a node tree (a view point file) is not a Mox file either
    RawMox raw(dir.File("views.vpt"), "1.3", -1);
    MoxTest::PutAll(raw.Ix(), "View Points", ViewPointEntry{}, U32{0});
  }
  auto write = [&](const std::string& name, std::vector<U32> idList) {
    RawMox raw(dir.File(name), "1.3", std::int32_t(idList.size()));
    for (U32 id : idList) raw.Header({id, 0, 0, 0, 0, 0}, "n", "", "");
  };
  write("zero.mox", {0});
  write("twice.mox", {1, 2, 2});
  const std::pair<const char*, std::pair<int, std::string>> cases[] = {
      {"new.mox",
       {2,
        "This file is of mox file version 14.\nThis version of Tessara only supports "
        "mox file version upto 13.\n"}},
      {"text.mox", {11, dir.File("text.mox") + " is not a Mox file"}},
      {"views.vpt", {11, dir.File("views.vpt") + " is not a Mox file"}},
      {"missing.mox", {16, "Unable to open file \"" + dir.File("missing.mox") + "\""}},
      {"zero.mox", {1, "Node identifier out of range"}},
      {"twice.mox", {1, "Node identifier read twice"}}};
  for (const auto& [name, expected] : cases) {
    Tree t;
    std::string description;
    EXPECT_EQ(
        std::make_pair(Failure([&] { t.Load(dir.File(name), ids); }, &description), description),
        expected);
  }
  Tree c;
  EXPECT_EQ(Failure([&] { c.LoadNodes(dir.File("text.mox"), ids); }), 11);
  // Shifted past 4294967295 in append mode.
  Tree merged;
  SetMergeRoot(merged);
  write("wide.mox", {1, 0xFFFFFF00u});
  write("high.mox", {1, 0xFFFFFFF0u});
  merged.LoadNodes(dir.File("wide.mox"), ids);
  EXPECT_EQ(Failure([&] { merged.LoadNodes(dir.File("high.mox"), ids); }), 1);
  EXPECT_EQ(merged.GetReqNode(1).data->GetTypeName(), "Group");
}

TEST(TreeFile, ViewPointFilesAndTheLegacyWriterFlag) {
  TempDir dir;
  Tree base;
  TestSupport::BuildRichTree(base);
  base.Save(dir.File("base.mox"));
  {  // five groups announced, none stored
    RawMox raw(dir.File("broken.vpt"), "1.3", -1);
    MoxTest::PutAll(raw.Ix(), "View Points", ViewPointEntry{}, U32{5});
  }
  {  // complete groups, damaged actions
    RawMox raw(dir.File("noactions.vpt"), "1.3", -1);
    ViewPointEntry current;
    current.name = "imported";
    MoxTest::PutAll(raw.Ix(), "View Points", current, U32{1}, std::string("Imported"), U32{1},
                    current);
  }
  {
    RawMox raw(dir.File("old.vpt"), "0.1", -1);
    raw.Ix().Put("View Points", U32{1});
  }
  // A damaged group list drops every group, also those held before.
  auto tree = Load(dir.File("base.mox"));
  tree->LoadViewPoints(dir.File("broken.vpt"));
  EXPECT_TRUE(tree->views.groups.empty());
  EXPECT_FALSE(tree->HasViewPoints());
  // Damaged actions after complete groups: the groups stay.
  auto other = Load(dir.File("base.mox"));
  other->LoadViewPoints(dir.File("noactions.vpt"));
  ASSERT_EQ(other->views.groups.size(), 3u);
  EXPECT_EQ(std::make_pair(other->views.groups[2].name, other->views.current.name),
            std::make_pair(std::string("Imported"), std::string("imported")));
  EXPECT_TRUE(other->HasViewPoints());
  // A view point file of container version 0.1 contributes nothing.
  auto third = Load(dir.File("base.mox"));
  third->LoadViewPoints(dir.File("old.vpt"));
  EXPECT_EQ(Describe(*third), Describe(base));

  // The legacy writer flag follows the last history record of the file loaded.
  for (const char* version : {"2010 R1 4,1,311,217", "2010 R1 4.1.110.825", "2019 R2"}) {
    Tree t;
    GlobalInfoRecord r;
    r.applicationVersion = "2010 R1 4,1,311,217";
    t.globalInfo.push_back(r);
    t.currentInfo.applicationVersion = version;
    t.Save(dir.File("h.mox"));
    Load(dir.File("h.mox"));
    EXPECT_EQ(LegacyWriterFlag(), std::string(version) != "2019 R2") << version;
  }
}

TEST(MoxTree, TheTreeOwnsItsNodesAndMatchesByNameTypeAndVersion) {
  struct Counted : Group {
    explicit Counted(int& n) : alive(n) { ++alive; }
    ~Counted() override { --alive; }
    int& alive;
  };
  int alive = 0;
  {
    Tree t;
    t.AppendChildNode(std::make_unique<Counted>(alive));
    const U32 id = t.AppendChildNode(std::make_unique<Counted>(alive));
    t.SetEntryNode(t.GetReqNode(1), std::make_unique<Counted>(alive));
    // The entry written back with its own node keeps it; another node replaces it; an
    // entry without a node deletes it; a node handed over is freed when placing it fails.
    KivAdt::TreeEntry<Node*> e = t.GetReqNode(id);
    e.nextSiblingId = 9;
    t.SetEntry(e);
    EXPECT_EQ(std::make_tuple(alive, t.GetReqNode(id).nextSiblingId), std::make_tuple(3, 9u));
    t.SetEntryNode(e, std::make_unique<Counted>(alive));
    EXPECT_EQ(alive, 3);
    e.data = nullptr;
    t.SetEntry(e);
    EXPECT_EQ(std::make_pair(alive, t.GetNode(id)), std::make_pair(2, static_cast<Node*>(nullptr)));
    e.id = 0xFFFFFFFF;
    EXPECT_EQ(Failure([&] { t.SetEntryNode(e, std::make_unique<Counted>(alive)); }), 1);
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 0);
  Tree t;
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<Node> node =
        i ? std::unique_ptr<Node>(std::make_unique<Shape>()) : std::make_unique<Group>();
    node->name = "part";
    t.SetCurrentId(1);
    t.AppendChildNode(std::move(node));
  }
  Shape probe;
  probe.name = "part";
  EXPECT_EQ(t.GetMatchingNodeId(&probe), 3u);
  FutureNode future;
  future.name = "part";
  try {
    t.GetMatchingNodeId(&future);
    ADD_FAILURE() << "no exception";
  } catch (const Kiv::Util::Exception& e) {
    EXPECT_EQ(std::make_pair(e.GetCode(), std::string(e.GetRecord().method)),
              std::make_pair(Kiv::Util::ErrorCode::ElementNotFound,
                             std::string("KivAdt::Tree<class KivMox::Node *>::GetMatchingNodeId")));
  }
}

}  // namespace
