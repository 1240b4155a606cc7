// Numeric arrays: copies share one buffer and one loader; a new buffer is aligned, fully
// writable and never shared with copies made before it.
#include "kiv/mox/numeric_array.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "kiv/mox/data_loader.hpp"

namespace {

using KivMox::NumericArray;

TEST(NumericArray, CopiesShareTheBufferUntilAllocateGivesAFreshOne) {
  NumericArray a;
  a.Allocate(8)[0] = 1;
  a.loader = std::make_shared<KivMox::DataLoader>();
  a.componentCount = 3;
  NumericArray older;
  older = a;
  EXPECT_EQ(older.Bytes(), a.Bytes());
  EXPECT_EQ(older.loader.get(), a.loader.get());
  EXPECT_EQ(older.ComponentCount(), 3);
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
