// Where a save writes: devices in place, FIFOs and sockets refused, and an unwritable
// directory with a writable output.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/tree.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

using namespace KivMox;
using TestSupport::CodeOf;
using TestSupport::TempDir;

namespace {

const std::vector<std::uint8_t> kOld = {'o', 'l', 'd'};

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs fn in a child process and returns its wait status.
template <class Fn>
int InChild(Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST(SafeOutput, TargetsThatCannotTakeAContainerAreRefused) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.File("sock").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::filesystem::create_symlink("fifo", dir.File("link"));
  struct Case {
    std::string path;
    bool readBack;
    bool refused;
  };
  const Case cases[] = {
      {dir.File("fifo"), false, true},
      {dir.File("sock"), false, true},
      {dir.File("link"), false, true},
      {"/dev/null", true, true},
      {"/dev/null", false, false},
      {dir.File("new.mox"), true, false},
      {dir.File("missing/x.mox"), true, false},
  };
  for (const Case& c : cases) {
    std::string description;
    if (c.refused) {
      EXPECT_EQ(CodeOf([&] { SafeOutput::CheckTarget(c.path, c.readBack); }, &description), 16)
          << c.path;
      EXPECT_NE(description.find(c.path), std::string::npos) << description;
    } else {
      EXPECT_NO_THROW(SafeOutput::CheckTarget(c.path, c.readBack)) << c.path;
    }
  }
  Tree tree;
  TestSupport::BuildRichTree(tree);
  EXPECT_EQ(CodeOf([&] { tree.Save(dir.File("fifo")); }), 16);
  close(sock);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"fifo", "link", "sock"}));
}

TEST(SafeOutput, ADeviceIsWrittenInPlaceAndKept) {
  if (geteuid() != 0) GTEST_SKIP() << "mknod needs root";
  TempDir dir;
  const std::string device = dir.File("null");
  ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  Tree tree;
  TestSupport::BuildRichTree(tree);
  tree.Save(device);
  struct stat st;
  ASSERT_EQ(lstat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"null"}));
}

// As an unprivileged user: the directory refuses new files, the output itself is writable.
TEST(SafeOutput, AWritableOutputInALockedDirectoryIsWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  TempDir dir;
  const uid_t nobody = 65534;
  chmod(dir.Path().c_str(), 0755);
  const std::string locked = dir.File("locked");
  std::filesystem::create_directory(locked);
  chmod(locked.c_str(), 0755);
  const std::string output = locked + "/out.mox";
  const std::string input = locked + "/in.mox";
  {
    Tree tree;
    TestSupport::BuildRichTree(tree);
    tree.Save(input);
  }
  TestSupport::WriteFileBytes(output, kOld);
  ASSERT_EQ(chown(output.c_str(), nobody, nobody), 0);
  ASSERT_EQ(chown(input.c_str(), nobody, nobody), 0);
  const auto before = TestSupport::ReadFileBytes(input);

  auto asNobody = [&](const std::string& from, const std::string& to) {
    return InChild([&] {
      if (setgid(nobody) != 0 || setuid(nobody) != 0) return 9;
      Tree tree;
      Tree::IdentifierMap ids;
      tree.Load(from, ids);
      try {
        tree.Save(to);
      } catch (const Kiv::Util::Exception& e) {
        return static_cast<int>(e.GetCode());
      }
      return 0;
    });
  };
  // The output that is also the input is never truncated.
  int status = asNobody(input, input);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 16);
  EXPECT_EQ(TestSupport::ReadFileBytes(input), before);

  status = asNobody(input, output);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  Tree written, original;
  Tree::IdentifierMap ids;
  written.Load(output, ids);
  original.Load(input, ids);
  EXPECT_EQ(TestSupport::DescribeTree(written, false), TestSupport::DescribeTree(original, false));
  struct stat st;
  ASSERT_EQ(stat(output.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, nobody);
  EXPECT_EQ(Listing(locked), (std::vector<std::string>{"in.mox", "out.mox"}));
}

}  // namespace
