// The reading side of the block index: the chain of index blocks, lazy loading, stream
// positions and the ends of streams.
#include "kiv/rkf/index.hpp"

#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"
#include "kiv/rkf/zlib.hpp"

namespace {

using KivRkf::RkFile;
using TestSupport::Bytes;
using TestSupport::CodeOf;

class IndexRead : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("model.mox");
};

// 2000 values in blocks of 16 bytes: 500 data blocks, so the table runs through the index
// blocks 19, 219 and 419.
void WriteLongStream(const std::string& path, bool streaming) {
  TestSupport::WriteContainer(path, [&](RkFile& f) {
    const std::uint8_t flags = KivRkf::kFlagZlib | (streaming ? KivRkf::kFlagStreaming : 0);
    for (std::uint32_t i = 0; i < 2000; ++i) {
      f.GetIndex().Put("Heavy Data", i * 3u);
      if (streaming) {
        f.SetBlockFlags("Heavy Data", flags);
        f.GetIndex().FlushFrozen(f.Stream());
      }
    }
    f.SetBlockFlags("Heavy Data", flags);
  });
}

void ExpectLongStream(const std::string& path) {
  TestSupport::ContainerReader reader(path);
  const auto& index = reader.Index();
  ASSERT_EQ(index.Blocks().size(), 620u);
  EXPECT_EQ(index.Names().at(KivRkf::kIndexBlockName).blocks,
            (std::vector<std::uint64_t>{19, 219, 419}));
  EXPECT_EQ(index.Names().at("Heavy Data").blocks.size(), 500u);
  for (std::uint32_t i = 0; i < 2000; ++i) {
    std::uint32_t v = 0;
    reader.Index().Get("Heavy Data", v);
    ASSERT_EQ(v, i * 3u) << "value " << i;
  }
  std::uint32_t past = 0;
  std::string description;
  EXPECT_EQ(CodeOf([&] { reader.Index().Get("Heavy Data", past); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

TEST_F(IndexRead, StreamOverThreeIndexBlocks) {
  TestSupport::SmallBlocks small("16");
  WriteLongStream(path_, false);
  ExpectLongStream(path_);
}

TEST_F(IndexRead, StreamingStreamOverThreeIndexBlocks) {
  TestSupport::SmallBlocks small("16");
  WriteLongStream(path_, true);
  ExpectLongStream(path_);
}

TEST_F(IndexRead, BlocksAreLoadedWhenFirstReached) {
  TestSupport::SmallBlocks small("8");
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t i = 0; i < 4; ++i) f.GetIndex().Put("A", i);
    f.GetIndex().Put("B", std::string("b"));
  });
  TestSupport::ContainerReader reader(path_);
  for (const auto& info : reader.Index().Blocks()) EXPECT_FALSE(info.loaded);
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 0u);
  EXPECT_TRUE(reader.Index().Blocks()[0].loaded);
  EXPECT_FALSE(reader.Index().Blocks()[1].loaded);
  EXPECT_FALSE(reader.Index().Blocks()[2].loaded);
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 1u);
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 2u);
  EXPECT_TRUE(reader.Index().Blocks()[1].loaded);
  EXPECT_EQ(reader.Get<std::string>("B"), "b");
}

TEST_F(IndexRead, MissingStreamReadsAsNothing) {
  TestSupport::WriteContainer(path_, [](RkFile& f) { f.GetIndex().Put("A", 1u); });
  TestSupport::ContainerReader reader(path_);
  EXPECT_EQ(reader.Get<std::uint32_t>("View Points", 42u), 42u);
  EXPECT_EQ(reader.Get<std::vector<std::string>>("View Points", {"kept"}),
            std::vector<std::string>{"kept"});
  Bytes raw{9, 9};
  reader.Index().Get("View Points", raw.data(), 2);
  EXPECT_EQ(raw, (Bytes{9, 9}));
}

TEST_F(IndexRead, ReadingPositionAcrossBlocks) {
  TestSupport::SmallBlocks small("8");
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t i = 0; i < 10; ++i) f.GetIndex().Put("A", i);  // blocks 0..4
  });
  TestSupport::ContainerReader reader(path_);
  auto& index = reader.Index();
  // The length of the first block: position 0 of the second.
  index.SetReadingPosition("A", 8, reader.file.Stream());
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 2u);
  // Inside the third block: the first two are passed over without being loaded.
  index.SetReadingPosition("A", 20, reader.file.Stream());
  for (std::uint64_t b : {0, 1}) {
    EXPECT_FALSE(index.Blocks()[b].loaded) << b;
    EXPECT_FALSE(index.Buffer(b).HasBuffer()) << b;
  }
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 5u);
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 6u);
  // Back to the start.
  index.SetReadingPosition("A", 0, reader.file.Stream());
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 0u);
  // The end of the stream, and beyond it.
  index.SetReadingPosition("A", 40, reader.file.Stream());
  std::uint32_t v = 0;
  EXPECT_EQ(CodeOf([&] { index.Get("A", v); }), 1);
  std::string description;
  EXPECT_EQ(CodeOf([&] { index.SetReadingPosition("A", 41, reader.file.Stream()); }, &description),
            1);
  EXPECT_EQ(description, "Invalid block position");
}

