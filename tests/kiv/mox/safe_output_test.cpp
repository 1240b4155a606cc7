// Where a save writes: a new file renamed over the output, devices in place, FIFOs and
// sockets refused, a writable output in a locked directory, failures that leave the old
// output and no temporary file, and the interrupt cleanup.
#include "kiv/mox/safe_output.hpp"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

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

// The code of the failure of a save of the rich tree from a child process, 0 without one.
template <class Setup>
int SaveInChild(const std::string& from, const std::string& to, Setup setup) {
  const int status = InChild([&] {
    if (!setup()) return 99;
    Tree tree;
    Tree::IdentifierMap ids;
    try {
      if (from.empty())
        TestSupport::BuildRichTree(tree);
      else
        tree.Load(from, ids);
      tree.Save(to);
    } catch (const Kiv::Util::Exception& e) {
      return static_cast<int>(e.GetCode());
    }
    return 0;
  });
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SafeOutput, FailedSavesLeaveTheOldOutputAndNoTemporaryFile) {
  TempDir dir;
  Tree tree;
  TestSupport::BuildRichTree(tree);
  EXPECT_EQ(CodeOf([&] { tree.Save(dir.File("missing/out.mox")); }), 16);
  // A write that fails part way (file size limit) leaves the old output untouched.
  TestSupport::WriteFileBytes(dir.File("out.mox"), kOld);
  EXPECT_EQ(SaveInChild("", dir.File("out.mox"),
                        [] {
                          signal(SIGXFSZ, SIG_IGN);
                          struct rlimit limit = {3000, 3000};
                          return setrlimit(RLIMIT_FSIZE, &limit) == 0;
                        }),
            10);
  EXPECT_EQ(TestSupport::ReadFileBytes(dir.File("out.mox")), kOld);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"out.mox"}));
  // Through a symbolic link the target is replaced and the link stays.
  std::filesystem::create_directory(dir.File("real"));
  std::filesystem::create_symlink("real/model.mox", dir.File("link.mox"));
  TestSupport::WriteFileBytes(dir.File("real/model.mox"), {'x'});
  tree.Save(dir.File("link.mox"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.mox")));
  Tree loaded;
  Tree::IdentifierMap ids;
  loaded.Load(dir.File("real/model.mox"), ids);
  EXPECT_EQ(loaded.GetNode(1)->name, "Model");
}

// After a save that was given up, an interrupt must not remove a file by the freed name
// of its temporary file: the heap block of that name is handed to a string naming another
// file before the signal comes.
TEST(SafeOutput, NoTemporaryIsPendingOnceTheOutputIsDestroyed) {
  TempDir dir;
  const int status = InChild([&] {
    signal(SIGTERM, SIG_DFL);
    InstallInterruptCleanup();
    auto output = std::make_unique<SafeOutput>(dir.File("out.mox"));
    std::string other = output->TemporaryPath();
    other.back() = other.back() == 'z' ? 'y' : 'z';
    TestSupport::WriteFileBytes(other, kOld);
    output.reset();
    const std::string same(other);  // the size of the freed name
    raise(SIGTERM);
    return same.empty() ? 1 : 2;
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  ASSERT_EQ(Listing(dir.Path()).size(), 1u);
  EXPECT_EQ(Listing(dir.Path())[0].substr(0, 17), ".out.mox.moxsave-");
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
  const std::tuple<std::string, bool, bool> cases[] = {// path, read back, refused
                                                       {dir.File("fifo"), false, true},
                                                       {dir.File("sock"), false, true},
                                                       {dir.File("link"), false, true},
                                                       {"/dev/null", true, true},
                                                       {"/dev/null", false, false},
                                                       {dir.File("new.mox"), true, false},
                                                       {dir.File("missing/x.mox"), true, false}};
  for (const auto& [path, readBack, refused] : cases) {
    std::string description;
    if (refused) {
      EXPECT_EQ(CodeOf([&] { SafeOutput::CheckTarget(path, readBack); }, &description), 16);
      EXPECT_NE(description.find(path), std::string::npos) << description;
    } else {
      EXPECT_NO_THROW(SafeOutput::CheckTarget(path, readBack)) << path;
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
  EXPECT_TRUE(S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3));
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
  const std::string output = locked + "/out.mox", input = locked + "/in.mox";
  Tree tree;
  TestSupport::BuildRichTree(tree);
  tree.Save(input);
  TestSupport::WriteFileBytes(output, kOld);
  ASSERT_EQ(chown(output.c_str(), nobody, nobody), 0);
  ASSERT_EQ(chown(input.c_str(), nobody, nobody), 0);
  const auto before = TestSupport::ReadFileBytes(input);
  auto asNobody = [&] { return setgid(nobody) == 0 && setuid(nobody) == 0; };
  // The output that is also the input is never truncated.
  EXPECT_EQ(SaveInChild(input, input, asNobody), 16);
  EXPECT_EQ(TestSupport::ReadFileBytes(input), before);
  EXPECT_EQ(SaveInChild(input, output, asNobody), 0);
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
