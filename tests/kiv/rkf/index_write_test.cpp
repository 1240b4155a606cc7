// The writing side of the block index: block numbering, index blocks, stream limits,
// sizes and early writes of streaming blocks.
#include "kiv/rkf/index.hpp"

#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivRkf::Index;
using TestSupport::Bytes;
using TestSupport::CodeOf;

TEST(IndexWrite, FirstBlockOfANewIndex) {
  Index index;
  EXPECT_EQ(index.IndexBufferSize(), 0u);
  EXPECT_EQ(index.AddBlock("Light Data"), 0u);
  EXPECT_EQ(index.Blocks().size(), 20u);
  EXPECT_EQ(index.IndexBufferSize(), 2788u);
  EXPECT_EQ(index.HeaderSize(), 12u);
  std::vector<std::uint64_t> pool;
  for (std::uint64_t b = 19; b >= 1; --b) pool.push_back(b);
  EXPECT_EQ(index.Names().at(KivRkf::kEmptyBlockName).blocks, pool);
  EXPECT_EQ(index.Names().at("Light Data").blocks, std::vector<std::uint64_t>{0});
  EXPECT_EQ(index.Blocks()[0].name, "Light Data");
  EXPECT_EQ(index.Blocks()[0].serial, 1);
  EXPECT_EQ(index.Blocks()[19].serial, 20);
  // Both special names are 13 bytes and sort before printable names.
  EXPECT_EQ(KivRkf::kEmptyBlockName.size(), 13u);
  EXPECT_EQ(KivRkf::kIndexBlockName, std::string("\x0BIndex Block "));
  EXPECT_EQ(index.Names().begin()->first, KivRkf::kEmptyBlockName);
}

TEST(IndexWrite, TwentiethStreamTurnsBlock19IntoAnIndexBlock) {
  Index index;
  for (int s = 0; s < 19; ++s) EXPECT_EQ(index.AddBlock("S" + std::to_string(s)), std::uint64_t(s));
  EXPECT_EQ(index.Blocks().size(), 20u);
  EXPECT_EQ(index.AddBlock("S19"), 20u);
  ASSERT_EQ(index.Blocks().size(), 220u);
  const auto& b19 = index.Blocks()[19];
  EXPECT_EQ(b19.name, KivRkf::kIndexBlockName);
  EXPECT_EQ(b19.flags, 32);
  EXPECT_EQ(b19.storedSize, 27804u);
  EXPECT_EQ(index.Names().at(KivRkf::kIndexBlockName).blocks, std::vector<std::uint64_t>{19});
  EXPECT_EQ(index.Names().at(KivRkf::kIndexBlockName).limit, 27804u);
  EXPECT_EQ(index.Names().at(KivRkf::kEmptyBlockName).blocks.back(), 21u);
  EXPECT_EQ(index.AddBlock("S20"), 21u);
}

TEST(IndexWrite, FullBlockHandsTheNextValueToANewBlock) {
  TestSupport::SmallBlocks small("8");
  Index index;
  index.Put("A", std::uint32_t{1});
  index.Put("A", std::uint32_t{2});  // size 8 == limit: the block is full
  index.Put("A", std::uint32_t{3});
  EXPECT_EQ(index.Names().at("A").blocks, (std::vector<std::uint64_t>{0, 1}));
  // A value larger than the limit goes whole into one block.
  index.Put("A", std::string(20, 'x'));
  EXPECT_EQ(index.Buffer(1).Size(), 28u);
  EXPECT_EQ(index.Names().at("A").limit, 8u);
  EXPECT_EQ(index.GetSize("A"), 36u);
}

