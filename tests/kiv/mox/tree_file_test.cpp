// Whole Mox files: round trips, append mode, older, damaged and deferred loads, saves.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"
#include "support/merge_fixtures.hpp"
#include "support/mox_helpers.hpp"
#include "support/tree_description.hpp"

using namespace AppTest;
using namespace KivMox;
using FuzzDescription::DescribeTree;

namespace {

std::string WithoutVersions(std::string text) {
  for (auto at = text.find(" version="); at != std::string::npos; at = text.find(" version=", at))
    text.erase(at, text.find(' ', at + 1) - at);
  return text;
}

// A tree whose root is a merge root, as moxmerge builds it.
void SetMergeRoot(Tree& tree) {
  auto root = std::make_unique<Group>();
  std::tie(root->name, root->mergeRoot) = std::make_pair("Merge", 1);
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
}

std::vector<u32> Links(const Tree& tree, u32 id) {
  const auto& e = tree.GetReqNode(id);
  return {e.parentId, e.prevSiblingId, e.nextSiblingId, e.firstChildId, e.lastChildId};
}

// The code of the failure of loading from and saving to in a child process after setup.
template <class Setup>
int SaveInChild(const std::string& from, const std::string& to, Setup setup) {
  const int status = InChild([&] {
    Tree tree;
    Tree::IdentifierMap ids;
    return setup() ? MoxTest::Failure([&] { tree.Load(from, ids), tree.Save(to); }) : 99;
  });
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const Bytes kOld = {'o', 'l', 'd'};

class TreeFile : public ::testing::Test {
 protected:
  void SetUp() override { BuildRichTree(rich); }
  std::string F(const std::string& name) const { return dir.File(name); }
  TempDir dir;
  Tree rich{"Tester", "1.0"};
};

TEST_F(TreeFile, RoundTripKeepsNodesValuesLinksHistoryAndViewPoints) {
  auto transform = std::make_unique<TransformAction>();  // the one kind the model lacks
  std::tie(transform->translation, transform->rotation) =
      std::make_pair(std::array<float, 3>{5, 6, 7}, std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f});
  rich.views.actions.actions.push_back(std::move(transform));
  rich.Save(F("a.mox"));
  Tree first;
  Tree::IdentifierMap ids;
  first.Load(F("a.mox"), ids);
  EXPECT_EQ(DescribeTree(first), DescribeTree(rich));
  EXPECT_EQ(std::make_pair(first.fileVersion, ids.size()), std::make_pair(std::string("1.3"), 8ul));
  // The heavy positions are forgotten once the arrays are loaded.
  for (const auto& a : GeometryAt(first, 4).arrays)
    EXPECT_FALSE(a.heavyPosition.has_value()) << a.name;
  // A second save of the loaded tree holds the same tree and one more history record.
  first.Save(F("b.mox"));
  auto second = LoadTree(F("b.mox"));
  EXPECT_EQ(std::make_pair(DescribeTree(*second), second->globalInfo.size()),
            std::make_pair(DescribeTree(rich), 3ul));
  // A tree without view points saves no view point section.
  Tree().Save(F("empty.mox"));
  EXPECT_FALSE(MoxTest::Reader(F("empty.mox")).Index().HasName("View Points"));
  auto empty = LoadTree(F("empty.mox"));
  EXPECT_EQ(std::make_tuple(empty->HasViewPoints(), empty->Size(), empty->GetNode(1)),
            std::make_tuple(false, std::size_t{1}, static_cast<Node*>(nullptr)));
}

TEST_F(TreeFile, AppendModeShiftsIdentifiersAndHangsFilesUnderTheMergeRoot) {
  rich.Save(F("a.mox"));
  Tree merged("MoxMerge", "2017 R1");
  SetMergeRoot(merged);
  Tree::IdentifierMap firstIds, secondIds;
  merged.Load(F("a.mox"), firstIds);
  merged.LoadNodes(F("a.mox"), secondIds);
  using L = std::vector<u32>;
  EXPECT_EQ(
      (std::vector<L>{Links(merged, 1), Links(merged, 2), Links(merged, 10), Links(merged, 11)}),
      (std::vector<L>{{0, 0, 0, 2, 10}, {1, 0, 10, 3, 3}, {1, 2, 0, 11, 11}, {10, 0, 0, 12, 17}}));
  EXPECT_EQ(std::make_pair(merged.GetNode(10)->name, merged.NextId()),
            std::make_pair(std::string("Model"), 18u));
  for (u32 k = 1; k <= 8; ++k)
    EXPECT_EQ(std::make_pair(firstIds.at(k + 1), secondIds.at(k + 9)), std::make_pair(k, k));
  EXPECT_EQ(merged.globalInfo.size(), 2u);  // only the first file's history
}

// View points are read as records of the file's container, in which a legacy entry has no
// size to delimit its nested frame; a material keeps its size field in every container.
TEST_F(TreeFile, ViewPointsAreFramedAsTheirContainerMaterialsAlwaysSized) {
  const std::string refused =
      "view points: View point records of legacy containers have no size and cannot be read";
  const std::tuple<const char*, bool, std::string, std::string> cases[] = {
      // container version, view points kept, current view point's name, what the load dropped
      {"1.3", true, "front", ""},
      {"0.2", false, "front", refused},
      {"0.1", false, "no name", ""}};
  for (const auto& [version, kept, name, dropped] : cases) {
    const bool legacy = KivRkf::IsLegacyContainerVersion(version);
    {
      RawMox raw(F("v.mox"), version);
      raw.Put(kMoxTree, std::int32_t{1});
      raw.Header(1, 0, 0, "Shape", "0.2", 0);
      Material m;
      m.valueE = 3.0f;
      raw.Put(kResources, m);
      ViewPointEntry entry;
      entry.name = "front";
      KivRkf::Block framed;
      framed.Put(entry);
      const u32 from = legacy ? 4 : 0;  // a legacy record starts with its version
      raw.Ix().Put(kViewPoints, framed.Data() + from, framed.Size() - from);
      raw.Put(kViewPoints, u32{0}, ActionCollection{});
    }
    const auto tree = LoadTree(F("v.mox"));
    EXPECT_EQ(
        std::make_tuple(tree->HasViewPoints(), tree->views.current.name, tree->viewPointsFailure,
                        static_cast<Shape*>(tree->GetNode(1))->material.valueE),
        std::make_tuple(kept, name, dropped, 3.0f))
        << version;
  }
}

// A legacy container (32-bit light positions) of older record versions saved in the current
// ones; unknown node types.
TEST_F(TreeFile, LegacyContainersOlderVersionsAndUnknownTypes) {
  {
    RawMox raw(F("legacy.mox"), "0.2");
    raw.Put(kMoxTree, std::int32_t{2});
    raw.Header(1, 0, 0, "Group", "0.2", 0, 2, 2);
    raw.Put(kLightData, std::array<float, 10>{1, 2, 3, 0, 0, 1, 0, 2, 2, 2});
    raw.Header(2, 1, 0, "Shape", "0.2", raw.LightSize());
    GlobalInfoRecord r;
    r.applicationName = "Old";
    raw.Put("Global Information", u32{1}, r);
  }
  auto legacy = LoadTree(F("legacy.mox"));
  auto* root = static_cast<Group*>(legacy->GetNode(1));
  ASSERT_EQ(legacy->globalInfo.size(), 1u);
  EXPECT_EQ(std::make_tuple(root->translation, root->scale, legacy->fileVersion,
                            legacy->globalInfo[0].applicationName),
            std::make_tuple(std::array<float, 3>{1, 2, 3}, std::array<float, 3>{2, 2, 2},
                            std::string("0.2"), std::string("Old")));
  legacy->Save(F("new.mox"));
  auto upgraded = LoadTree(F("new.mox"));
  EXPECT_EQ(std::make_pair(upgraded->GetNode(1)->GetVersion(), upgraded->GetNode(2)->GetVersion()),
            std::make_pair(std::string("0.4"), std::string("0.2")));
  EXPECT_EQ(WithoutVersions(DescribeTree(*upgraded)), WithoutVersions(DescribeTree(*legacy)));
  {
    RawMox raw(F("types.mox"), "1.3");
    raw.Put(kMoxTree, std::int32_t{2});
    raw.Header(1, 0, 0, "", "", 0, 2, 2);
    raw.Header(2, 1, 0, "Foo", "2.0", 0);
    raw.Put(kLightData, u32{3}, std::array<char, 3>{'x', 'y', 'z'});
  }
  auto types = LoadTree(F("types.mox"));
  EXPECT_EQ(std::make_pair(types->GetNode(1), types->GetReqNode(1).firstChildId),
            std::make_pair(static_cast<Node*>(nullptr), 2u));
  ASSERT_NE(types->GetNode(2), nullptr);
  EXPECT_EQ(std::make_pair(types->GetNode(2)->GetTypeName(), types->GetNode(2)->name),
            std::make_pair(std::string("FutureNode"), std::string("node 2")));
}

TEST_F(TreeFile, RefusedFilesAndHeaders) {
  Tree::IdentifierMap ids;
  auto write = [&](const std::string& name, std::vector<u32> idList) {
    RawMox raw(F(name), "1.3");
    raw.Put(kMoxTree, std::int32_t(idList.size()));
    for (u32 id : idList) raw.Header(id, 0, 0, "", "", 0);
  };
  for (const auto& [idList, text] :
       {std::pair<std::vector<u32>, std::string>{{0}, "out of range"}, {{1, 2, 2}, "read twice"}}) {
    write("bad.mox", idList);
    Tree t;
    std::string description;
    EXPECT_EQ(CodeOf([&] { t.Load(F("bad.mox"), ids); }, &description), 1);
    EXPECT_EQ(description, "Node identifier " + text);
  }
  // Shifted past 4294967295 in append mode.
  Tree merged;
  SetMergeRoot(merged);
  write("wide.mox", {1, 0xFFFFFF00u});
  write("high.mox", {1, 0xFFFFFFF0u});
  merged.LoadNodes(F("wide.mox"), ids);
  EXPECT_EQ(CodeOf([&] { merged.LoadNodes(F("high.mox"), ids); }), 1);
  EXPECT_EQ(merged.GetReqNode(1).data->GetTypeName(), "Group");
}

// Through a link a save replaces the target; with replaceLink, the link (the target stays).
// The hidden name of the temporary file fits any name limit, cut at a character.
TEST_F(TreeFile, SavesIntoAMissingDirectoryThroughALinkOrReplacingIt) {
  EXPECT_EQ(CodeOf([&] { rich.Save(F("missing/out.mox")); }), 16);
  std::filesystem::create_directory(F("real"));
  std::filesystem::create_symlink("real/model.mox", F("link.mox"));
  WriteFileBytes(F("real/model.mox"), kOld);
  rich.Save(F("link.mox"));
  EXPECT_TRUE(std::filesystem::is_symlink(F("link.mox")));
  EXPECT_EQ(LoadTree(F("real/model.mox"))->GetNode(1)->name, "Model");
  EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"link.mox", "real"}));
  WriteFileBytes(F("real/model.mox"), kOld);
  rich.Save(F("link.mox"), true);
  EXPECT_FALSE(std::filesystem::is_symlink(F("link.mox")));
  EXPECT_EQ(ReadFileBytes(F("real/model.mox")), kOld);
  EXPECT_EQ(LoadTree(F("link.mox"))->GetNode(1)->name, "Model");
  const std::string accented = std::string(238, 'n') + "\xC3\xA9x";  // 241 bytes
  const std::tuple<std::string, std::size_t, std::string> rows[] = {
      {"a.mox", 255, ".a.mox.moxsave-XXXXXX"},
      {std::string(239, 'n'), 255, "." + std::string(239, 'n') + ".moxsave-XXXXXX"},
      {std::string(255, 'n'), 255, "." + std::string(239, 'n') + ".moxsave-XXXXXX"},
      {accented, 255, "." + std::string(238, 'n') + ".moxsave-XXXXXX"},
      {accented, 256, "." + std::string(238, 'n') + "\xC3\xA9.moxsave-XXXXXX"},
      {"a.mox", 14, "..moxsave-XXXXXX"}};
  for (const auto& [name, limit, expected] : rows)
    EXPECT_EQ(TemporaryName(name, limit), expected) << name.size() << " " << limit;
}

