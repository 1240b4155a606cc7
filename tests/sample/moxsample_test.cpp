// moxsample: its command line, the model it promises (read back through the loader), one
// seed always giving the same file but for the history record the save adds, and the
// amount of array data following --heavy-mib, from kilobytes to gigabytes.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "kiv/mox/group.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "sample/sample_mesh.hpp"
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
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--help"}, 0},
      {{}, 1},
      {{out, "--parts", "0"}, 1},
      {{out, "--parts", "three"}, 1},
      {{out, "--parts", "10001"}, 1},
      {{out, "--heavy-mib", "0"}, 1},
      {{out, "--heavy-mib", "-1"}, 1},
      {{out, "--heavy-mib", "nan"}, 1},
      {{out, "--seed", "18446744073709551616"}, 1},
      {{out, "--seed"}, 1},
      {{out, "--view-points", "-2"}, 1},
      {{out, "--colour", "red"}, 1},
      {{out, dir.File("second.mox")}, 1},
      {{dir.File("missing/s.mox"), "--heavy-mib", "0.01"}, 2}};
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

// Parts of a group with a shape and a geometry, node sets last; connectivity whose
// elements name distinct nodes of their grid and cover it; smooth result fields; one
// vibration mode; a link to the first part's coordinates sharing its buffer; view points
// with every action kind; a history ending with this save.
TEST(MoxSample, TheModelItPromises) {
  TempDir dir;
  Sample(dir.File("s.mox"), {"--parts=4", "--view-points=3", "--seed", "7", "--heavy-mib", "0.3"});
  const auto tree = LoadTree(dir.File("s.mox"));
  const auto top = Children(*tree, 1);
  ASSERT_EQ(top.size(), 5u);
  EXPECT_EQ(NodeAs<Group>(tree->GetNode(1))->attributes.at("Seed").value64, 7u);
  const Geometry* first = nullptr;
  for (std::size_t p = 0; p < 4; ++p) {
    const auto kids = Children(*tree, top[p]);
    ASSERT_EQ(kids.size(), 2u);
    ASSERT_NE(NodeAs<Shape>(tree->GetNode(kids[0])), nullptr);
    const auto* geometry = NodeAs<Geometry>(tree->GetNode(kids[1]));
    ASSERT_NE(geometry, nullptr);
    if (!first) first = geometry;
    const auto& arrays = geometry->arrays;
    const std::uint64_t nodes = arrays[0].data.byteSize / 12;
    std::set<std::int32_t> used;
    for (int a : {1, 2}) {
      const auto words = IntsOf(arrays[a].data);
      const std::size_t c = arrays[a].data.componentCount;
      for (std::size_t e = 0; e + c <= words.size(); e += c) {
        std::set<std::int32_t> corners(words.begin() + e, words.begin() + e + c);
        EXPECT_EQ(corners.size(), c);
        EXPECT_TRUE(*corners.begin() >= 0 && std::uint64_t(*corners.rbegin()) < nodes);
        used.insert(corners.begin(), corners.end());
      }
    }
    EXPECT_EQ(used.size(), nodes);
    std::size_t stress = 0, vibration = 0, linked = 0;
    for (const auto& a : arrays) {
      if (a.name.rfind("Stress\x1EStep ", 0) == 0) {
        ++stress;
        // Mean step between neighbouring values relative to the range: small when smooth.
        const auto v = FloatsOf(a.data);
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        double steps = 0;
        for (std::size_t i = 1; i < v.size(); ++i) steps += std::fabs(v[i] - v[i - 1]);
        EXPECT_LT(steps / double(v.size() - 1) / (*hi - *lo), 0.1) << a.name;
      }
      vibration += a.vibration;
      if (a.linked) {
        ++linked;
        EXPECT_EQ(tree->GetNode(a.linkNode), first);
        EXPECT_EQ(a.data.Bytes(), first->arrays[0].data.Bytes()) << "shared, not copied";
      }
    }
    EXPECT_EQ(std::tuple(stress >= 2, vibration, linked), std::tuple(true, 1u, 1u));
  }
  for (const auto& set : NodeAs<NodeSets>(tree->GetNode(top[4]))->sets)
    for (const auto& [geometryId, nodeIndex] : set.members)
      EXPECT_LT(nodeIndex,
                NodeAs<Geometry>(tree->GetNode(geometryId))->arrays[0].data.byteSize / 12);
  ASSERT_EQ(tree->views.groups.size(), 3u);
  std::set<std::uint16_t> codes;
  for (const auto& a : tree->views.actions.actions) codes.insert(a->GetTypeCode());
  EXPECT_EQ(codes, (std::set<std::uint16_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(tree->globalInfo.back().applicationName, "MoxSample");
  EXPECT_EQ(tree->globalInfo.back().formatVersion, "1.3");
}

// The stored bytes of every block but the history's.
std::vector<Bytes> StoredBlocks(const std::string& path) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  const auto bytes = ReadFileBytes(path);
  std::vector<Bytes> blocks;
  for (const auto& info : file.GetIndex().Blocks())
    if (info.name != "Global Information")
      blocks.emplace_back(bytes.begin() + info.offset,
                          bytes.begin() + info.offset + info.storedSize);
  return blocks;
}

TEST(MoxSample, OneSeedGivesOneFile) {
  TempDir dir;
  const std::vector<std::string> options = {"--seed", "99", "--heavy-mib", "0.5", "--parts", "2"};
  Sample(dir.File("a.mox"), options);
  sleep(1);  // a different save time in the second file
  Sample(dir.File("b.mox"), options);
  Sample(dir.File("c.mox"), {"--seed", "98", "--heavy-mib", "0.5", "--parts", "2"});
  const auto a = StoredBlocks(dir.File("a.mox"));
  EXPECT_EQ(a, StoredBlocks(dir.File("b.mox")));
  EXPECT_NE(a, StoredBlocks(dir.File("c.mox")));
}

TEST(MoxSample, HeavyMibSetsTheAmountOfArrayData) {
  TempDir dir;
  for (const auto& [mib, parts] : {std::pair{0.01, "5"}, {3.0, "1"}}) {
    Sample(dir.File("h.mox"), {"--heavy-mib", std::to_string(mib), "--parts", parts});
    const auto tree = LoadTree(dir.File("h.mox"));
    double got = 0;  // the values of the arrays that hold their own
    for (const auto& [id, entry] : *tree)
      if (const auto* g = NodeAs<Geometry>(entry.data))
        for (const auto& a : g->arrays) got += a.linked ? 0 : double(a.data.byteSize);
    EXPECT_GT(got, 0.8 * mib * 1048576) << mib;
    EXPECT_LT(got, 1.2 * mib * 1048576) << mib;
  }
  // Up to many gigabytes no array passes the size limit of a block.
  for (double bytes = 4096; bytes <= 16.0 * (1ull << 30); bytes *= 1.7) {
    const MoxSample::PartGrid g = MoxSample::PlanPartGrid(bytes);
    EXPECT_GT(static_cast<double>(g.HeavyBytes()), 0.8 * bytes) << bytes;
    EXPECT_LT(static_cast<double>(g.HeavyBytes()), 1.2 * bytes) << bytes;
    for (std::uint64_t arrayBytes : {12 * g.Nodes(), 16 * g.Quads(), 12 * g.Triangles()})
      EXPECT_LE(arrayBytes, MoxSample::kMaxSampleArrayBytes) << bytes;
  }
}

}  // namespace
