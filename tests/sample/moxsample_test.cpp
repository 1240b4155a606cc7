// moxsample: its command line, the model it promises and one seed always giving the same
// file but for the history record.
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "kiv/mox/group.hpp"
#include "support/container_helpers.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

using namespace KivMox;
using namespace TestSupport;

namespace {

void Sample(const std::string& path, std::vector<std::string> options) {
  options.insert(options.begin(), path);
  const auto r = Execute({"moxsample", options});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.err, "");
}

TEST(MoxSample, ExitStatusesAndTexts) {
  TempDir dir;
  const std::string out = dir.File("x.mox"), usage = "Usage: moxsample";
  // clang-format off
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--help"}, 0}, {{}, 1}, {{out, "--parts", "0"}, 1}, {{out, "--parts", "three"}, 1},
      {{out, "--parts", "10001"}, 1}, {{out, "--heavy-mib", "0"}, 1},
      {{out, "--heavy-mib", "-1"}, 1}, {{out, "--heavy-mib", "nan"}, 1},
      {{out, "--seed", "18446744073709551616"}, 1}, {{out, "--seed"}, 1},
      {{out, "--view-points", "-2"}, 1}, {{out, "--colour", "red"}, 1},
      {{out, dir.File("second.mox")}, 1}, {{dir.File("missing/s.mox"), "--heavy-mib", "0.01"}, 2}};
  // clang-format on
  for (const auto& [args, status] : cases) {
    const auto r = Execute({"moxsample", args});
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(r.status, status);
    EXPECT_NE((status == 0 ? r.out : r.err).find(status == 2 ? "Unable to open file" : usage),
              std::string::npos);
    EXPECT_EQ(status == 0 ? r.err : r.out, "");
  }
  EXPECT_FALSE(FileExists(out));
}

// The stored bytes of every block but the history's.
std::vector<Bytes> StoredBlocks(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  std::vector<Bytes> blocks;
  for (const auto& row : BlocksOf(path))
    if (row.name != "Global Information")
      blocks.emplace_back(bytes.begin() + row.offset, bytes.begin() + row.offset + row.storedSize);
  return blocks;
}

// (The listing of one seed's model is compared whole in moxinfo_test.cpp.) Connectivity
// whose elements name distinct nodes of their grid and cover it; a link to the first
// part's coordinates sharing its buffer; array data of the size asked for; node set members
// within their geometry; every action kind; the number of view point groups asked for; one
// seed always giving the same file but for the history record.
TEST(MoxSample, TheModelItPromises) {
  TempDir dir;
  const std::vector<std::string> options = {"--parts=4", "--view-points=3", "--seed",
                                            "7",         "--heavy-mib",     "0.3"};
  Sample(dir.File("s.mox"), options);
  sleep(1);  // a different save time in the second file
  Sample(dir.File("again.mox"), options);
  Sample(dir.File("other.mox"),
         {"--parts=4", "--view-points=3", "--seed", "8", "--heavy-mib", "0.3"});
  EXPECT_EQ(StoredBlocks(dir.File("s.mox")), StoredBlocks(dir.File("again.mox")));
  EXPECT_NE(StoredBlocks(dir.File("s.mox")), StoredBlocks(dir.File("other.mox")));
  const auto tree = LoadTree(dir.File("s.mox"));
  EXPECT_EQ(NodeAs<Group>(tree->GetNode(1))->attributes.at("Seed").value64, 7u);
  const Geometry* first = nullptr;
  std::size_t parts = 0;
  double heavy = 0;  // the values of the arrays that hold their own
  for (const auto& [id, entry] : *tree) {
    const auto* geometry = NodeAs<Geometry>(entry.data);
    if (!geometry) continue;
    ++parts;
    first = first ? first : geometry;
    const auto& arrays = geometry->arrays;
    const std::uint64_t nodes = arrays[0].data.byteSize / 12;
    std::set<std::int32_t> used;
    for (int a : {1, 2}) {
      const auto* words = reinterpret_cast<const std::int32_t*>(arrays[a].data.Bytes());
      const std::size_t c = arrays[a].data.componentCount, n = arrays[a].data.byteSize / 4;
      for (std::size_t e = 0; e + c <= n; e += c) {
        std::set<std::int32_t> corners(words + e, words + e + c);
        EXPECT_EQ(corners.size(), c);
        EXPECT_TRUE(*corners.begin() >= 0 && std::uint64_t(*corners.rbegin()) < nodes);
        used.insert(corners.begin(), corners.end());
      }
    }
    EXPECT_EQ(used.size(), nodes);
    for (const auto& a : arrays) {
      heavy += a.linked ? 0 : double(a.data.byteSize);
      EXPECT_TRUE(!a.linked || (tree->GetNode(a.linkNode) == first &&
                                a.data.Bytes() == first->arrays[0].data.Bytes()))
          << "shared, not copied";
    }
  }
  EXPECT_NEAR(heavy / (0.3 * 1048576), 1.0, 0.2);
  EXPECT_EQ(parts, 4u);
  for (const auto& set : NodeAs<NodeSets>(tree->GetNode(Children(*tree, 1).back()))->sets)
    for (const auto& [geometryId, nodeIndex] : set.members)
      EXPECT_LT(nodeIndex,
                NodeAs<Geometry>(tree->GetNode(geometryId))->arrays[0].data.byteSize / 12);
  ASSERT_EQ(tree->views.groups.size(), 3u);
  std::set<std::uint16_t> codes;
  for (const auto& a : tree->views.actions.actions) codes.insert(a->GetTypeCode());
  EXPECT_EQ(codes, (std::set<std::uint16_t>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
