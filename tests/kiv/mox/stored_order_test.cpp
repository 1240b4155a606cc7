// A whole load reads a file's heavy data in the order the file stores it, whatever order its
// tree lists the arrays in: each heavy block is inflated once, and the model is the one listed.
#include <gtest/gtest.h>

#include <regex>

#include "support/log_capture.hpp"
#include "support/stored_orders.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace TestSupport;

class StoredOrderTest : public ::testing::TestWithParam<ListOrder> {};

TEST_P(StoredOrderTest, AWholeLoadInflatesEachHeavyBlockOnce) {
  TempDir dir;
  SaveParts(dir.File("a.mox"), 6, 1.0f);
  SaveParts(dir.File("b.mox"), 6, 5000.0f);
  std::string expected;
  {
    KivRkf::OpenFilePool pool;
    std::vector<std::unique_ptr<KivMox::Tree>> deferred, whole;
    for (const char* name : {"a.mox", "b.mox"}) {
      whole.push_back(LoadTree(dir.File(name)));
      deferred.push_back(LoadDeferred(dir.File(name), pool));
    }
    Model inMemory("Listed"), listed("Listed");
    AddListed(inMemory, {whole[0].get(), whole[1].get()}, GetParam());
    AddListed(listed, {deferred[0].get(), deferred[1].get()}, GetParam());
    expected = FuzzDescription::DescribeTree(inMemory.tree);
    const EnvGuard blocks = SmallHeavyBlocks();
    listed.Save(dir.File("listed.mox"));
  }
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
  // Reversed lists one file's 48 KiB, the others both files' 96 KiB, compressed.
  EXPECT_GE(std::stoi(m[2]), GetParam() == ListOrder::Reversed ? 3 : 6);
}

INSTANTIATE_TEST_SUITE_P(Orders, StoredOrderTest,
                         ::testing::Values(ListOrder::Reversed, ListOrder::Interleaved,
                                           ListOrder::Shuffled),
                         [](const auto& info) { return ListOrderName(info.param); });

}  // namespace
