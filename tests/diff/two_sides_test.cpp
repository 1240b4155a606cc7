// The two sides of a comparison read on two threads through one open-file pool with room
// for a single file: each side's reads reopen its file, and neither closes the other's
// file while it is read.
#include <gtest/gtest.h>

#include "diff/model_diff.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

namespace {

using namespace TestSupport;

constexpr int kArrays = 40;

// Heavy data of 40 arrays of 1250 floats in blocks of 4 KiB (49 of them); values from
// seed, one value of the last array from last.
void SaveMany(const std::string& path, float seed, float last) {
  const EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "4096");
  Model model("Many");
  std::vector<KivMox::GeometryArray> arrays;
  for (int a = 0; a < kArrays; ++a) {
    std::vector<float> values(1250);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = seed + float(a) + 0.5f * float(i);
    if (a == kArrays - 1) values.back() = last;
    arrays.push_back(FloatArray("a" + std::to_string(a), values));
  }
  model.AddGeometry(1, "Mesh", std::move(arrays));
  model.Save(path);
}

std::unique_ptr<KivMox::Tree> LoadDeferred(const std::string& path, KivRkf::OpenFilePool& pool) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->SetDeferredLoading(true);
  tree->Load(path, identifiers, &pool);
  return tree;
}

TEST(TwoSides, ReadOnTwoThreadsThroughAPoolForOneFile) {
  TempDir dir;
  SaveMany(dir.File("a.mox"), 1, 7);
  SaveMany(dir.File("b.mox"), 1, 8);
  KivRkf::OpenFilePool pool(1);
  MoxDiff::DiffOptions options;
  options.ignoreHistory = true;
  for (int run = 0; run < 12; ++run) {
    const auto left = LoadDeferred(dir.File("a.mox"), pool);
    const auto right = LoadDeferred(dir.File("b.mox"), pool);
    SCOPED_TRACE("run " + std::to_string(run));
    const MoxDiff::DiffResult result =
        MoxDiff::DiffModels({*left, "a.mox"}, {*right, "b.mox"}, options);
    EXPECT_EQ(result.valuesCompared, kArrays * 1250u);
    ASSERT_EQ(result.nodes.size(), 1u);
    ASSERT_EQ(result.nodes[0].arrays.size(), 1u);
    EXPECT_EQ(result.nodes[0].arrays[0].name, "a" + std::to_string(kArrays - 1));
  }
}

}  // namespace