// After a save given up, an interrupt must not remove a file by the freed temporary name
// (its heap block is reused for another name before the signal).
TEST_F(TreeFile, NoTemporaryIsPendingOnceTheOutputIsDestroyed) {
  const int status = InChild([&] {
    signal(SIGTERM, SIG_DFL);
    InstallInterruptCleanup();
    auto output = std::make_unique<SafeOutput>(F("out.mox"));
    std::string other = output->TemporaryPath();
    other.back() = other.back() == 'z' ? 'y' : 'z';
    WriteFileBytes(other, kOld);
    output.reset();
    const std::string same(other);  // the size of the freed name
    raise(SIGTERM);
    return same.empty() ? 1 : 2;
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  ASSERT_EQ(DirectoryEntries(dir.Path()).size(), 1u);
  EXPECT_EQ(DirectoryEntries(dir.Path())[0].substr(0, 17), ".out.mox.moxsave-");
}

// As an unprivileged user: the directory refuses new files, the output itself is writable.
TEST_F(TreeFile, AWritableOutputInALockedDirectoryIsWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  const uid_t nobody = 65534;
  chmod(dir.Path().c_str(), 0755);
  const std::string output = F("out.mox"), input = F("in.mox");
  rich.Save(input);
  WriteFileBytes(output, kOld);
  ASSERT_EQ(chown(output.c_str(), nobody, nobody) | chown(input.c_str(), nobody, nobody), 0);
  const auto before = ReadFileBytes(input);
  auto asNobody = [&] { return setgid(nobody) == 0 && setuid(nobody) == 0; };
  // The output that is also the input is never truncated.
  EXPECT_EQ(SaveInChild(input, input, asNobody), 16);
  EXPECT_EQ(ReadFileBytes(input), before);
  EXPECT_EQ(SaveInChild(input, output, asNobody), 0);
  EXPECT_EQ(DescribeTree(*LoadTree(output)), DescribeTree(*LoadTree(input)));
  EXPECT_EQ(DirectoryEntries(dir.Path()), (Names{"in.mox", "out.mox"}));
}

// The rich model with heavy data over several blocks, saved to path.
void SaveLargeTree(const std::string& path, int parts) {
  Tree tree;
  BuildRichTree(tree);
  auto& mesh = GeometryAt(tree, 4);
  for (int p = 0; p < parts; ++p) {
    std::vector<std::int32_t> ints;
    std::vector<float> floats;  // not a multiple of 3: a tail stays in place
    for (int i = 0; i < 3000; ++i) ints.push_back(i * 7 % 1001 + p);
    for (int i = 0; i < 2999; ++i) floats.push_back(float(i) * 0.01f + float(p));
    mesh.arrays.push_back(ArrayOf("cells", 4, ints, 4));
    mesh.arrays.push_back(ArrayOf("field", 1, floats, 3));
  }
  tree.Save(path);
}

TEST_F(TreeFile, DeferredLoadingWritesTheSameModelAsTheInMemoryPath) {
  EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "20000");
  SaveLargeTree(F("a.mox"), 6);
  SaveLargeTree(F("b.mox"), 3);
  std::string merged[2];
  for (bool deferred : {false, true}) {
    Tree tree("MoxMerge", "2017 R1");
    tree.SetDeferredLoading(deferred);
    SetMergeRoot(tree);
    Tree::IdentifierMap ids;
    tree.Load(F("a.mox"), ids);
    tree.LoadNodes(F("b.mox"), ids);
    GeometryAt(tree, 5).arrays.back().data.componentCount = 2;  // stored with 3: encoded again
    const auto& data = GeometryAt(tree, 5).arrays[0].data;
    // Deferred, nothing was read: the arrays hold loaders on the open inputs.
    EXPECT_EQ(std::make_pair(data.HasBytes(), data.loader != nullptr),
              std::make_pair(!deferred, deferred));
    tree.Save(F("out.mox"));
    merged[deferred] = FuzzDescription::DescribeTree(*LoadTree(F("out.mox")));
    if (!deferred) continue;
    // Once the writer is done with the first input, none of its heavy blocks stays loaded.
    const KivRkf::BlockTable& first = data.loader->file->Reader().Table();
    for (std::uint64_t block : first.Names().at(data.loader->section).blocks)
      EXPECT_FALSE(first.Buffer(block).HasBuffer()) << block;
  }
  EXPECT_EQ(merged[0], merged[1]);
  // Inputs stay open until the output is written, also over an input.
  auto expected = LoadTree(F("b.mox")), tree = LoadTree(F("b.mox"), true);
  tree->Save(F("b.mox"));  // replaces the input it still reads from
  auto again = LoadTree(F("b.mox"));
  EXPECT_EQ(std::make_pair(DescribeTree(*again), again->globalInfo.size()),
            std::make_pair(DescribeTree(*expected), expected->globalInfo.size() + 1));
}

}  // namespace
