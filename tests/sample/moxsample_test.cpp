// moxsample: its command line, the model it promises (read back through the loader), one
// seed always giving the same file but for the history record the save adds, and the
// amount of array data following --heavy-mib, from kilobytes to gigabytes.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "sample/sample_mesh.hpp"
#include "support/tool_files.hpp"

using namespace KivMox;
using TestSupport::RunProgram;
using TestSupport::TempDir;
using ToolFiles::Children;

namespace {

const std::string kRS(1, '\x1E');

TEST(MoxSample, CommandLine) {
  TempDir dir;
  const std::string out = dir.File("x.mox");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* where;  // "out" or "err": where the usage or error text goes
    const char* text;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, "out", "Usage: moxsample OUT.mox"},
      {{}, 1, "err", "Usage: moxsample"},
      {{out, "--parts", "0"}, 1, "err", "Usage: moxsample"},
      {{out, "--parts", "three"}, 1, "err", "Usage: moxsample"},
      {{out, "--parts", "10001"}, 1, "err", "Usage: moxsample"},
      {{out, "--heavy-mib", "0"}, 1, "err", "Usage: moxsample"},
      {{out, "--heavy-mib", "-1"}, 1, "err", "Usage: moxsample"},
      {{out, "--heavy-mib", "nan"}, 1, "err", "Usage: moxsample"},
      {{out, "--seed", "18446744073709551616"}, 1, "err", "Usage: moxsample"},
      {{out, "--seed"}, 1, "err", "Usage: moxsample"},
      {{out, "--view-points", "-2"}, 1, "err", "Usage: moxsample"},
      {{out, "--colour", "red"}, 1, "err", "Usage: moxsample"},
      {{out, dir.File("second.mox")}, 1, "err", "Usage: moxsample"},
      {{dir.File("missing/s.mox"), "--heavy-mib", "0.01"}, 2, "err", "Unable to open file"},
  };
  for (const Case& c : cases) {
    const auto r = RunProgram("moxsample", c.args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
    const std::string& shown = std::string(c.where) == "out" ? r.out : r.err;
    EXPECT_NE(shown.find(c.text), std::string::npos) << testing::PrintToString(c.args);
    EXPECT_TRUE((std::string(c.where) == "out" ? r.err : r.out).empty());
  }
  EXPECT_FALSE(TestSupport::FileExists(out));
}

// Mean step between neighbouring values relative to the range: small for a smooth field.
double RoughnessOf(const std::vector<float>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  double steps = 0;
  for (std::size_t i = 1; i < v.size(); ++i) steps += std::fabs(v[i] - v[i - 1]);
  return steps / static_cast<double>(v.size() - 1) / (*hi - *lo);
}

