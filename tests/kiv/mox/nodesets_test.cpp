// Node set records: light record in "Light Data", heavy record in "Heavy Data", written and
// read back through a real file, and damaged offset lists rejected with code 1.
#include "kiv/mox/nodesets.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::NodeSet;
using KivMox::NodeSets;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::RecordFile;

const std::string kLight = "Light Data";
const std::string kHeavy = "Heavy Data";
constexpr std::uint32_t kSentinel = 0x0DDBA11;

NodeSets Sample() {
  NodeSets n;
  n.name = "sets";
  n.sets.push_back(NodeSet{"left", {{1, 2}, {3, 4}}});
  n.sets.push_back(NodeSet{"", {}});
  n.sets.push_back(NodeSet{"right side", {{7, 8}}});
  return n;
}

// A heavy record written by hand, after `lead` bytes of other heavy data.
struct HeavyRecord {
  std::vector<std::uint32_t> nameOffsets;
  std::string names;
  std::vector<std::uint32_t> memberOffsets;
  std::vector<std::uint32_t> firsts;
  std::vector<std::uint32_t> seconds;
};

HeavyRecord ValidRecord() {
  return HeavyRecord{{0, 2, 5}, "abcde", {0, 1, 3}, {10, 20, 30}, {11, 21, 31}};
}

int ReadHeavyCode(const HeavyRecord& h, std::uint32_t count, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::Index& index) {
    index.Put(kHeavy, h.nameOffsets);
    index.Put(kHeavy, h.names);
    index.Put(kHeavy, h.memberOffsets);
    index.Put(kHeavy, h.firsts);
    index.Put(kHeavy, h.seconds);
  });
  NodeSets n;
  n.count = count;
  n.heavySize = static_cast<std::uint32_t>(file.StreamBytes(kHeavy).size());
  return CodeOf([&] { KivMox::ReadNodeSetsHeavy(n, file.Index(), kHeavy); }, description);
}

TEST(NodeSetsTest, TypeNameAndVersion) {
  NodeSets n;
  EXPECT_EQ(n.GetTypeName(), "NodeSets");
  EXPECT_EQ(n.GetVersion(), "0.1");
}

TEST(NodeSetsTest, RoundTripThroughACompressedFileAfterOtherHeavyData) {
  NodeSets n = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        index.Put(kHeavy, std::vector<std::uint8_t>(37, 0xEE));  // earlier heavy data
        KivMox::WriteNodeSetsHeavy(n, index, kHeavy);
        KivMox::WriteNodeSetsLight(n, index, kLight);
        index.Put(kLight, kSentinel);
      },
      true);
  EXPECT_EQ(n.heavyPosition, 41u);
  EXPECT_EQ(n.count, 3u);
  // offsets 4+16, names 4+10, offsets 4+16, firsts 4+12, seconds 4+12
  EXPECT_EQ(n.heavySize, 90u);

  NodeSets r;
  KivMox::ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(r.count, 3u);
  EXPECT_EQ(r.heavyPosition, 41u);
  EXPECT_EQ(r.heavySize, 90u);
  EXPECT_TRUE(r.sets.empty());
  std::uint32_t next = 0;
  file.Index().Get(kLight, next);
  EXPECT_EQ(next, kSentinel);

  KivMox::ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  ASSERT_EQ(r.sets.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(r.sets[i].name, n.sets[i].name);
    EXPECT_EQ(r.sets[i].members, n.sets[i].members);
  }
}

TEST(NodeSetsTest, LightRecordLayout) {
  NodeSets n;
  n.sets.resize(2);
  n.heavyPosition = 0x0102030405060708ull;
  n.heavySize = 9;
  RecordFile file([&](KivRkf::Index& index) { KivMox::WriteNodeSetsLight(n, index, kLight); });
  EXPECT_EQ(file.StreamBytes(kLight),
            (Bytes{16, 0, 0, 0, 2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 9, 0, 0, 0}));
}

