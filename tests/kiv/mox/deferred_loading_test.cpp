// Deferred loading: a tree loaded with loaders on its still-open inputs writes the same
// file as a tree that holds every value in memory; damaged heavy blocks fail the save.
#include <map>

#include <gtest/gtest.h>

#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/group.hpp"
#include "mox_helpers.hpp"
#include "support/model_builder.hpp"

using namespace KivMox;
using TestSupport::TempDir;

namespace {

// The decompressed bytes of every named stream of a container.
std::map<std::string, MoxTest::Bytes> Sections(const std::string& path) {
  MoxTest::Reader file(path);
  KivRkf::Index& index = file.Index();
  std::map<std::string, MoxTest::Bytes> sections;
  for (const auto& [name, limiter] : index.Names()) {
    if (!name.empty() && name[0] == '\x0B') continue;
    for (std::uint64_t b : limiter.blocks) {
      index.LoadBlock(b, file.file.Stream());
      const KivRkf::Block& block = index.Buffer(b);
      sections[name].insert(sections[name].end(), block.Data(), block.Data() + block.Size());
    }
  }
  return sections;
}

// The rich model with heavy data over several blocks, saved to path; its heavy blocks.
std::vector<KivRkf::BlockInfo> SaveLargeTree(const std::string& path, int parts) {
  Tree tree;
  TestSupport::BuildRichTree(tree);
  auto& mesh = TestSupport::GeometryAt(tree, 4);
  for (int p = 0; p < parts; ++p) {
    std::vector<std::int32_t> ints;
    for (int i = 0; i < 3000; ++i) ints.push_back(i * 7 % 1001 + p);
    mesh.arrays.push_back(MoxTest::MakeArray("cells", 4, MoxTest::DataOf(ints, 4)));
    std::vector<float> floats;
    for (int i = 0; i < 2999; ++i) floats.push_back(float(i) * 0.01f + float(p));
    // Not a multiple of 3: a tail stays in place.
    mesh.arrays.push_back(MoxTest::MakeArray("field", 1, MoxTest::DataOf(floats, 3)));
  }
  tree.Save(path);
  MoxTest::Reader probe(path);
  std::vector<KivRkf::BlockInfo> heavy;
  for (std::uint64_t b : probe.Index().Names().at("Heavy Data").blocks)
    heavy.push_back(probe.Index().Blocks().at(b));
  return heavy;
}

void MergeTwo(const TempDir& dir, const std::string& out, bool deferred) {
  Tree tree("MoxMerge", "2017 R1");
  tree.SetDeferredLoading(deferred);
  auto root = std::make_unique<Group>();
  root->mergeRoot = 1;
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
  Tree::IdentifierMap ids;
  tree.Load(dir.File("a.mox"), ids);
  tree.LoadNodes(dir.File("b.mox"), ids);
  const auto& data = TestSupport::GeometryAt(tree, 5).arrays[0].data;
  // Deferred, nothing was read: the arrays hold loaders on the open inputs.
  EXPECT_EQ(std::make_pair(data.HasBytes(), data.loader != nullptr),
            std::make_pair(!deferred, deferred));
  tree.Save(dir.File(out));
  if (!deferred) return;
  // The writer moved on from the first input to the second for the last time: none of
  // the first input's heavy blocks is left in memory.
  KivRkf::Index& first = *data.loader->source;
  for (std::uint64_t block : first.Names().at(data.loader->section).blocks)
    EXPECT_FALSE(first.Buffer(block).HasBuffer()) << block;
}

// Loads bad.mox of dir and saves it to out.mox: the code of the failure.
int LoadAndSave(const TempDir& dir, bool deferred, std::string* description = nullptr) {
  Tree tree;
  tree.SetDeferredLoading(deferred);
  Tree::IdentifierMap ids;
  return MoxTest::Failure(
      [&] {
        tree.Load(dir.File("bad.mox"), ids);
        tree.Save(dir.File("out.mox"));
      },
      description);
}

TEST(DeferredLoading, WritesTheSameSectionsAsTheInMemoryPath) {
  TempDir dir;
  TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "20000");
  SaveLargeTree(dir.File("a.mox"), 6);
  SaveLargeTree(dir.File("b.mox"), 3);
  MergeTwo(dir, "memory.mox", false);
  MergeTwo(dir, "deferred.mox", true);
  auto memory = Sections(dir.File("memory.mox"));
  auto deferred = Sections(dir.File("deferred.mox"));
  EXPECT_GT(memory.at("Heavy Data").size(), 100000u);
  memory.erase("Global Information");  // differs in the save time
  deferred.erase("Global Information");
  EXPECT_TRUE(memory == deferred);
}

