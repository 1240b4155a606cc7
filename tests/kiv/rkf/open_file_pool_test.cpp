// The open-file pool shared by threads: a file in use is never closed under its user, and
// files not in use are closed least recently used first.
#include <gtest/gtest.h>

#include <thread>

#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/test_support.hpp"

namespace {

using KivRkf::FileInUse;
using KivRkf::OpenFilePool;
using KivRkf::RkFile;
using TestSupport::Bytes;
using TestSupport::TempDir;

// A file of n bytes, byte i holding (i * 7 + seed) mod 251.
std::string WriteFile(const TempDir& dir, const std::string& name, std::size_t n, int seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  TestSupport::WriteFileBytes(dir.File(name), bytes);
  return dir.File(name);
}

TEST(OpenFilePool, AFileInUseStaysOpenAndTheOthersCloseOldestFirst) {
  TempDir dir;
  OpenFilePool pool(1);
  RkFile a, b, c;
  a.OpenFile(WriteFile(dir, "a", 16, 1), "rb", pool);
  {
    const FileInUse use(&a);
    b.OpenFile(WriteFile(dir, "b", 16, 2), "rb", pool);
    EXPECT_TRUE(a.IsOpen() && b.IsOpen());
    EXPECT_TRUE(pool.InUse(&a));
    EXPECT_FALSE(pool.InUse(&b));
    {
      // Uses nest: the inner end leaves the outer use in force.
      const FileInUse again(&a);
    }
    c.OpenFile(WriteFile(dir, "c", 16, 3), "rb", pool);
    EXPECT_TRUE(a.IsOpen()) << "closed while in use";
    EXPECT_FALSE(b.IsOpen());
  }
  EXPECT_FALSE(pool.InUse(&a));
  // With room for one file, opening b again closes every other file not in use.
  a.EnsureOpen();
  b.EnsureOpen();
  EXPECT_EQ(std::tuple(a.IsOpen(), b.IsOpen(), c.IsOpen()), std::tuple(false, true, false));
  {
    const FileInUse use(&a);
    EXPECT_EQ(std::tuple(a.IsOpen(), b.IsOpen()), std::tuple(true, false));
    // Read where the pool left it.
    std::uint8_t byte = 0;
    ASSERT_EQ(std::fseek(a.Stream(), 5, SEEK_SET), 0);
    ASSERT_EQ(std::fread(&byte, 1, 1, a.Stream()), 1u);
    EXPECT_EQ(byte, (5 * 7 + 1) % 251);
  }
  // A file that is not opened for reading is not pinned.
  RkFile none;
  const FileInUse nothing(&none);
  EXPECT_FALSE(pool.InUse(&none));
}

TEST(OpenFilePool, TwoThreadsReadTheirFilesWhileEachOpensItsOwnAgain) {
  TempDir dir;
  OpenFilePool pool(1);
  constexpr std::size_t kSize = 4096;
  constexpr int kReads = 400;
  RkFile files[2];
  for (int k = 0; k < 2; ++k)
    files[k].OpenFile(WriteFile(dir, std::to_string(k), kSize, k), "rb", pool);
  int wrong[2] = {0, 0};
  const auto reader = [&](int k) {
    RkFile& file = files[k];
    std::uint8_t buffer[256];
    for (int r = 0; r < kReads; ++r) {
      const std::size_t at = (static_cast<std::size_t>(r) * 97) % (kSize - sizeof buffer);
      // Each use reopens the file the other thread's use closed, and must not close the
      // other's file while it reads.
      const FileInUse use(&file);
      if (!file.Stream() || std::fseek(file.Stream(), static_cast<long>(at), SEEK_SET) != 0 ||
          std::fread(buffer, 1, sizeof buffer, file.Stream()) != sizeof buffer) {
        ++wrong[k];
        continue;
      }
      for (std::size_t i = 0; i < sizeof buffer; ++i)
        if (buffer[i] != static_cast<std::uint8_t>(((at + i) * 7 + k) % 251)) ++wrong[k];
    }
  };
  std::thread other(reader, 1);
  reader(0);
  other.join();
  EXPECT_EQ(wrong[0], 0);
  EXPECT_EQ(wrong[1], 0);
}

}  // namespace

namespace {

// A file is closed only for room in its own pool. A pool that goes before its files lets
// them go: a file it closed opens again by its path when it is read, in no pool now.
TEST(OpenFilePool, PoolsAreApartAndOneThatGoesFirstLetsItsFilesGo) {
  TempDir dir;
  RkFile a, b, c;
  OpenFilePool other(1);
  c.OpenFile(WriteFile(dir, "c", 16, 3), "rb", other);
  {
    OpenFilePool pool(1);
    a.OpenFile(WriteFile(dir, "a", 16, 1), "rb", pool);
    b.OpenFile(WriteFile(dir, "b", 16, 2), "rb", pool);
    EXPECT_EQ(std::tuple(a.IsOpen(), b.IsOpen(), c.IsOpen()), std::tuple(false, true, true));
  }
  EXPECT_TRUE(a.Pool() == nullptr && b.Pool() == nullptr && c.Pool() == &other);
  const FileInUse use(&a);
  EXPECT_TRUE(a.IsOpen() && b.IsOpen() && !a.IsContainerFile());
  EXPECT_EQ(other.OpenCount(), 1u);
}

// At the end of a merge every file not in use is closed; a file in use stays open, and a
// closed one opens again by its path when it is read once more.
TEST(OpenFilePool, ClosingAllLeavesTheFilesInUse) {
  TempDir dir;
  OpenFilePool pool(8);
  RkFile a, b, c;
  a.OpenFile(WriteFile(dir, "a", 16, 1), "rb", pool);
  b.OpenFile(WriteFile(dir, "b", 16, 2), "rb", pool);
  c.OpenFile(WriteFile(dir, "c", 16, 3), "rb", pool);
  {
    const FileInUse use(&b);
    pool.CloseAllNewestFirst();
    EXPECT_EQ(std::tuple(a.IsOpen(), b.IsOpen(), c.IsOpen()), std::tuple(false, true, false));
  }
  a.EnsureOpen();
  EXPECT_TRUE(a.IsOpen() && a.IsContainerFile() == false);
  pool.CloseAllNewestFirst();
  EXPECT_EQ(pool.OpenCount(), 0u);
}

}  // namespace
