// Files whose tree lists the arrays in another order than the file stores them. A save
// writes the arrays it reads from files input by input, each input's in its stored order: a
// tree listing the parts of two files reversed, interleaved or shuffled is stored in the
// order of its sources, over many small heavy blocks. A whole load reads it in stored order
// and gives the model listed; moxdiff compares it with the same model stored in tree order
// (saved from memory): each file is digested in its own order, and only pairs whose digests
// differ are read again. Either way each heavy block is inflated once where nothing is read
// again. The two sides are read on two threads through a pool with room for one file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>

#include "diff/model_diff.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/log_capture.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace TestSupport;

enum class ListOrder { Reversed, Interleaved, Shuffled };

const char* const kSmallBlocks = "4096";

// Five geometries of a float array of three components (1500 values from seed) and a
// connectivity array (500 values): 8 KiB of heavy data each.
void SaveParts(const std::string& path, float seed) {
  const EnvGuard blocks("KORVANE_MAX_MOX_BLOCK_SIZE", kSmallBlocks);
  Model model("Parts");
  for (int p = 0; p < 5; ++p) {
    std::vector<float> field(1500);
    std::vector<std::int32_t> conn(500);
    for (std::size_t i = 0; i < field.size(); ++i) field[i] = seed + float(p) * 0.25f + float(i);
    for (std::size_t i = 0; i < conn.size(); ++i) conn[i] = std::int32_t(seed) + p + int(i % 7);
    model.AddGeometry(1, "part" + std::to_string(p),
                      {FloatArray("field", field, 3), IntArray("conn", conn)});
  }
  model.Save(path);
}

std::unique_ptr<KivMox::Tree> LoadDeferred(const std::string& path, KivRkf::OpenFilePool& pool) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->SetDeferredLoading(true);
  tree->Load(path, identifiers, &pool);
  return tree;
}

// Adds to model the geometries under the roots of two files (loaded deferred or whole),
// listed in order: the first file's reversed, one of each file in turn, or all shuffled.
void AddListed(Model& model, const std::unique_ptr<KivMox::Tree> (&sources)[2], ListOrder order) {
  std::vector<std::pair<KivMox::Tree*, std::uint32_t>> listed;
  for (std::size_t k = 0; k < 5; ++k)
    for (const auto& source : sources)
      if (order != ListOrder::Reversed || &source == &sources[0])
        listed.emplace(order == ListOrder::Reversed ? listed.begin() : listed.end(), source.get(),
                       Children(*source, 1).at(k));
  std::mt19937 random(7);
  for (std::size_t i = listed.size(); order == ListOrder::Shuffled && i > 1; --i)
    std::swap(listed[i - 1], listed[random() % i]);
  for (const auto& [tree, id] : listed) {
    const KivMox::Geometry& geometry = GeometryAt(*tree, id);
    model.AddGeometry(1, geometry.name, geometry.arrays);
  }
}

// Every heavy block of the file behind a deferred tree inflated exactly once.
bool EachHeavyBlockInflatedOnce(KivMox::Tree& tree) {
  const auto& reader = GeometryAt(tree, 2).arrays[0].data.loader->file->Reader();
  const auto blocks = reader.Table().Names().at(KivMox::kHeavyData).blocks.size();
  return blocks > 1 && reader.Inflations(KivMox::kHeavyData) == blocks;
}

class StoredOrderTest : public ::testing::TestWithParam<ListOrder> {};

