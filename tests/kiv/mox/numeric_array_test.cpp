// Numeric arrays: copies share one buffer and one loader; a new buffer is never shared
// with copies made before it.
#include "kiv/mox/numeric_array.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "kiv/mox/data_loader.hpp"

namespace {

using KivMox::NumericArray;

TEST(NumericArray, CopiesShareTheBytesAndTheLoader) {
  NumericArray a;
  std::uint8_t* bytes = a.Allocate(12);
  const std::uint32_t values[3] = {7, 8, 9};
  std::memcpy(bytes, values, 12);
  a.loader = std::make_shared<KivMox::DataLoader>();
  a.componentCount = 3;

  NumericArray b = a;
  NumericArray c;
  c = b;
  EXPECT_EQ(b.Bytes(), bytes);
  EXPECT_EQ(c.Bytes(), bytes);
  EXPECT_EQ(a.data.use_count(), 3);
  EXPECT_EQ(c.loader.get(), a.loader.get());
  EXPECT_EQ(c.ValueCount(), 3u);
  EXPECT_EQ(c.ComponentCount(), 3);
  // A change through one copy is seen through every other.
  bytes[0] = 42;
  EXPECT_EQ(c.Bytes()[0], 42);
}

TEST(NumericArray, AllocateGivesAFreshBufferThatOlderCopiesDoNotSee) {
  NumericArray a;
  a.Allocate(8)[0] = 1;
  NumericArray older = a;
  std::uint8_t* fresh = a.Allocate(16);
  EXPECT_NE(fresh, older.Bytes());
  EXPECT_EQ(older.Bytes()[0], 1);
  EXPECT_EQ(older.byteSize, 8u);
  EXPECT_EQ(a.byteSize, 16u);
  EXPECT_EQ(a.ownsData, 1);
  EXPECT_EQ(older.data.use_count(), 1);
}

TEST(NumericArray, BuffersHoldAlignedWordsForAnyByteSize) {
  for (std::uint64_t size : {0u, 1u, 3u, 4u, 5u, 4096u}) {
    NumericArray a;
    std::uint8_t* bytes = a.Allocate(size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % alignof(std::uint32_t), 0u);
    std::memset(bytes, 0xAB, size);  // the whole byte size is writable (sanitizer checked)
    EXPECT_EQ(a.ValueCount(), size / 4);
  }
}

}  // namespace