TEST(DeferredLoading, InputsStayOpenUntilTheOutputIsWrittenEvenOverAnInput) {
  TempDir dir;
  SaveLargeTree(dir.File("a.mox"), 2);
  Tree expected, tree, again;
  Tree::IdentifierMap ids;
  expected.Load(dir.File("a.mox"), ids);
  tree.SetDeferredLoading(true);
  tree.Load(dir.File("a.mox"), ids);
  tree.Save(dir.File("a.mox"));  // replaces the input it still reads from
  again.Load(dir.File("a.mox"), ids);
  EXPECT_EQ(TestSupport::DescribeTree(again, false), TestSupport::DescribeTree(expected, false));
  EXPECT_EQ(again.globalInfo.size(), expected.globalInfo.size() + 1);
  // Damaged heavy bytes fail the save and leave no output.
  auto bytes = TestSupport::ReadFileBytes(dir.File("a.mox"));
  const auto heavy = MoxTest::Reader(dir.File("a.mox")).Index().Names().at("Heavy Data").blocks;
  const std::uint64_t at = MoxTest::Reader(dir.File("a.mox")).Index().Blocks()[heavy[0]].offset;
  for (std::uint64_t i = at + 10; i < at + 40; ++i) bytes[i] ^= 0x5A;
  TestSupport::WriteFileBytes(dir.File("bad.mox"), bytes);
  EXPECT_EQ(LoadAndSave(dir, true), 9);
  EXPECT_FALSE(TestSupport::FileExists(dir.File("out.mox")));
}

// A heavy block whose length field claims 4 bytes more than its zlib stream holds: every
// position after it would be off by 4 if the reader believed the field without checking.
TEST(DeferredLoading, AHeavyBlockWhoseLengthFieldLiesFailsTheLoadOrTheSave) {
  TempDir dir;
  TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "20000");
  const auto heavy = SaveLargeTree(dir.File("a.mox"), 6);
  ASSERT_GE(heavy.size(), 3u);
  // A sound file: a deferred load keeps none of the heavy blocks, and inflates only the
  // ones the node sets lie in (here the last).
  {
    Tree tree;
    tree.SetDeferredLoading(true);
    Tree::IdentifierMap ids;
    tree.Load(dir.File("a.mox"), ids);
    const auto& loader = TestSupport::GeometryAt(tree, 4).arrays[0].data.loader;
    ASSERT_TRUE(loader);
    KivRkf::Index& index = *loader->source;
    const auto& blocks = index.Names().at("Heavy Data").blocks;
    for (std::size_t k = 0; k < blocks.size(); ++k)
      EXPECT_EQ(std::make_pair(index.Buffer(blocks[k]).HasBuffer(),
                               index.Blocks()[blocks[k]].sizeUnchecked),
                std::make_pair(false, k + 1 < blocks.size()))
          << k;
    tree.Save(dir.File("copy.mox"));
    for (std::uint64_t b : blocks) EXPECT_FALSE(index.Blocks()[b].sizeUnchecked) << b;
  }
  const auto bytes = TestSupport::ReadFileBytes(dir.File("a.mox"));
  for (std::size_t k : {std::size_t{0}, heavy.size() / 2, heavy.size() - 2}) {
    auto damaged = bytes;
    std::uint32_t length = 0;
    std::memcpy(&length, &bytes[heavy[k].offset], 4);
    length += 4;
    std::memcpy(&damaged[heavy[k].offset], &length, 4);
    TestSupport::WriteFileBytes(dir.File("bad.mox"), damaged);
    for (bool deferred : {false, true}) {
      std::string description;
      const int code = LoadAndSave(dir, deferred, &description);
      // Deferred, the node sets, read at load time from positions counted past the block,
      // may already run out of bytes; otherwise the writer's read of the block fails.
      const bool early = deferred && code == 1 && description == "Not enough bytes in the block";
      EXPECT_TRUE(early || (code == 9 && description == "Unable to decompress block"))
          << "block " << k << (deferred ? ", deferred: " : ": ") << code << " " << description;
      EXPECT_FALSE(TestSupport::FileExists(dir.File("out.mox")));
    }
  }
}

}  // namespace
