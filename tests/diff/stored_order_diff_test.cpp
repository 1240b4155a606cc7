// Two files that store one model in different orders compare equal, each file's heavy blocks
// inflated once: the arrays are digested in each file's own order, and only pairs whose
// digests differ are read again side by side. The two sides are read on two threads through
// a pool with room for one file: each side's reads reopen its file, and neither closes the
// other's file while it is read.
#include <gtest/gtest.h>

#include <cstring>

#include "diff/model_diff.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/stored_orders.hpp"

namespace {

using namespace TestSupport;

// Every heavy block of the file behind a deferred tree inflated exactly once.
bool EachHeavyBlockInflatedOnce(KivMox::Tree& tree) {
  const auto& reader = GeometryAt(tree, 2).arrays[0].data.loader->file->Reader();
  const auto blocks = reader.Table().Names().at(KivMox::kHeavyData).blocks.size();
  return blocks > 1 && reader.Inflations(KivMox::kHeavyData) == blocks;
}

TEST(StoredOrderDiffTest, FilesOfOneModelInTwoOrders) {
  // Left: the parts of two files listed interleaved, stored file by file. Right: the same
  // model saved from memory, stored in tree order (connectivity first); then one value of
  // part 3 of the second file changed by 0.5.
  TempDir dir;
  SaveParts(dir.File("a.mox"), 5, 1.0f);
  SaveParts(dir.File("b.mox"), 5, 5000.0f);
  {
    KivRkf::OpenFilePool pool;
    const auto a = LoadDeferred(dir.File("a.mox"), pool), b = LoadDeferred(dir.File("b.mox"), pool);
    const auto wholeA = LoadTree(dir.File("a.mox")), wholeB = LoadTree(dir.File("b.mox"));
    Model listed("Listed"), inOrder("Listed"), changed("Listed");
    AddListed(listed, {a.get(), b.get()}, ListOrder::Interleaved);
    AddListed(inOrder, {wholeA.get(), wholeB.get()}, ListOrder::Interleaved);
    const EnvGuard blocks = SmallHeavyBlocks();
    listed.Save(dir.File("listed.mox"));
    inOrder.Save(dir.File("in-order.mox"));
    const KivMox::NumericArray& data = GeometryAt(inOrder.tree, 9).arrays[0].data;
    std::vector<float> field(data.byteSize / 4);
    std::memcpy(field.data(), data.Bytes(), data.byteSize);
    field[700] += 0.5f;
    AddListed(changed, {wholeA.get(), wholeB.get()}, ListOrder::Interleaved);
    GeometryAt(changed.tree, 9).arrays[0] = FloatArray("field", field, 3);
    changed.Save(dir.File("changed.mox"));
  }
  struct Case {
    const char* right;
    double absoluteTolerance;
    std::uint64_t differing;  // values of the one array that differ
    bool readOnce;            // no pair read again: each heavy block inflated once
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
    EXPECT_EQ(result.valuesCompared, 10u * 2000u);
    ASSERT_EQ(result.nodes.size(), c.differing ? 1u : 0u);
    if (c.differing) {
      EXPECT_EQ(result.nodes[0].path, "/7");
      ASSERT_EQ(result.nodes[0].arrays.size(), 1u);
      EXPECT_EQ(result.nodes[0].arrays[0].differing, c.differing);
      EXPECT_EQ(result.nodes[0].arrays[0].first.at(0).index, 700u);
    }
    EXPECT_EQ(EachHeavyBlockInflatedOnce(*left), c.readOnce);
    EXPECT_EQ(EachHeavyBlockInflatedOnce(*right), c.readOnce);
  }
}

}  // namespace
