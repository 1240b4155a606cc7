// Block growth, bounds of Get and SetPosition, and copying blocks to and from files.
#include "kiv/rkf/block.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.hpp"

namespace {

using KivRkf::Block;
using TestSupport::CodeOf;

constexpr std::uint32_t kStartDefault = 10485760;
constexpr const char* kQuantumVariable = "KORVANE_DEFAULT_MOX_BLOCK_SIZE";

// The grow quantum is process-wide and sticky: every test leaves it as the run began.
class BlockGrowth : public ::testing::Test {
 protected:
  void TearDown() override { Block::SetDefaultBlockSize(kStartDefault); }
};

void PutBytes(Block& b, std::uint32_t n) {
  std::vector<std::uint8_t> bytes(n, 0x5A);
  b.Put(bytes.data(), n);
}

// The quantum comes from the environment as strtoul reads it; unusable values leave it,
// text without digits sets 0 (every Put then grows by its own length), and a Put that
// fills the buffer exactly counts as full.
TEST_F(BlockGrowth, QuantumFromTheEnvironment) {
  struct Case {
    const char* text;  // nullptr: unset
    std::vector<std::uint32_t> puts;
    std::vector<std::uint64_t> capacities;  // after each put
    std::uint32_t quantum;                  // the default afterwards
  };
  const Case cases[] = {
      {nullptr, {1}, {kStartDefault}, kStartDefault},
      {"4096", {4096, 1, 10000}, {4096, 8192, 18192}, 4096},
      {"100", {60, 40}, {100, 200}, 100},
      {"many", {5, 3}, {5, 8}, 0},
      {"4294967295", {1}, {kStartDefault}, kStartDefault},
      {"99999999999", {1}, {kStartDefault}, kStartDefault},
      {"18446744073709551617", {1}, {kStartDefault}, kStartDefault},
      {"  +64kB", {1}, {64}, 64},
      {"16", {1000}, {1000}, 16},
  };
  for (const Case& c : cases) {
    Block::SetDefaultBlockSize(kStartDefault);
    TestSupport::EnvGuard env(kQuantumVariable, c.text);
    Block b;
    EXPECT_EQ(b.Capacity(), 0u);
    std::uint32_t size = 0;
    for (std::size_t k = 0; k < c.puts.size(); ++k) {
      PutBytes(b, c.puts[k]);
      size += c.puts[k];
      EXPECT_EQ(b.Capacity(), c.capacities[k]) << (c.text ? c.text : "unset") << " put " << k;
    }
    EXPECT_EQ(b.Size(), size);
    EXPECT_EQ(b.Position(), size);
    EXPECT_EQ(Block::DefaultBlockSize(), c.quantum) << (c.text ? c.text : "unset");
  }
}

Block BlockOf(std::uint32_t n) {
  Block b;
  for (std::uint32_t i = 0; i < n; ++i) b.Put(std::uint8_t(i));
  b.SetPosition(0u);
  return b;
}

TEST(Block, GetPastTheEndFailsAndKeepsThePosition) {
  Block b = BlockOf(10);
  b.SetPosition(7u);
  std::uint8_t out[4] = {9, 9, 9, 9};
  std::string description;
  EXPECT_EQ(CodeOf([&] { b.Get(out, 4); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_EQ(b.Position(), 7u);
  EXPECT_EQ(out[0], 9);
  b.Get(out, 3);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[2], 9);
  EXPECT_NO_THROW(b.Get(out, 0));
  EXPECT_EQ(b.Position(), 10u);
}

TEST(Block, GetOfAHugeCountDoesNotWrapAround) {
  Block b = BlockOf(10);
  b.SetPosition(5u);
  std::uint8_t out[1];
  EXPECT_EQ(CodeOf([&] { b.Get(out, 0xFFFFFFFFu); }), 1);
  EXPECT_EQ(b.Position(), 5u);
}

TEST(Block, SetPositionUpToTheSize) {
  Block b = BlockOf(10);
  EXPECT_NO_THROW(b.SetPosition(10u));
  std::string description;
  EXPECT_EQ(CodeOf([&] { b.SetPosition(11u); }, &description), 1);
  EXPECT_EQ(description, "Invalid block position");
  EXPECT_EQ(b.Position(), 10u);
  // The 64-bit form compares all 64 bits: 2^32 + 3 is not position 3.
  EXPECT_EQ(CodeOf([&] { b.SetPosition((std::uint64_t(1) << 32) + 3); }), 1);
  EXPECT_EQ(b.Position(), 10u);
  b.SetPosition(std::uint64_t(3));
  EXPECT_EQ(b.Position(), 3u);
}

TEST(Block, PutBelowTheSizeOverwritesInPlace) {
  Block b = BlockOf(6);
  b.SetPosition(2u);
  b.Put(std::uint16_t(0xBBAA));
  EXPECT_EQ(b.Size(), 6u);
  EXPECT_EQ(b.Data()[2], 0xAA);
  EXPECT_EQ(b.Data()[3], 0xBB);
  EXPECT_EQ(b.Data()[4], 4);
}

class BlockFile : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> WriteAndReadBack(const Block& b, bool withSize) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    b.Write(f, withSize);
    std::fclose(f);
    return TestSupport::ReadFileBytes(path_);
  }
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("block.bin");
};

TEST_F(BlockFile, WriteWithAndWithoutSize) {
  Block b = BlockOf(3);
  b.SetPosition(1u);  // the position plays no part
  EXPECT_EQ(WriteAndReadBack(b, true), (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 1, 2}));
  EXPECT_EQ(WriteAndReadBack(b, false), (std::vector<std::uint8_t>{0, 1, 2}));
  Block empty;
  EXPECT_EQ(WriteAndReadBack(empty, true), (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_TRUE(WriteAndReadBack(empty, false).empty());
}

TEST_F(BlockFile, WriteToAStreamOpenedForReadingFails) {
  TestSupport::WriteFileBytes(path_, {1});
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  Block b = BlockOf(3);
  std::string description;
  EXPECT_EQ(CodeOf([&] { b.Write(f, false); }, &description), 10);
  EXPECT_EQ(description, "Unable to write to file");
  std::fclose(f);
}

TEST_F(BlockFile, ReadFillsAClearedBlock) {
  TestSupport::WriteFileBytes(path_, {10, 20, 30, 40, 50});
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  std::fseek(f, 1, SEEK_SET);
  Block b = BlockOf(8);
  b.Clear();
  b.Read(f, 3);
  b.SetPosition(0u);
  EXPECT_EQ(b.Size(), 3u);
  EXPECT_EQ(b.Position(), 0u);
  EXPECT_EQ(b.Data()[0], 20);
  EXPECT_EQ(b.Data()[2], 40);
  std::fclose(f);
}

TEST_F(BlockFile, ReadAtEndOfFileFailsWithoutGrowingTheSize) {
  TestSupport::WriteFileBytes(path_, {1, 2});
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  Block b;
  std::string description;
  EXPECT_EQ(CodeOf([&] { b.Read(f, 4); }, &description), 9);
  EXPECT_EQ(description, "Unable to read from file");
  EXPECT_EQ(b.Size(), 0u);
  EXPECT_EQ(CodeOf([&] { b.Read(f, 1); }), 9);
  EXPECT_NO_THROW(b.Read(f, 0));
  std::fclose(f);
}

TEST(Block, DetachHandsOverTheBufferAndZeroesTheFields) {
  Block b = BlockOf(5);
  std::uint32_t size = 0;
  KivRkf::MallocBuffer buffer = b.Detach(size);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(buffer[4], 4);
  EXPECT_FALSE(b.HasBuffer());
  EXPECT_EQ(b.Size() + b.Position() + b.Capacity(), 0u);
}

TEST(Block, ReleaseKeepsSizeAndPositionAsARecord) {
  Block b = BlockOf(5);
  b.SetPosition(5u);
  b.Release();
  EXPECT_FALSE(b.HasBuffer());
  EXPECT_EQ(b.Size(), 5u);
  EXPECT_EQ(b.Position(), 5u);
  b.SetPosition(0u);
  std::uint8_t x;
  EXPECT_EQ(CodeOf([&] { b.Get(&x, 1); }), 1);
}

}  // namespace
