// Node set records: light record in "Light Data", heavy record in "Heavy Data", written and
// read back through a real file, and damaged offset lists rejected with code 1.
#include "kiv/mox/nodesets.hpp"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::NodeSet;
using KivMox::NodeSets;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::Next;
using TestSupport::RecordFile;

const std::string kLight = "Light Data";
const std::string kHeavy = "Heavy Data";
constexpr std::uint32_t kSentinel = 0x0DDBA11;

// A heavy record written by hand: two sets "ab" {(10,11)} and "cde" {(20,21), (30,31)}.
struct HeavyRecord {
  std::vector<std::uint32_t> nameOffsets = {0, 2, 5};
  std::string names = "abcde";
  std::vector<std::uint32_t> memberOffsets = {0, 1, 3};
  std::vector<std::uint32_t> firsts = {10, 20, 30};
  std::vector<std::uint32_t> seconds = {11, 21, 31};
};

// Reads the record as a node of count sets into n; the failure code, 0 without one.
int ReadHeavy(const HeavyRecord& h, std::uint32_t count, NodeSets& n,
              std::string* description = nullptr) {
  RecordFile file([&](KivRkf::Index& index) {
    TestSupport::PutAll(index, kHeavy, h.nameOffsets, h.names, h.memberOffsets, h.firsts,
                        h.seconds);
  });
  n.count = count;
  n.heavySize = 1;
  try {
    KivMox::ReadNodeSetsHeavy(n, file.Index(), kHeavy);
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  }
  return 0;
}

TEST(NodeSetsTest, RoundTripThroughACompressedFileAfterOtherHeavyData) {
  NodeSets n;
  n.sets.push_back(NodeSet{"left", {{1, 2}, {3, 4}}});
  n.sets.push_back(NodeSet{"", {}});
  n.sets.push_back(NodeSet{"right side", {{7, 8}}});
  RecordFile file(
      [&](KivRkf::Index& index) {
        index.Put(kHeavy, std::vector<std::uint8_t>(37, 0xEE));  // earlier heavy data
        KivMox::WriteNodeSetsHeavy(n, index, kHeavy);
        KivMox::WriteNodeSetsLight(n, index, kLight);
        index.Put(kLight, kSentinel);
      },
      true);
  // Heavy size: offsets 4+16, names 4+10, offsets 4+16, firsts 4+12, seconds 4+12.
  const auto written = std::make_tuple(3u, std::uint64_t{41}, 90u);
  EXPECT_EQ(std::tie(n.count, n.heavyPosition, n.heavySize), written);

  NodeSets r;
  KivMox::ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(std::tie(r.count, r.heavyPosition, r.heavySize), written);
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(Next(file.Index(), kLight), kSentinel);
  KivMox::ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  ASSERT_EQ(r.sets.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(r.sets[i].name, n.sets[i].name);
    EXPECT_EQ(r.sets[i].members, n.sets[i].members);
  }
}

TEST(NodeSetsTest, LightAndEmptyHeavyRecordLayouts) {
  NodeSets n;
  n.sets.resize(2);
  n.heavyPosition = 0x0102030405060708ull;
  n.heavySize = 9;
  NodeSets none;
  RecordFile file([&](KivRkf::Index& index) {
    KivMox::WriteNodeSetsLight(n, index, kLight);
    KivMox::WriteNodeSetsHeavy(none, index, kHeavy);
  });
  EXPECT_EQ(file.StreamBytes(kLight),
            (Bytes{16, 0, 0, 0, 2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 9, 0, 0, 0}));
  // Zero sets: single zero offsets.
  EXPECT_EQ(file.StreamBytes(kHeavy), (Bytes{1, 0, 0, 0, 0, 0, 0, 0,  // name offsets {0}
                                             0, 0, 0, 0,              // joined names
                                             1, 0, 0, 0, 0, 0, 0, 0,  // member offsets {0}
                                             0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(none.heavyPosition, 0u);
  EXPECT_EQ(none.heavySize, 28u);
}

TEST(NodeSetsTest, ReadingAHandWrittenHeavyRecordReplacesTheSets) {
  NodeSets r;
  r.sets.resize(5);
  ASSERT_EQ(ReadHeavy(HeavyRecord{}, 2, r), 0);
  ASSERT_EQ(r.sets.size(), 2u);
  EXPECT_EQ(r.sets[0].name, "ab");
  EXPECT_EQ(r.sets[1].name, "cde");
  EXPECT_EQ(r.sets[0].members, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{10, 11}}));
  EXPECT_EQ(r.sets[1].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{20, 21}, {30, 31}}));
}

TEST(NodeSetsTest, OtherPayloadSizeIsSkippedAndLeavesTheNodeEmpty) {
  RecordFile file([](KivRkf::Index& index) {
    TestSupport::PutAll(index, kLight, std::uint32_t{20}, std::vector<std::uint8_t>(4, 0xAB),
                        std::uint64_t{0xFFFFFFFFFFFFFFFFull}, std::uint32_t{0xFFFFFFFF}, kSentinel,
                        std::uint32_t{0x7FFFFFFF}, kSentinel);
  });
  NodeSets r;
  KivMox::ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(std::tie(r.count, r.heavyPosition, r.heavySize),
            std::make_tuple(0u, std::uint64_t{0}, 0u));
  EXPECT_EQ(Next(file.Index(), kLight), kSentinel);
  // Without a heavy record there is nothing to read in "Heavy Data".
  KivMox::ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  EXPECT_TRUE(r.sets.empty());
  // A payload to skip beyond the block fails.
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivMox::ReadNodeSetsLight(r, file.Index(), kLight); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

// Offset lists of the wrong length (also for a huge count, without allocating), decreasing
// offsets and offsets beyond the names or members: out of bounds.
TEST(NodeSetsTest, DamagedOffsetListsAreOutOfBounds) {
  struct Case {
    std::uint32_t count;
    void (*damage)(HeavyRecord&);
  };
  const Case cases[] = {
      {3, [](HeavyRecord&) {}},
      {1, [](HeavyRecord&) {}},
      {0xFFFFFFFFu, [](HeavyRecord&) {}},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 1};
       }},
      {2,
       [](HeavyRecord& h) {
         h.nameOffsets = {0, 4, 2};
       }},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 3, 1};
       }},
      {2,
       [](HeavyRecord& h) {
         h.nameOffsets = {0, 2, 6};
       }},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 1, 4};
       }},
      {2,
       [](HeavyRecord& h) {
         h.seconds = {11, 21};
       }},  // fewer second values than members
  };
  for (const Case& c : cases) {
    HeavyRecord h;
    c.damage(h);
    NodeSets n;
    std::string description;
    EXPECT_EQ(ReadHeavy(h, c.count, n, &description), 1) << &c - cases;
    EXPECT_EQ(description, "Out of Bounds") << &c - cases;
  }
}

}  // namespace
