// The block index: numbering, index blocks, stream limits, early writes; reading the chain
// of index blocks, lazy loading, positions and lying lengths.
#include "kiv/rkf/index.hpp"

#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivRkf::Index;
using KivRkf::RkFile;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::ContainerReader;
using TestSupport::Failure;
using Numbers = std::vector<std::uint64_t>;

TEST(IndexWrite, FirstBlocksAndTheIndexBlockOfTheTwentiethStream) {
  Index index;
  EXPECT_EQ(index.IndexBufferSize(), 0u);
  EXPECT_EQ(index.AddBlock("S0"), 0u);
  EXPECT_EQ(index.IndexBufferSize() + index.HeaderSize(), 2800u);
  EXPECT_EQ(index.Names().at(std::string("\x0B") + "Empty Block ").blocks.back(), 1u);
  for (int s = 1; s < 19; ++s) EXPECT_EQ(index.AddBlock("S" + std::to_string(s)), std::uint64_t(s));
  EXPECT_EQ(index.AddBlock("S19"), 20u);
  ASSERT_EQ(index.Blocks().size(), 220u);
  const auto& b19 = index.Blocks()[19];
  EXPECT_EQ(std::make_tuple(b19.name, b19.flags, b19.storedSize),
            std::make_tuple("\x0BIndex Block ", 32, 27804u));
  EXPECT_EQ(index.Names().at(KivRkf::kIndexBlockName).limit, 27804u);
  EXPECT_EQ(index.AddBlock("S20"), 21u);
  // Offsets are computed for the table's blocks only, also when its vector is full.
  KivRkf::BlockTable table;
  for (int b = 0; b < 20; ++b) table.CreateBlock("A");
  for (auto& info : table.Blocks()) info.storedSize = 10;
  table.Blocks().shrink_to_fit();
  table.SetIndexBufferSize(2788);
  table.ComputeAllOffsets();
  EXPECT_EQ(std::make_pair(table.BlockOffset(0), table.BlockOffset(19)),
            std::make_pair(2800ul, 2990ul));
}

TEST(IndexWrite, StreamLimitsAndFlags) {
  {
    TestSupport::SmallBlocks small("8");
    Index index;
    index.Put("A", std::uint32_t{1});
    index.Put("AB", std::uint32_t{1});
    index.SetBlockFlags("A", KivRkf::kFlagZlib);
    index.Put("A", std::uint32_t{2});      // size 8 == limit: the block is full
    index.Put("A", std::string(20, 'x'));  // a new block (flags 0) takes it whole
    EXPECT_EQ(index.Names().at("A").blocks, (Numbers{0, 2}));
    EXPECT_EQ(std::make_pair(index.Buffer(2).Size(), index.GetSize("A")),
              std::make_pair(24u, 32ul));
    EXPECT_EQ(index.Blocks()[0].flags + index.Blocks()[1].flags + index.Blocks()[2].flags, 1);
  }
  Index index;  // the limit of each new name comes from the environment
  for (const char* limit : {"100", "4294967295", static_cast<const char*>(nullptr)}) {
    TestSupport::EnvGuard env("KORVANE_MAX_MOX_BLOCK_SIZE", limit);
    index.AddBlock(limit ? limit : "unset");
  }
  EXPECT_EQ(index.Names().at("100").limit, 100u);
  EXPECT_EQ(index.Names().at("4294967295").limit, 209715200u);
  EXPECT_EQ(index.Names().at("unset").limit, 209715200u);
  EXPECT_EQ(index.GetSize("nothing"), 0u);
  EXPECT_EQ(CodeOf([&] { index.GetBlockSizeLimiter("nothing"); }), 5);
}