TEST(NodeSetsTest, ZeroSetsWriteSingleZeroOffsets) {
  NodeSets n;
  RecordFile file([&](KivRkf::Index& index) { KivMox::WriteNodeSetsHeavy(n, index, kHeavy); });
  EXPECT_EQ(file.StreamBytes(kHeavy), (Bytes{1, 0, 0, 0, 0, 0, 0, 0,  // name offsets {0}
                                             0, 0, 0, 0,              // joined names
                                             1, 0, 0, 0, 0, 0, 0, 0,  // member offsets {0}
                                             0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(n.heavyPosition, 0u);
  EXPECT_EQ(n.heavySize, 28u);
}

TEST(NodeSetsTest, ReadingTheHeavyRecordReplacesTheSets) {
  NodeSets r;
  r.sets.resize(5);
  RecordFile file([&](KivRkf::Index& index) {
    HeavyRecord h = ValidRecord();
    index.Put(kHeavy, h.nameOffsets);
    index.Put(kHeavy, h.names);
    index.Put(kHeavy, h.memberOffsets);
    index.Put(kHeavy, h.firsts);
    index.Put(kHeavy, h.seconds);
  });
  r.count = 2;
  r.heavySize = 1;
  KivMox::ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  ASSERT_EQ(r.sets.size(), 2u);
  EXPECT_EQ(r.sets[0].name, "ab");
  EXPECT_EQ(r.sets[1].name, "cde");
  EXPECT_EQ(r.sets[0].members, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{10, 11}}));
  EXPECT_EQ(r.sets[1].members,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{20, 21}, {30, 31}}));
}

TEST(NodeSetsTest, OtherPayloadSizeIsSkippedAndLeavesTheNodeEmpty) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kLight, std::uint32_t{20});
    index.Put(kLight, std::vector<std::uint8_t>(4, 0xAB));  // 8 bytes
    index.Put(kLight, std::uint64_t{0xFFFFFFFFFFFFFFFFull});
    index.Put(kLight, std::uint32_t{0xFFFFFFFF});
    index.Put(kLight, kSentinel);
  });
  NodeSets r;
  KivMox::ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(r.heavyPosition, 0u);
  EXPECT_EQ(r.heavySize, 0u);
  std::uint32_t next = 0;
  file.Index().Get(kLight, next);
  EXPECT_EQ(next, kSentinel);
  // Without a heavy record there is nothing to read in "Heavy Data".
  KivMox::ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  EXPECT_TRUE(r.sets.empty());
}

TEST(NodeSetsTest, SkippedPayloadBeyondTheBlockFails) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kLight, std::uint32_t{0x7FFFFFFF});
    index.Put(kLight, kSentinel);
  });
  NodeSets r;
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivMox::ReadNodeSetsLight(r, file.Index(), kLight); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

TEST(NodeSetsTest, OffsetListsWithTheWrongLengthAreOutOfBounds) {
  EXPECT_EQ(ReadHeavyCode(ValidRecord(), 3), 1);
  EXPECT_EQ(ReadHeavyCode(ValidRecord(), 1), 1);
  HeavyRecord h = ValidRecord();
  h.memberOffsets = {0, 1};
  std::string description;
  EXPECT_EQ(ReadHeavyCode(h, 2, &description), 1);
  EXPECT_EQ(description, "Out of Bounds");
}

TEST(NodeSetsTest, HugeCountWithShortListsIsOutOfBoundsWithoutAllocating) {
  EXPECT_EQ(ReadHeavyCode(ValidRecord(), 0xFFFFFFFFu), 1);
}

TEST(NodeSetsTest, DecreasingOffsetsAreOutOfBounds) {
  HeavyRecord h = ValidRecord();
  h.nameOffsets = {0, 4, 2};
  EXPECT_EQ(ReadHeavyCode(h, 2), 1);
  h = ValidRecord();
  h.memberOffsets = {0, 3, 1};
  EXPECT_EQ(ReadHeavyCode(h, 2), 1);
}

TEST(NodeSetsTest, OffsetsBeyondTheNamesOrMembersAreOutOfBounds) {
  HeavyRecord h = ValidRecord();
  h.nameOffsets = {0, 2, 6};
  EXPECT_EQ(ReadHeavyCode(h, 2), 1);
  h = ValidRecord();
  h.memberOffsets = {0, 1, 4};
  EXPECT_EQ(ReadHeavyCode(h, 2), 1);
  h = ValidRecord();
  h.seconds = {11, 21};  // fewer second values than members
  EXPECT_EQ(ReadHeavyCode(h, 2), 1);
}

TEST(NodeSetsTest, ValidHandWrittenRecordPassesTheChecks) {
  HeavyRecord h = ValidRecord();
  RecordFile file([&](KivRkf::Index& index) {
    index.Put(kHeavy, h.nameOffsets);
    index.Put(kHeavy, h.names);
    index.Put(kHeavy, h.memberOffsets);
    index.Put(kHeavy, h.firsts);
    index.Put(kHeavy, h.seconds);
  });
  NodeSets n;
  n.count = 2;
  n.heavySize = 1;
  KivMox::ReadNodeSetsHeavy(n, file.Index(), kHeavy);
  EXPECT_EQ(n.sets.size(), 2u);
}

}  // namespace
