// The open-file pool shared by threads: a file in use is never closed under its user.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <thread>

#include "kiv/rkf/open_file_pool.hpp"
#include "support/container_helpers.hpp"

namespace {

using KivRkf::FileInUse;
using KivRkf::OpenFilePool;
using KivRkf::RkFile;

// Byte i of file k.
std::uint8_t ByteAt(std::size_t i, int k) {
  return static_cast<std::uint8_t>((i * 7 + k) % 251);
}

class Pooled : public ::testing::Test {
 protected:
  // Writes file k of n bytes and opens it in pool.
  void Open(int k, OpenFilePool& pool, std::size_t n = 16) {
    TestSupport::Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = ByteAt(i, k);
    TestSupport::WriteFileBytes(dir.File(std::to_string(k)), bytes);
    files[k].OpenFile(dir.File(std::to_string(k)), "rb", pool);
  }
  std::string Open() const {  // "o-o": files 0 and 2 are open
    std::string text;
    for (const RkFile& f : files) text += f.IsOpen() ? 'o' : '-';
    return text;
  }
  TestSupport::TempDir dir;
  RkFile files[3];
};

TEST_F(Pooled, AFileInUseStaysOpenAndTheOthersCloseOldestFirst) {
  OpenFilePool pool(1);
  RkFile &a = files[0], &b = files[1];
  Open(0, pool);
  {
    const FileInUse use(&a);
    Open(1, pool);
    EXPECT_EQ(Open(), "oo-");
    EXPECT_TRUE(pool.InUse(&a) && !pool.InUse(&b));
    static_cast<void>(FileInUse(&a));  // uses nest: the inner end leaves the outer use
    Open(2, pool);
    EXPECT_EQ(Open(), "o-o");
  }
  EXPECT_FALSE(pool.InUse(&a));
  // A file that is not opened for reading is not pinned.
  RkFile none;
  const FileInUse nothing(&none);
  EXPECT_FALSE(pool.InUse(&none));
  // At the end of a merge every file not in use is closed; a file in use stays open.
  {
    const FileInUse use(&files[2]);
    pool.CloseAllNewestFirst();
    EXPECT_EQ(Open(), "--o");
  }
  pool.CloseAllNewestFirst();
  EXPECT_EQ(pool.OpenCount(), 0u);
}

// Beyond capacity (by default the open-file limit less 16) the pool closes the least recently
// used file; it opens one again unless it was replaced, even by the same bytes, touched or
// removed meanwhile.
TEST_F(Pooled, ClosesTheLeastRecentlyUsedAndRefusesChangedFiles) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_TRUE(limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur <= 17 ||
              OpenFilePool().Capacity() == limit.rlim_cur - 16);
  OpenFilePool pool(2);
  for (int k = 0; k < 3; ++k) Open(k, pool);
  EXPECT_EQ(Open(), "-oo");
  files[0].EnsureOpen();
  EXPECT_EQ(Open(), "o-o");
  pool.SetCapacity(1);
  const std::string path = dir.File("0");
  for (int what = 0; what < 3; ++what) {  // replaced by the same bytes, touched by 1 ns, removed
    for (RkFile& f : files) f.CloseFile();
    Open(0, pool), Open(1, pool);
    ASSERT_EQ(Open(), "-o-") << what;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
    if (what == 0) TestSupport::WriteFileBytes(path + ".new", TestSupport::ReadFileBytes(path));
    ASSERT_EQ(what == 0   ? std::rename((path + ".new").c_str(), path.c_str())
              : what == 1 ? utimensat(AT_FDCWD, path.c_str(), times, 0)
                          : std::remove(path.c_str()),
              0);
    EXPECT_EQ(TestSupport::Failure([&] { files[0].EnsureOpen(); }),
              "9 The file \"" + path + "\" changed while it was in use")
        << what;
    EXPECT_FALSE(files[0].IsOpen()) << what;
  }
}

TEST_F(Pooled, TwoThreadsReadTheirFilesWhileEachOpensItsOwnAgain) {
  OpenFilePool pool(1);
  constexpr std::size_t kSize = 4096;
  for (int k = 0; k < 2; ++k) Open(k, pool, kSize);
  int wrong[2] = {0, 0};
  const auto reader = [&](int k) {
    std::uint8_t buffer[256];
    for (std::size_t r = 0; r < 400; ++r) {
      const std::size_t at = r * 97 % (kSize - sizeof buffer);
      // Each use reopens the file the other thread's use closed, and must not close the
      // other's file while it reads.
      const FileInUse use(&files[k]);
      std::FILE* stream = files[k].Stream();
      const bool read = stream && std::fseek(stream, static_cast<long>(at), SEEK_SET) == 0 &&
                        std::fread(buffer, 1, sizeof buffer, stream) == sizeof buffer;
      for (std::size_t i = 0; i < sizeof buffer; ++i)
        wrong[k] += !read || buffer[i] != ByteAt(at + i, k);
    }
  };
  std::thread other(reader, 1);
  reader(0);
  other.join();
  EXPECT_EQ(std::make_pair(wrong[0], wrong[1]), std::make_pair(0, 0));
}

// A file is closed only for room in its own pool. A pool that goes before its files lets
// them go: a file it closed opens again by its path when it is read, in no pool now.
TEST_F(Pooled, PoolsAreApartAndOneThatGoesFirstLetsItsFilesGo) {
  OpenFilePool other(1);
  Open(2, other);
  {
    OpenFilePool pool(1);
    Open(0, pool), Open(1, pool);
    EXPECT_EQ(Open(), "-oo");
  }
  EXPECT_TRUE(files[0].Pool() == nullptr && files[1].Pool() == nullptr &&
              files[2].Pool() == &other);
  const FileInUse use(&files[0]);
  EXPECT_EQ(Open(), "ooo");
  EXPECT_EQ(other.OpenCount(), 1u);
}

}  // namespace