// Parts of a group with a shape and a geometry, node sets last; connectivity whose
// elements name distinct nodes of their grid and cover it; smooth result fields; one
// vibration mode; a link to the first part's coordinates sharing its buffer; view points
// with every action kind; a history ending with this save.
TEST(MoxSample, TheModelItPromises) {
  TempDir dir;
  ToolFiles::Sample(dir.File("s.mox"),
                    {"--parts=4", "--view-points=3", "--seed", "7", "--heavy-mib", "0.3"});
  const auto tree = ToolFiles::LoadTree(dir.File("s.mox"));
  const auto top = Children(*tree, 1);
  ASSERT_EQ(top.size(), 5u);
  EXPECT_EQ(NodeAs<Group>(tree->GetNode(1))->attributes.at("Seed").value64, 7u);
  const auto geometries = ToolFiles::IdsOfType(*tree, "Geometry");
  ASSERT_EQ(geometries.size(), 4u);
  const auto& base = NodeAs<Geometry>(tree->GetNode(geometries[0]))->arrays[0];
  for (std::size_t p = 0; p < 4; ++p) {
    const auto kids = Children(*tree, top[p]);
    ASSERT_EQ(kids.size(), 2u);
    ASSERT_NE(NodeAs<Shape>(tree->GetNode(kids[0])), nullptr);
    const auto* geometry = NodeAs<Geometry>(tree->GetNode(kids[1]));
    ASSERT_NE(geometry, nullptr);
    const auto& arrays = geometry->arrays;
    const std::uint64_t nodes = arrays[0].data.byteSize / 12;
    std::set<std::uint32_t> used;
    for (int a : {1, 2}) {
      const auto words = ToolFiles::Words(arrays[a]);
      const std::size_t c = arrays[a].data.componentCount;
      for (std::size_t e = 0; e + c <= words.size(); e += c) {
        std::set<std::uint32_t> corners(words.begin() + e, words.begin() + e + c);
        EXPECT_EQ(corners.size(), c);
        EXPECT_LT(*corners.rbegin(), nodes);
        used.insert(corners.begin(), corners.end());
      }
    }
    EXPECT_EQ(used.size(), nodes);
    std::size_t stress = 0, vibration = 0, linked = 0;
    for (const auto& a : arrays) {
      if (a.name.rfind("Stress" + kRS + "Step ", 0) == 0) {
        ++stress;
        EXPECT_LT(RoughnessOf(ToolFiles::Floats(a)), 0.1) << a.name;
      }
      vibration += a.vibration;
      if (a.linked) {
        ++linked;
        EXPECT_EQ(a.linkNode, geometries[0]);
        EXPECT_EQ(a.data.Bytes(), base.data.Bytes()) << "the buffer is shared, not copied";
      }
    }
    EXPECT_GE(stress, 2u);
    EXPECT_EQ(vibration, 1u);
    EXPECT_EQ(linked, 1u);
  }
  const auto* sets = NodeAs<NodeSets>(tree->GetNode(top[4]));
  ASSERT_NE(sets, nullptr);
  for (const auto& set : sets->sets)
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
std::vector<std::vector<std::uint8_t>> StoredBlocks(const std::string& path) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  const auto bytes = TestSupport::ReadFileBytes(path);
  std::vector<std::vector<std::uint8_t>> blocks;
  for (const auto& info : file.GetIndex().Blocks())
    if (info.name != "Global Information")
      blocks.emplace_back(bytes.begin() + info.offset,
                          bytes.begin() + info.offset + info.storedSize);
  return blocks;
}

TEST(MoxSample, OneSeedGivesOneFile) {
  TempDir dir;
  const std::vector<std::string> options = {"--seed", "99", "--heavy-mib", "0.5", "--parts", "2"};
  ToolFiles::Sample(dir.File("a.mox"), options);
  sleep(1);  // a different save time in the second file
  ToolFiles::Sample(dir.File("b.mox"), options);
  ToolFiles::Sample(dir.File("c.mox"), {"--seed", "98", "--heavy-mib", "0.5", "--parts", "2"});
  const auto a = StoredBlocks(dir.File("a.mox"));
  EXPECT_EQ(a, StoredBlocks(dir.File("b.mox")));
  EXPECT_NE(a, StoredBlocks(dir.File("c.mox")));
}

TEST(MoxSample, HeavyMibSetsTheAmountOfArrayData) {
  TempDir dir;
  for (const char* mib : {"0.01", "3"}) {
    for (const char* parts : {"1", "5"}) {
      const std::string path = dir.File(std::string("h") + mib + "-" + parts + ".mox");
      ToolFiles::Sample(path, {"--heavy-mib", mib, "--parts", parts});
      const double wanted = std::stod(mib) * 1048576.0;
      const double got = static_cast<double>(ToolFiles::HeavyBytes(*ToolFiles::LoadTree(path)));
      EXPECT_GT(got, 0.8 * wanted) << mib << " MiB over " << parts;
      EXPECT_LT(got, 1.2 * wanted) << mib << " MiB over " << parts;
    }
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