TEST_P(StoredOrderTest, WholeLoadsAndComparisonsReadEachHeavyBlockOnce) {
  // listed.mox stores the sources' parts file by file; in-order.mox the same model in tree
  // order (connectivity first); changed.mox too, with value 700 of the first part + 0.5.
  TempDir dir;
  SaveParts(dir.File("a.mox"), 1.0f);
  SaveParts(dir.File("b.mox"), 5000.0f);
  std::string expected;
  std::uint64_t values = 0;
  {
    KivRkf::OpenFilePool pool;
    const std::unique_ptr<KivMox::Tree> deferred[2] = {LoadDeferred(dir.File("a.mox"), pool),
                                                       LoadDeferred(dir.File("b.mox"), pool)};
    const std::unique_ptr<KivMox::Tree> whole[2] = {LoadTree(dir.File("a.mox")),
                                                    LoadTree(dir.File("b.mox"))};
    Model listed("Listed"), inOrder("Listed"), changed("Listed");
    AddListed(listed, deferred, GetParam());
    AddListed(inOrder, whole, GetParam());
    AddListed(changed, whole, GetParam());
    expected = FuzzDescription::DescribeTree(inOrder.tree);
    values = Children(inOrder.tree, 1).size() * 2000;
    const KivMox::NumericArray& data = GeometryAt(inOrder.tree, 2).arrays[0].data;
    std::vector<float> field(data.byteSize / 4);
    std::memcpy(field.data(), data.Bytes(), data.byteSize);
    field[700] += 0.5f;
    GeometryAt(changed.tree, 2).arrays[0] = FloatArray("field", field, 3);
    const EnvGuard blocks("KORVANE_MAX_MOX_BLOCK_SIZE", kSmallBlocks);
    listed.Save(dir.File("listed.mox"));
    inOrder.Save(dir.File("in-order.mox"));
    changed.Save(dir.File("changed.mox"));
  }
  {
    LogCapture capture;
    const auto loaded = LoadTree(dir.File("listed.mox"));
    EXPECT_TRUE(FuzzDescription::DescribeTree(*loaded) == expected);
    std::smatch m;
    const std::regex record(" @ Heavy data blocks inflated: (\\d+) \\(of (\\d+)\\)\n$");
    const auto& lines = capture.Captured();
    ASSERT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
      return std::regex_search(line.first, m, record);
    }));
    EXPECT_EQ(m[1], m[2]);
    EXPECT_GE(std::stoi(m[2]), 3);
  }
  struct Case {
    const char* right;
    double absoluteTolerance;
    std::uint64_t differing;  // values of the one array that differ
    bool readOnce;            // no pair read again
  } cases[] = {
      {"in-order.mox", 0, 0, true}, {"changed.mox", 0, 1, false}, {"changed.mox", 0.5, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.right) + " " + std::to_string(c.absoluteTolerance));
    KivRkf::OpenFilePool pool(1);
    const auto left = LoadDeferred(dir.File("listed.mox"), pool);
    const auto right = LoadDeferred(dir.File(c.right), pool);
    MoxDiff::DiffOptions options;
    options.ignoreHistory = true;
    options.tolerance = {c.absoluteTolerance, 0, c.absoluteTolerance > 0};
    const MoxDiff::DiffResult result =
        MoxDiff::DiffModels({*left, "listed.mox"}, {*right, c.right}, options);
    EXPECT_EQ(result.valuesCompared, values);
    ASSERT_EQ(result.nodes.size(), c.differing ? 1u : 0u);
    if (c.differing) {
      EXPECT_EQ(result.nodes[0].path, "/0");
      ASSERT_EQ(result.nodes[0].arrays.size(), 1u);
      EXPECT_EQ(result.nodes[0].arrays[0].differing, c.differing);
      EXPECT_EQ(result.nodes[0].arrays[0].first.at(0).index, 700u);
    }
    EXPECT_TRUE(!c.readOnce ||
                (EachHeavyBlockInflatedOnce(*left) && EachHeavyBlockInflatedOnce(*right)));
  }
}

const char* const kOrderNames[] = {"Reversed", "Interleaved", "Shuffled"};
INSTANTIATE_TEST_SUITE_P(Orders, StoredOrderTest,
                         ::testing::Values(ListOrder::Reversed, ListOrder::Interleaved,
                                           ListOrder::Shuffled),
                         [](const auto& info) { return kOrderNames[int(info.param)]; });

}  // namespace
