// moxmerge interrupted while it writes: SIGINT, SIGTERM and SIGHUP remove the temporary
// file and end the process by the signal, leaving the old output as it was; a merge started
// with SIGHUP ignored lives through one.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::TempDir;

const Bytes kOld = {'o', 'l', 'd'};

class InterruptTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new TempDir;
    // Values that barely compress, so that writing the merge takes a while.
    std::vector<float> values(6u << 20);
    std::uint32_t x = 12345;
    for (float& v : values) {
      x = x * 1664525u + 1013904223u;
      v = static_cast<float>(x >> 8);
    }
    Model model("big");
    model.AddGeometry(1, "part", {FloatArray("noise", values)});
    model.Save(inputs_->File("big.mox"));
  }
  static void TearDownTestSuite() { delete inputs_; }

  // Starts a merge of two copies of the input into out.mox (which holds "old").
  pid_t Start(bool ignoreHangup) {
    TestSupport::WriteFileBytes(Output(), kOld);
    const std::string program = TestSupport::BinPath("moxmerge");
    const std::string input = inputs_->File("big.mox");
    const std::string output = Output();
    const std::string env = "TESSARA_TEMP_PATH=" + logs.Path();
    const pid_t pid = fork();
    if (pid == 0) {
      const int devnull = open("/dev/null", O_RDWR);
      for (int fd : {0, 1, 2}) dup2(devnull, fd);
      putenv(const_cast<char*>(env.c_str()));
      if (ignoreHangup) signal(SIGHUP, SIG_IGN);
      execl(program.c_str(), program.c_str(), input.c_str(), input.c_str(), output.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  // Waits until the hidden temporary file exists, or the merge ended; true for the first.
  bool AwaitTemporaryFile(pid_t pid) {
    for (int i = 0; i < 60000; ++i) {
      if (DirectoryEntries(dir.Path()).size() > 1) return true;
      if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  std::string Output() const { return dir.File("out.mox"); }

  static TempDir* inputs_;
  TempDir dir;
  TempDir logs;
};

TempDir* InterruptTest::inputs_ = nullptr;

TEST_F(InterruptTest, ASignalRemovesTheTemporaryFileAndEndsTheMerge) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t pid = Start(false);
    ASSERT_TRUE(AwaitTemporaryFile(pid)) << "the merge ended before it could be interrupted";
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(DirectoryEntries(dir.Path()), Names{"out.mox"}) << sig;
    EXPECT_EQ(TestSupport::ReadFileBytes(Output()), kOld);
  }
}

TEST_F(InterruptTest, AnIgnoredHangupIsLivedThrough) {
  const pid_t pid = Start(true);
  ASSERT_TRUE(AwaitTemporaryFile(pid)) << "the merge ended before it could be interrupted";
  kill(pid, SIGHUP);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(DirectoryEntries(dir.Path()), Names{"out.mox"});
  EXPECT_EQ(ChildNames(*LoadMox(Output()), 1), (Names{"big", "big"}));
}

}  // namespace
