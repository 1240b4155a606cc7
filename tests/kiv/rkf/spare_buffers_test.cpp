// Buffers carried from one block to the next: the spare itself, a streaming stream whose
// blocks take turns with two buffers, and freeing a stream's loaded blocks
// on the reading side.
#include "kiv/rkf/spare_buffers.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kiv/rkf/container_helpers.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivRkf::MallocBuffer;
using KivRkf::SpareBuffer;

MallocBuffer Fresh(std::uint64_t bytes) {
  return MallocBuffer(static_cast<std::uint8_t*>(std::malloc(bytes)));
}

TEST(SpareBuffer, TakesTheKeptBufferWhenItFitsElseAFreshOne) {
  constexpr std::uint64_t kMiB = 1 << 20;
  SpareBuffer spare;
  std::uint64_t capacity = 0;
  MallocBuffer first = spare.Take(4 * kMiB, capacity);
  ASSERT_TRUE(first);
  EXPECT_EQ(capacity, 4 * kMiB);
  std::uint8_t* kept = first.get();
  spare.Keep(std::move(first), 4 * kMiB);
  EXPECT_TRUE(spare.Holds());

  MallocBuffer again = spare.Take(3 * kMiB, capacity);
  EXPECT_EQ(again.get(), kept);
  EXPECT_EQ(capacity, 4 * kMiB);  // what the buffer holds, not what was asked
  EXPECT_FALSE(spare.Holds());

  // Too small for the request: replaced, and the old one is gone.
  spare.Keep(std::move(again), 4 * kMiB);
  MallocBuffer bigger = spare.Take(5 * kMiB, capacity);
  ASSERT_TRUE(bigger);
  EXPECT_EQ(capacity, 5 * kMiB);
  EXPECT_FALSE(spare.Holds());

  // Small buffers are not worth keeping.
  spare.Keep(Fresh(4096), 4096);
  EXPECT_FALSE(spare.Holds());
  spare.Keep(MallocBuffer(), 8 * kMiB);
  EXPECT_FALSE(spare.Holds());
}

class SpareIndex : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("model.mox");
};

// Runs of 3 MiB in a stream limited to 2 MiB: every run fills a block, which goes to the
// file at once. While one block is compressed and written in the background, the next
// fills a second buffer; from then on the two take turns: block k + 2 fills the buffer of
// block k. A fresh buffer would hold zeros where the marks are.
TEST_F(SpareIndex, StreamingBlocksTakeTurnsWithTwoBuffers) {
  TestSupport::EnvGuard quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", nullptr);
  TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "2097152");
  constexpr std::uint32_t kRun = 3u << 20;
  constexpr std::uint32_t kMarkAt = 5u << 20;
  const std::uint8_t kMarks[2][8] = {{'s', 'p', 'a', 'r', 'e', '0', 0x5A, 0xA5},
                                     {'s', 'p', 'a', 'r', 'e', '1', 0xA5, 0x5A}};
  std::vector<std::uint8_t*> raw;
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    KivRkf::Index& index = f.GetIndex();
    for (std::uint32_t run = 0; run < 6; ++run) {
      index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      KivRkf::Block& block = index.WritingBlock("Heavy Data", false);
      std::uint8_t* p = block.Extend(kRun);
      for (std::uint32_t i = 0; i < kRun; ++i) p[i] = static_cast<std::uint8_t>(run * 7 + i / 512);
      ASSERT_GE(block.Capacity(), kMarkAt + sizeof kMarks[0]);
      // A mark in the unused part of the first two buffers shows up again two blocks later.
      const auto& mark = kMarks[run % 2];
      if (run < 2)
        std::memcpy(block.Data() + kMarkAt, mark, sizeof mark);
      else
        EXPECT_EQ(std::memcmp(block.Data() + kMarkAt, mark, sizeof mark), 0) << "block " << run;
      raw.push_back(block.Data());
      index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      index.FlushFrozen(f.Stream());
      EXPECT_TRUE(index.Blocks()[index.Names().at("Heavy Data").blocks.back()].frozen);
    }
    // A block of another stream does not take the heavy stream's buffer.
    index.Put("Light Data", std::uint32_t{42});
    for (std::uint8_t* buffer : raw)
      EXPECT_NE(index.Buffer(index.Names().at("Light Data").blocks.back()).Data(), buffer);
  });
  EXPECT_NE(raw[1], raw[0]);
  for (std::size_t k = 2; k < raw.size(); ++k) EXPECT_EQ(raw[k], raw[k - 2]) << "block " << k;

  TestSupport::ContainerReader reader(path_);
  ASSERT_EQ(reader.Index().Names().at("Heavy Data").blocks.size(), 6u);
  std::vector<std::uint8_t> back(kRun);
  for (std::uint32_t run = 0; run < 6; ++run) {
    reader.Index().Get("Heavy Data", back.data(), kRun);
    for (std::uint32_t i = 0; i < kRun; i += 4099)
      ASSERT_EQ(back[i], static_cast<std::uint8_t>(run * 7 + i / 512)) << run << " " << i;
  }
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data"), 42u);
}