TEST(IndexWrite, LimitZeroGivesEveryValueItsOwnBlock) {
  TestSupport::SmallBlocks small("0");
  Index index;
  for (std::uint8_t i = 0; i < 5; ++i) index.Put("A", i);
  EXPECT_EQ(index.Names().at("A").blocks, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
}

TEST(IndexWrite, LimitIsReadForEachNewName) {
  Index index;
  {
    TestSupport::EnvGuard env("KORVANE_MAX_MOX_BLOCK_SIZE", "100");
    index.AddBlock("A");
  }
  {
    TestSupport::EnvGuard env("KORVANE_MAX_MOX_BLOCK_SIZE", "4294967295");
    index.AddBlock("B");
  }
  TestSupport::EnvGuard env("KORVANE_MAX_MOX_BLOCK_SIZE", nullptr);
  index.AddBlock("C");
  EXPECT_EQ(index.Names().at("A").limit, 100u);
  EXPECT_EQ(index.Names().at("B").limit, 209715200u);
  EXPECT_EQ(index.Names().at("C").limit, 209715200u);
}

TEST(IndexWrite, SetBlockFlagsReachesOnlyExistingBlocks) {
  TestSupport::SmallBlocks small("4");
  Index index;
  index.Put("A", std::uint32_t{1});
  index.Put("AB", std::uint32_t{1});
  index.SetBlockFlags("A", KivRkf::kFlagZlib);
  index.Put("A", std::uint32_t{2});  // a new block, flags 0
  EXPECT_EQ(index.Blocks()[0].flags, KivRkf::kFlagZlib);
  EXPECT_EQ(index.Blocks()[1].flags, 0);  // "AB" is another name
  EXPECT_EQ(index.Blocks()[2].flags, 0);
}

TEST(IndexWrite, MissingStreamHasSizeZero) {
  Index index;
  EXPECT_EQ(index.GetSize("nothing"), 0u);
  EXPECT_EQ(CodeOf([&] { index.GetBlockSizeLimiter("nothing"); }), 5);
}

class IndexFile : public ::testing::Test {
 protected:
  void SetUp() override { stream_ = std::fopen(path_.c_str(), "wb+"); }
  void TearDown() override { std::fclose(stream_); }
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("index.rkf");
  std::FILE* stream_ = nullptr;
};

TEST_F(IndexFile, SizeSurvivesAnEarlyWrite) {
  TestSupport::SmallBlocks small("30");
  Index index;
  Bytes ten(10, 1), twenty(20, 2);
  index.Put("Heavy Data", ten.data(), 10);
  index.Put("Heavy Data", twenty.data(), 20);
  EXPECT_EQ(index.GetSize("Heavy Data"), 30u);
  index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming);
  index.FlushFrozen(stream_);
  EXPECT_TRUE(index.Blocks()[0].frozen);
  EXPECT_EQ(index.Blocks()[0].frozenLength, 30u);
  EXPECT_FALSE(index.Buffer(0).HasBuffer());
  EXPECT_EQ(index.GetSize("Heavy Data"), 30u);
  index.Put("Heavy Data", ten.data(), 10);  // goes to a new block
  EXPECT_EQ(index.Names().at("Heavy Data").blocks, (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(index.GetSize("Heavy Data"), 40u);
}

TEST_F(IndexFile, FlushFrozenWritesOnlyFullStreamingBlocksInOrder) {
  TestSupport::SmallBlocks small("8");
  Index index;
  for (std::uint32_t i = 0; i < 5; ++i) {
    index.Put("Heavy Data", i);
    index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
    index.FlushFrozen(stream_);
  }
  // Blocks 0 and 1 are full and written; block 2 holds the fifth value.
  EXPECT_TRUE(index.Blocks()[0].frozen);
  EXPECT_TRUE(index.Blocks()[1].frozen);
  EXPECT_FALSE(index.Blocks()[2].frozen);
  EXPECT_EQ(index.Blocks()[1].offset, 2800u + index.Blocks()[0].storedSize);
  EXPECT_EQ(index.GetSize("Heavy Data"), 20u);
}

TEST_F(IndexFile, FullStreamingBlockAfterAnUnwrittenBlockCannotBeFlushed) {
  TestSupport::SmallBlocks small("8");
  Index index;
  index.Put("Heavy Data", std::uint32_t{0});
  index.Put("Light Data", std::uint32_t{0});  // block 1, never written early
  index.Put("Heavy Data", std::uint32_t{1});  // block 0 full
  index.Put("Heavy Data", std::uint64_t{2});  // block 2 full
  index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming);
  std::string description;
  EXPECT_EQ(CodeOf([&] { index.FlushFrozen(stream_); }, &description), 13);
  EXPECT_EQ(description, "Not Implemented");
  EXPECT_TRUE(index.Blocks()[0].frozen);  // block 0 had nothing unwritten before it
  EXPECT_FALSE(index.Blocks()[2].frozen);
}

TEST_F(IndexFile, WritingAFrozenBlockAgainFails) {
  TestSupport::SmallBlocks small("4");
  Index index;
  index.Put("Heavy Data", std::uint32_t{0});
  index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming);
  index.WriteBufferToFileStream(0, stream_);
  EXPECT_EQ(CodeOf([&] { index.WriteBufferToFileStream(0, stream_); }), 14);
}

// The blocks left at the end are compressed on the caller's thread while the second one
// still writes the last full block; the file must be the one a writer without early
// writes makes, and the streaming block must keep its raw length, not its packed one.
TEST(IndexWriteAtTheEnd, BlocksCompressedWhileTheLastFullBlockIsWrittenGiveTheSameFile) {
  TestSupport::SmallBlocks small("4096");
  TestSupport::TempDir dir;
  auto write = [&](const std::string& path, bool early) {
    Index index;
    std::FILE* stream = std::fopen(path.c_str(), "wb+");
    ASSERT_NE(stream, nullptr);
    for (std::uint32_t i = 0; i < 3 * 1024 + 100; ++i) {
      index.Put("Heavy Data", static_cast<float>(i % 97) * 0.25f);
      index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      if (early && (i + 1) % 1024 == 0) index.FlushFrozen(stream);  // block i / 1024 is full
    }
    for (std::uint32_t i = 0; i < 300; ++i) index.Put("Light Data", i * 7);
    index.SetBlockFlags("Light Data", KivRkf::kFlagZlib);
    index.WriteAllBuffersToFileStream(stream);
    EXPECT_EQ(index.GetSize("Heavy Data"), (3u * 1024 + 100) * 4);
    EXPECT_EQ(index.Blocks()[3].frozenLength, 400u);  // the last, partial block
    ASSERT_EQ(std::fclose(stream), 0);
  };
  const std::string early = dir.File("early.rkf"), late = dir.File("late.rkf");
  write(early, true);
  write(late, false);
  const Bytes bytes = TestSupport::ReadFileBytes(early);
  EXPECT_EQ(bytes, TestSupport::ReadFileBytes(late));
  // Read back: every value where it was put.
  TestSupport::ContainerReader reader(early);
  float value = -1;
  for (std::uint32_t i = 0; i < 3 * 1024 + 100; ++i) {
    reader.Index().Get("Heavy Data", value);
    ASSERT_EQ(value, static_cast<float>(i % 97) * 0.25f) << i;
  }
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data"), 0u);
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data"), 7u);
}

}  // namespace