// Ten values in five compressed blocks of 8 bytes.
void WriteCompressedStream(const std::string& path) {
  TestSupport::WriteContainer(path, [](RkFile& f) {
    for (std::uint32_t i = 0; i < 10; ++i) f.GetIndex().Put("A", i * 7u);
    f.SetBlockFlags("A", KivRkf::kFlagZlib);
  });
}

TEST_F(IndexRead, SeekingPastCompressedBlocksReadsOnlyTheirLengthFields) {
  TestSupport::SmallBlocks small("8");
  WriteCompressedStream(path_);
  TestSupport::ContainerReader reader(path_);
  auto& index = reader.Index();
  index.SetReadingPosition("A", 20, reader.file.Stream());
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 35u);
  for (std::uint64_t b : {0, 1}) {
    EXPECT_FALSE(index.Blocks()[b].loaded) << b;
    EXPECT_FALSE(index.Buffer(b).HasBuffer()) << b;
    EXPECT_EQ(index.Buffer(b).Size(), 8u) << b;  // the size its length field declares
    EXPECT_TRUE(index.Blocks()[b].sizeUnchecked) << b;
  }
  // Checking inflates each of them once and frees it again.
  index.CheckRecordedSizes();
  for (std::uint64_t b : {0, 1}) {
    EXPECT_FALSE(index.Blocks()[b].sizeUnchecked) << b;
    EXPECT_FALSE(index.Buffer(b).HasBuffer()) << b;
  }
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 42u);
}

TEST_F(IndexRead, ReadingOnAfterASeekBackTakesLaterBlocksFromTheirStart) {
  TestSupport::SmallBlocks small("8");
  WriteCompressedStream(path_);
  TestSupport::ContainerReader reader(path_);
  auto& index = reader.Index();
  // Block 1 passed over, block 3 part read.
  index.SetReadingPosition("A", 28, reader.file.Stream());
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 49u);
  index.SetReadingPosition("A", 4, reader.file.Stream());
  for (std::uint32_t i = 1; i < 10; ++i) ASSERT_EQ(reader.Get<std::uint32_t>("A"), i * 7u) << i;
  std::uint32_t past = 0;
  EXPECT_EQ(CodeOf([&] { index.Get("A", past); }), 1);
}

TEST_F(IndexRead, ALengthFieldThatLiesFailsOnceItsBlockIsChecked) {
  TestSupport::SmallBlocks small("8");
  WriteCompressedStream(path_);
  std::uint64_t offset = 0;
  {
    TestSupport::ContainerReader reader(path_);
    offset = reader.Index().BlockOffset(reader.Index().Names().at("A").blocks[0]);
  }
  // The first block says it holds 12 bytes; its zlib stream still inflates to 8.
  Bytes bytes = TestSupport::ReadFileBytes(path_);
  TestSupport::SetU32At(bytes, offset, 12);
  TestSupport::WriteFileBytes(path_, bytes);

  for (bool seekBack : {false, true}) {
    TestSupport::ContainerReader reader(path_);
    auto& index = reader.Index();
    // Passing over it, the reader believes the field: position 20 lands at the start of
    // block 2 instead of 4 bytes into it.
    index.SetReadingPosition("A", 20, reader.file.Stream());
    std::string description;
    const int code =
        seekBack
            ? CodeOf([&] { index.SetReadingPosition("A", 0, reader.file.Stream()); }, &description)
            : CodeOf([&] { index.CheckRecordedSizes(); }, &description);
    EXPECT_EQ(code, 9) << seekBack;
    EXPECT_EQ(description, "Unable to decompress block") << seekBack;
  }
  // Read from the start, the block is inflated before any position is counted with it.
  TestSupport::ContainerReader reader(path_);
  EXPECT_EQ(reader.Get<std::uint32_t>("A"), 0u);
}

TEST_F(IndexRead, ReaderHonoursCompressionOnAnIndexBlock) {
  // 20 streams: block 19 becomes the index block of blocks 20..219, and S19 takes block 20.
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t s = 0; s < 20; ++s) f.GetIndex().Put("S" + std::to_string(s), s + 100);
  });
  Bytes file = TestSupport::ReadFileBytes(path_);
  const std::size_t at = 2800 + 19 * 4;
  const std::size_t record19 = TestSupport::PrimaryRecordOffset(19);
  ASSERT_EQ(TestSupport::U32At(file, record19 + 133), 27804u);
  ASSERT_EQ(file[record19 + 137], KivRkf::kFlagStreaming);
  KivRkf::Block indexBlock;
  indexBlock.Put(file.data() + at, 27804);
  KivRkf::BlockZlibCompressor()(indexBlock);
  Bytes rebuilt(file.begin(), file.begin() + at);
  rebuilt.insert(rebuilt.end(), indexBlock.Data(), indexBlock.Data() + indexBlock.Size());
  rebuilt.insert(rebuilt.end(), file.begin() + at + 27804, file.end());
  TestSupport::SetU32At(rebuilt, record19 + 133, indexBlock.Size());
  rebuilt[record19 + 137] |= KivRkf::kFlagZlib;
  TestSupport::WriteFileBytes(path_, rebuilt);

  TestSupport::ContainerReader reader(path_);
  EXPECT_EQ(reader.Index().Blocks().size(), 220u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S19"), 119u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S0"), 100u);
}

}  // namespace