// Reading a stream on, a block left behind used up gives its buffer to the next block:
// the reader holds one block's bytes, inflated into memory already in use.
TEST_F(SpareIndex, ReadingOnInflatesIntoTheBufferOfTheBlockLeftBehind) {
  TestSupport::EnvGuard quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", nullptr);
  TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "2097152");
  constexpr std::uint32_t kRun = 3u << 20;
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    for (std::uint32_t run = 0; run < 4; ++run) {
      f.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      std::uint8_t* p = f.GetIndex().WritingBlock("Heavy Data", false).Extend(kRun);
      for (std::uint32_t i = 0; i < kRun; ++i) p[i] = static_cast<std::uint8_t>(run * 11 + i / 640);
      f.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      f.GetIndex().FlushFrozen(f.Stream());
    }
  });
  TestSupport::ContainerReader reader(path_);
  KivRkf::Index& index = reader.Index();
  const auto blocks = index.Names().at("Heavy Data").blocks;
  ASSERT_EQ(blocks.size(), 4u);
  std::vector<std::uint8_t> back(kRun);
  const std::uint8_t* first = nullptr;
  for (std::uint32_t run = 0; run < 4; ++run) {
    index.Get("Heavy Data", back.data(), kRun);
    for (std::uint32_t i = 0; i < kRun; i += 4099)
      ASSERT_EQ(back[i], static_cast<std::uint8_t>(run * 11 + i / 640)) << run << " " << i;
    if (run == 0) first = index.Buffer(blocks[0]).Data();
  }
  // Block 3 is read into the buffer block 0 had; the blocks before it hold nothing.
  EXPECT_EQ(index.Buffer(blocks[3]).Data(), first);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_FALSE(index.Buffer(blocks[k]).HasBuffer()) << k;
    EXPECT_FALSE(index.Blocks()[blocks[k]].loaded) << k;
  }
  // Back to the start: block 0 is read again.
  index.SetReadingPosition("Heavy Data", 0);
  index.Get("Heavy Data", back.data(), kRun);
  EXPECT_EQ(back[kRun - 1], static_cast<std::uint8_t>((kRun - 1) / 640));
}

TEST_F(SpareIndex, ReleasedBlocksAreReadAgainWhenNeeded) {
  TestSupport::SmallBlocks small("16");
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    for (std::uint32_t i = 0; i < 40; ++i) {
      f.GetIndex().Put("Heavy Data", i * 5u);
      f.SetBlockFlags("Heavy Data", KivRkf::kFlagZlib | KivRkf::kFlagStreaming);
      f.GetIndex().FlushFrozen(f.Stream());
    }
  });
  TestSupport::ContainerReader reader(path_);
  KivRkf::Index& index = reader.Index();
  const auto blocks = index.Names().at("Heavy Data").blocks;
  ASSERT_EQ(blocks.size(), 10u);
  index.SetReadingPosition("Heavy Data", 4 * 21);  // value 21, in block 5
  EXPECT_EQ(reader.Get<std::uint32_t>("Heavy Data"), 105u);
  ASSERT_TRUE(index.Buffer(blocks[5]).HasBuffer());

  index.ReleaseLoadedBlocks("Heavy Data");
  for (std::uint64_t b : blocks) EXPECT_FALSE(index.Buffer(b).HasBuffer()) << b;
  index.ReleaseLoadedBlocks("No Such Stream");  // nothing to do

  // Back into a released block, and on.
  index.SetReadingPosition("Heavy Data", 4 * 20);
  for (std::uint32_t i = 20; i < 40; ++i)
    ASSERT_EQ(reader.Get<std::uint32_t>("Heavy Data"), i * 5u);
  index.SetReadingPosition("Heavy Data", 0);
  EXPECT_EQ(reader.Get<std::uint32_t>("Heavy Data"), 0u);
}

}  // namespace