TEST(IndexWrite, EarlyWritesOfStreamingBlocks) {
  TestSupport::MemFile file;
  std::FILE* stream = std::fopen(file.Path().c_str(), "wb+");
  TestSupport::SmallBlocks small("8");
  Index index;
  for (std::uint32_t i = 0; i < 5; ++i) {
    index.Put("Heavy Data", i);
    index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
    index.FlushFrozen(stream);
  }
  // Blocks 0 and 1 are full and written, one after the other, and keep their raw length.
  EXPECT_TRUE(index.Blocks()[0].frozen && index.Blocks()[1].frozen && !index.Buffer(0).HasBuffer());
  EXPECT_FALSE(index.Blocks()[2].frozen);
  EXPECT_EQ(index.Blocks()[1].frozenLength, 8u);
  EXPECT_EQ(index.Blocks()[1].offset, 2800u + index.Blocks()[0].storedSize);
  EXPECT_EQ(index.GetSize("Heavy Data"), 20u);
  EXPECT_EQ(CodeOf([&] { index.WriteBufferToFileStream(0, stream); }), 14);  // again
  // A full streaming block after a block that was not written early.
  index.Put("Light Data", std::uint32_t{0});  // block 3
  index.Put("Heavy Data", std::uint32_t{5});  // block 2 full
  index.Put("Heavy Data", std::uint64_t{6});  // block 4 full
  index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming);
  EXPECT_EQ(Failure([&] { index.FlushFrozen(stream); }), "13 Not Implemented");
  EXPECT_TRUE(index.Blocks()[2].frozen);  // nothing unwritten before it
  EXPECT_FALSE(index.Blocks()[4].frozen);
  index.DropPendingWrite();
  std::fclose(stream);
}

// 2002 values in streaming blocks of 16 bytes: 501 data blocks, so the table runs through
// the index blocks 19, 219 and 419. Written early, the blocks left at the end are compressed
// on the caller's thread while the last full block is written: the file is the one a writer
// without early writes makes, and the last, partial block keeps its raw length.
TEST(IndexRead, StreamOverThreeIndexBlocks) {
  TestSupport::SmallBlocks small("16");
  auto write = [&](bool early) {
    TestSupport::MemFile file;
    RkFile f;
    f.OpenFile(file.Path(), "wb+");
    f.WriteHeader();
    for (std::uint32_t i = 0; i < 2002; ++i) {
      f.GetIndex().Put("Heavy Data", i * 3u);
      f.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      if (early) f.GetIndex().FlushFrozen(f.Stream());
    }
    for (std::uint32_t i = 0; i < 3; ++i) f.GetIndex().Put("Light Data", i * 7);
    f.SetBlockFlags("Light Data", KivRkf::kFlagZlib);
    f.GetIndex().WriteAllBuffersToFileStream(f.Stream());
    EXPECT_EQ(f.GetIndex().GetSize("Heavy Data"), 2002u * 4);
    f.CloseFile();
    return file.Read();
  };
  const Bytes bytes = write(true);
  EXPECT_EQ(bytes, write(false));
  ContainerReader reader(bytes);
  ASSERT_EQ(reader.Index().Blocks().size(), 620u);
  EXPECT_EQ(reader.Index().Names().at(KivRkf::kIndexBlockName).blocks, (Numbers{19, 219, 419}));
  for (std::uint32_t i = 0; i < 2002; ++i)
    ASSERT_EQ(reader.Get<std::uint32_t>("Heavy Data"), i * 3u) << i;
  EXPECT_EQ(Failure([&] { reader.Get<std::uint32_t>("Heavy Data"); }),
            "1 Not enough bytes in the block");
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data") + reader.Get<std::uint32_t>("Light Data"), 7u);
}

