// The open-file pool: beyond its capacity, the least recently used reading file is closed
// and opened again, with what its index read, when it is used; one changed meanwhile is
// refused with code 9.
#include "kiv/rkf/open_file_pool.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivRkf::OpenFilePool;
using TestSupport::ContainerReader;

struct CapacityGuard {
  explicit CapacityGuard(std::size_t n) : before(OpenFilePool::Instance().SetCapacity(n)) {}
  ~CapacityGuard() { OpenFilePool::Instance().SetCapacity(before); }
  std::size_t before;
};

// Streams "A" and "B", one block each, holding k * 10 and k * 10 + 1.
std::string WriteNumbered(const TestSupport::TempDir& dir, std::uint32_t k) {
  const std::string path = dir.File("f" + std::to_string(k) + ".mox");
  TestSupport::WriteContainer(path, [&](KivRkf::RkFile& f) {
    f.GetIndex().Put("A", k * 10);
    f.GetIndex().Put("B", k * 10 + 1);
  });
  return path;
}

TEST(OpenFilePool, ClosesTheLeastRecentlyUsedAndReopensWhatIsUsed) {
  TestSupport::TempDir dir;
  CapacityGuard capacity(2);
  std::vector<std::unique_ptr<ContainerReader>> files;
  for (std::uint32_t k = 0; k < 3; ++k) {
    files.push_back(std::make_unique<ContainerReader>(WriteNumbered(dir, k)));
    EXPECT_EQ(files.back()->Get<std::uint32_t>("A"), k * 10);
    EXPECT_LE(OpenFilePool::Instance().OpenCount(), 2u);
  }
  EXPECT_FALSE(files[0]->file.IsOpen());
  EXPECT_TRUE(files[1]->file.IsOpen());
  // Used again, file 0 reads on from where it was (B was never loaded); file 1 goes.
  files[0]->file.EnsureOpen();
  EXPECT_EQ(files[0]->Get<std::uint32_t>("B"), 1u);
  EXPECT_TRUE(files[2]->file.IsOpen());
  EXPECT_FALSE(files[1]->file.IsOpen());
  files[1]->file.EnsureOpen();
  EXPECT_EQ(files[1]->Get<std::uint32_t>("B"), 11u);
  EXPECT_EQ(OpenFilePool::Instance().OpenCount(), 2u);
  files.clear();
  EXPECT_EQ(OpenFilePool::Instance().OpenCount(), 0u);
}

TEST(OpenFilePool, AFileChangedWhileClosedIsRefused) {
  TestSupport::TempDir dir;
  CapacityGuard capacity(1);
  const std::string other = WriteNumbered(dir, 9);
  struct Change {
    const char* what;
    void (*apply)(const std::string& path);
  };
  const Change changes[] = {
      {"replaced by the same bytes",
       [](const std::string& path) {
         TestSupport::WriteFileBytes(path + ".new", TestSupport::ReadFileBytes(path));
         ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
       }},
      {"modification time moved by 1 ns",
       [](const std::string& path) {
         struct stat st {};
         ASSERT_EQ(stat(path.c_str(), &st), 0);
         timespec times[2] = {st.st_atim, st.st_mtim};
         times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
         ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       }},
      {"removed", [](const std::string& path) { ASSERT_EQ(std::remove(path.c_str()), 0); }},
  };
  for (const Change& change : changes) {
    const std::string path = WriteNumbered(dir, 1);
    ContainerReader file(path);
    ContainerReader second(other);
    ASSERT_FALSE(file.file.IsOpen()) << change.what;
    change.apply(path);
    std::string description;
    EXPECT_EQ(TestSupport::CodeOf([&] { file.file.EnsureOpen(); }, &description), 9) << change.what;
    EXPECT_NE(description.find("\"" + path + "\""), std::string::npos) << description;
    EXPECT_FALSE(file.file.IsOpen()) << change.what;
  }
}

}  // namespace
