// moxmerge interrupted while it writes: SIGINT, SIGTERM and SIGHUP remove the temporary
// file and end the process by the signal, leaving the old output as it was; a merge
// started with SIGHUP ignored lives through one.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

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

  // Merges two copies of the input into out.mox (which holds "old"), sends sig once the
  // hidden temporary file exists, and returns how the merge ended.
  Outcome Interrupt(int sig, bool ignoreHangup) {
    TestSupport::WriteFileBytes(Output(), kOld);
    const std::string input = inputs_->File("big.mox");
    Launch launch("moxmerge", {input, input, Output()}, {"TESSARA_TEMP_PATH=" + logs.Path()});
    launch.ignoreHangup = ignoreHangup;
    Process merge(launch);
    bool started = false;
    for (int i = 0; i < 60000 && !started && !merge.Ended(); ++i) {
      started = DirectoryEntries(dir.Path()).size() > 1;
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(started) << "the merge ended before it could be interrupted";
    if (started) kill(merge.Pid(), sig);
    return merge.Wait();
  }
  std::string Output() const { return dir.File("out.mox"); }

  static TempDir* inputs_;
  TempDir dir;
  TempDir logs;
};

TempDir* InterruptTest::inputs_ = nullptr;

TEST_F(InterruptTest, ASignalRemovesTheTemporaryFileAndEndsTheMerge) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const Outcome run = Interrupt(sig, false);
    EXPECT_EQ(run.signal, sig);
    EXPECT_EQ(run.status, -1) << sig;
    EXPECT_EQ(DirectoryEntries(dir.Path()), Names{"out.mox"}) << sig;
    EXPECT_EQ(TestSupport::ReadFileBytes(Output()), kOld);
  }
}

TEST_F(InterruptTest, AnIgnoredHangupIsLivedThrough) {
  const Outcome run = Interrupt(SIGHUP, true);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(DirectoryEntries(dir.Path()), Names{"out.mox"});
  EXPECT_EQ(ChildNames(*LoadTree(Output()), 1), (Names{"big", "big"}));
}

}  // namespace