// Ten values in five blocks of 8 bytes, compressed or not. Blocks load when first reached;
// a seek passes over blocks by their stored size or the length field of their framing
// (checked later); reading on after a seek back takes every later block from its start.
TEST(IndexRead, LoadingAndPositions) {
  TestSupport::SmallBlocks small("8");
  for (bool compressed : {false, true}) {
    ContainerReader reader(TestSupport::ContainerBytes([&](RkFile& f) {
      for (std::uint32_t i = 0; i < 10; ++i) f.GetIndex().Put("A", i * 7u);
      f.GetIndex().Put("B", std::string("b"));
      if (compressed) f.SetBlockFlags("A", KivRkf::kFlagZlib);
    }));
    Index& index = reader.Index();
    auto value = [&] { return reader.Get<std::uint32_t>("A"); };
    auto states = [&] {  // per block of A: loaded, holding bytes, size unchecked
      std::string text;
      for (std::uint64_t b = 0; b < 4; ++b)
        text += std::string(index.Blocks()[b].loaded ? "l" : "-") +
                (index.Buffer(b).HasBuffer() ? "b" : "-") +
                (index.Blocks()[b].sizeUnchecked ? "u " : "- ");
      return text;
    };
    EXPECT_EQ(states(), "--- --- --- --- ");
    index.SetReadingPosition("A", 20);  // blocks 0 and 1 passed over
    EXPECT_EQ(value(), 35u);
    EXPECT_EQ(states(), compressed ? "--u --u lb- --- " : "--- --- lb- --- ");
    EXPECT_EQ(index.Buffer(1).Size(), 8u);
    index.CheckRecordedSizes();  // inflates them once and frees them again
    EXPECT_EQ(states(), "--- --- lb- --- ");
    EXPECT_EQ(value(), 42u);
    index.SetReadingPosition("A", 8);  // the first block's length: the second's start
    const std::uint32_t at8 = value();
    index.SetReadingPosition("A", 28);
    EXPECT_EQ(std::make_pair(at8, value()), std::make_pair(14u, 49u));
    index.SetReadingPosition("A", 4);
    for (std::uint32_t i = 1; i < 10; ++i) ASSERT_EQ(value(), i * 7u) << i;
    EXPECT_EQ(CodeOf([&] { value(); }), 1);
    EXPECT_EQ(Failure([&] { index.SetReadingPosition("A", 41); }), "1 Invalid block position");
    EXPECT_EQ(reader.Get<std::string>("B"), "b");
    Bytes raw{9, 9};  // a missing stream reads as nothing
    index.Get("View Points", raw.data(), 2);
    EXPECT_EQ(std::make_pair(reader.Get<std::uint32_t>("View Points", 42u), raw),
              std::make_pair(42u, Bytes{9, 9}));
  }
}

TEST(IndexRead, ALengthFieldThatLiesFailsOnceItsBlockIsChecked) {
  TestSupport::SmallBlocks small("8");
  Bytes bytes = TestSupport::ContainerBytes([](RkFile& f) {
    for (std::uint32_t i = 0; i < 10; ++i) f.GetIndex().Put("A", i * 7u);
    f.SetBlockFlags("A", KivRkf::kFlagZlib);
  });
  TestSupport::SetU32At(bytes, 2800, 12);  // block 0 says it holds 12 bytes; it inflates to 8
  for (bool seekBack : {false, true}) {
    ContainerReader reader(bytes);
    reader.Index().SetReadingPosition("A", 20);  // believed: the start of block 2
    EXPECT_EQ(Failure([&] {
                seekBack ? reader.Index().SetReadingPosition("A", 0)
                         : reader.Index().CheckRecordedSizes();
              }),
              "9 Unable to decompress block")
        << seekBack;
  }
  // Read from the start, the block is inflated before any position is counted with it.
  EXPECT_EQ(ContainerReader(bytes).Get<std::uint32_t>("A"), 0u);
}

// 20 streams: block 19 is the index block of blocks 20..219; S19 takes block 20.
TEST(IndexRead, ReaderHonoursCompressionOnAnIndexBlock) {
  const Bytes file = TestSupport::ContainerBytes([](RkFile& f) {
    for (std::uint32_t s = 0; s < 20; ++s) f.GetIndex().Put("S" + std::to_string(s), s + 100);
  });
  const std::size_t at = 2800 + 19 * 4, record19 = TestSupport::PrimaryRecordOffset(19);
  ASSERT_EQ(TestSupport::U32At(file, record19 + 133), 27804u);
  ASSERT_EQ(file[record19 + 137], 32);  // streaming
  const Bytes packed = TestSupport::Zlib(Bytes(file.begin() + at, file.begin() + at + 27804));
  Bytes rebuilt(file.begin(), file.begin() + at);
  rebuilt.insert(rebuilt.end(), packed.begin(), packed.end());
  rebuilt.insert(rebuilt.end(), file.begin() + at + 27804, file.end());
  TestSupport::SetU32At(rebuilt, record19 + 133, static_cast<std::uint32_t>(packed.size()));
  rebuilt[record19 + 137] = 33;  // streaming and zlib
  ContainerReader reader(rebuilt);
  EXPECT_EQ(reader.Index().Blocks().size(), 220u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S19") + reader.Get<std::uint32_t>("S0"), 219u);
}

}  // namespace
