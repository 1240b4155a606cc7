// zlib framing of blocks: u32 LE uncompressed length, then the zlib stream; damaged
// framings fail with code 9 and leave the block as it was.
#include "kiv/rkf/zlib.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_support.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using KivRkf::Block;
using TestSupport::CodeOf;

Block BlockOf(const Bytes& bytes) {
  Block b;
  if (!bytes.empty()) b.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return b;
}

Bytes BytesOf(const Block& b) {
  return b.Size() ? Bytes(b.Data(), b.Data() + b.Size()) : Bytes{};
}

Bytes Compressed(const Bytes& plain) {
  Block b = BlockOf(plain);
  KivRkf::BlockZlibCompressor()(b);
  return BytesOf(b);
}

Bytes Decompressed(const Bytes& framed) {
  Block b = BlockOf(framed);
  b.SetPosition(0u);
  KivRkf::BlockZlibUnCompressor()(b);
  EXPECT_EQ(b.Position(), b.Size());
  return BytesOf(b);
}

// Decompression fails with code 9 and the block keeps its bytes.
void ExpectUnreadable(const Bytes& framed) {
  Block b = BlockOf(framed);
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivRkf::BlockZlibUnCompressor()(b); }, &description), 9);
  EXPECT_EQ(description, "Unable to decompress block");
  EXPECT_EQ(BytesOf(b), framed);
}

TEST(Zlib, ThousandZeroBytes) {
  Bytes framed = Compressed(Bytes(1000, 0));
  ASSERT_GT(framed.size(), 6u);
  EXPECT_EQ(Bytes(framed.begin(), framed.begin() + 6), (Bytes{0xE8, 0x03, 0, 0, 0x78, 0x9C}));
  EXPECT_LT(framed.size(), 40u);
  EXPECT_EQ(Decompressed(framed), Bytes(1000, 0));
}

TEST(Zlib, CompressedSizeAndPositionAreTheFramedLength) {
  Block b = BlockOf(Bytes(300, 7));
  b.SetPosition(10u);
  KivRkf::BlockZlibCompressor()(b);
  EXPECT_EQ(b.Position(), b.Size());
  EXPECT_GE(b.Capacity(), b.Size());
}

TEST(Zlib, EmptyBlock) {
  Block never;  // nothing ever put: no buffer at all
  KivRkf::BlockZlibCompressor()(never);
  Bytes framed = BytesOf(never);
  ASSERT_GT(framed.size(), 6u);
  EXPECT_EQ(Bytes(framed.begin(), framed.begin() + 6), (Bytes{0, 0, 0, 0, 0x78, 0x9C}));
  Block b = BlockOf(framed);
  KivRkf::BlockZlibUnCompressor()(b);
  EXPECT_EQ(b.Size(), 0u);
  EXPECT_EQ(b.Position(), 0u);
}

TEST(Zlib, SmoothDataRoundTrip) {
  std::vector<float> values(300000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = std::sin(float(i) * 0.001f) * 50.0f;
  const auto* p = reinterpret_cast<const std::uint8_t*>(values.data());
  Bytes plain(p, p + values.size() * sizeof(float));
  Bytes framed = Compressed(plain);
  EXPECT_LT(framed.size(), plain.size());
  EXPECT_EQ(Decompressed(framed), plain);
}

TEST(Zlib, DamagedChecksumFails) {
  Bytes framed = Compressed(Bytes(1000, 0));
  framed.back() ^= 0x01;
  ExpectUnreadable(framed);
}

TEST(Zlib, DamagedStreamFails) {
  Bytes plain(5000);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = std::uint8_t(i * 7 + i / 13);
  Bytes framed = Compressed(plain);
  framed[8] ^= 0xFF;
  ExpectUnreadable(framed);
  Bytes cut(framed.begin(), framed.begin() + framed.size() / 2);
  ExpectUnreadable(cut);
}

TEST(Zlib, BlockShorterThanTheLengthFieldFails) {
  ExpectUnreadable({1, 0, 0});
  ExpectUnreadable({});
}

TEST(Zlib, AbsurdStatedLengthFailsBeforeAllocating) {
  Bytes framed = Compressed(Bytes(10, 1));
  framed[0] = framed[1] = framed[2] = framed[3] = 0xFF;
  ExpectUnreadable(framed);
  ExpectUnreadable({0xFF, 0xFF, 0xFF, 0xFF});
}

TEST(Zlib, StatedLengthLargerThanProducedGivesTheShorterBlock) {
  Bytes framed = Compressed(Bytes(1000, 3));
  framed[0] = 0xD0;  // 2000
  framed[1] = 0x07;
  EXPECT_EQ(Decompressed(framed), Bytes(1000, 3));
}

TEST(Zlib, StatedLengthSmallerThanProducedFails) {
  Bytes framed = Compressed(Bytes(1000, 3));
  framed[0] = 0xE7;  // 999
  ExpectUnreadable(framed);
}

}  // namespace
