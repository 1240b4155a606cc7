// moxmerge when the system fails it: a write that stops part way (the file size limit,
// RLIMIT_FSIZE, with SIGXFSZ ignored, so that write() fails with EFBIG as on a full
// disk), inputs that cannot be read although their path exists (a directory, a path
// below a regular file, a dangling symbolic link, a FIFO without a writer) and a trace
// log that cannot be written. The program runs in a child process with a deadline, so a
// hang fails the test instead of stopping it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

struct LimitedRun {
  int status = -1;    // exit status, or -1 when it did not exit
  int signal = 0;     // the signal that ended it
  bool hung = false;  // still running at the deadline (then killed)
  std::string err;
};

// Runs the built program with the given environment entries, a file size limit (bytes,
// or none) and SIGXFSZ ignored; kills it when it runs past the deadline.
LimitedRun RunLimited(const std::string& program, const Names& args, const Names& env,
                      std::optional<rlim_t> fileSizeLimit, std::chrono::seconds deadline) {
  TempDir io;
  const std::string errPath = io.File("err");
  const std::string path = TestSupport::BinPath(program);
  // Everything the child needs is prepared before the fork.
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(e, 2);
    for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
    signal(SIGXFSZ, SIG_IGN);
    if (fileSizeLimit) {
      const rlimit limit = {*fileSizeLimit, *fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  LimitedRun r;
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      r.hung = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!r.hung && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (!r.hung && WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  const auto bytes = ReadFileBytes(errPath);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

// The text of a raised error, as the merge prints it.
bool HasErrorText(const std::string& err) {
  return err.find("Exception \"") != std::string::npos &&
         err.find("Description : ") != std::string::npos;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new TempDir;
    // Two models with enough array data for an output of several hundred KiB.
    for (const auto& [name, seed] : {std::pair{"a.mox", "1"}, std::pair{"b.mox", "2"}}) {
      auto run = TestSupport::RunProgram(
          "moxsample", {inputs_->File(name), "--parts", "2", "--heavy-mib", "0.4", "--seed", seed});
      ASSERT_EQ(run.status, 0) << run.err;
    }
  }
  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
  }

  static std::string Input(const std::string& name) { return inputs_->File(name); }

  // A run with a trace log in logs.
  LimitedRun Merge(const Names& args, std::optional<rlim_t> limit = std::nullopt,
                   const Names& env = {}) {
    Names all = {"TESSARA_TEMP_PATH=" + logs.Path()};
    all.insert(all.end(), env.begin(), env.end());
    return RunLimited("moxmerge", args, all, limit, std::chrono::seconds(120));
  }

  TempDir out;
  TempDir logs;
  static TempDir* inputs_;
};

TempDir* FaultInjectionTest::inputs_ = nullptr;

TEST_F(FaultInjectionTest, AWriteThatFailsPartWayLeavesNoFileAndKeepsTheOldOne) {
  // The size of the complete output, from a run without a limit.
  const std::string output = out.File("merged.mox");
  auto full = Merge({Input("a.mox"), Input("b.mox"), output});
  ASSERT_EQ(full.status, 0) << full.err;
  const auto size = static_cast<rlim_t>(ReadFileBytes(output).size());
  ASSERT_GT(size, 300000u);
  std::filesystem::remove(output);

  // The write fails in the first blocks, half way and in the last block; once with no file
  // at the output path, once with an earlier file standing there. The last block holds the
  // history with this save's time, whose compressed size differs by a few bytes from one
  // second to the next, so "the last block" is taken as its final 32 bytes, well inside
  // its ~170 bytes.
  const Bytes previous = {'k', 'e', 'e', 'p', '\n'};
  for (rlim_t limit : {rlim_t{4096}, size / 2, size - 32}) {
    for (bool existing : {false, true}) {
      if (existing) TestSupport::WriteFileBytes(output, previous);
      auto run = Merge({Input("a.mox"), Input("b.mox"), output}, limit);
      const std::string context = "limit " + std::to_string(limit) + (existing ? ", existing" : "");
      EXPECT_FALSE(run.hung) << context;
      EXPECT_EQ(run.signal, 0) << context;
      EXPECT_EQ(run.status, 2) << context << "\n" << run.err;
      EXPECT_TRUE(HasErrorText(run.err)) << context << "\n" << run.err;
      if (existing) {
        EXPECT_EQ(ReadFileBytes(output), previous) << context;
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{"merged.mox"}) << context;
        std::filesystem::remove(output);
      } else {
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{}) << context;
      }
    }
  }
}

TEST_F(FaultInjectionTest, AWriteThatFailsOnTheBackgroundThreadFailsTheMerge) {
  // Heavy data blocks of 64 KiB: full blocks are compressed and written on the second
  // thread while the merge goes on, so the failing write happens there.
  const Names smallBlocks = {"KORVANE_MAX_MOX_BLOCK_SIZE=65536"};
  const std::string output = out.File("merged.mox");
  auto full = Merge({Input("a.mox"), Input("b.mox"), output}, std::nullopt, smallBlocks);
  ASSERT_EQ(full.status, 0) << full.err;
  const auto size = static_cast<rlim_t>(ReadFileBytes(output).size());
  std::filesystem::remove(output);
  for (rlim_t limit : {rlim_t{70000}, size / 2}) {
    auto run = Merge({Input("a.mox"), Input("b.mox"), output}, limit, smallBlocks);
    const std::string context = "limit " + std::to_string(limit);
    EXPECT_EQ(run.signal, 0) << context;
    EXPECT_EQ(run.status, 2) << context << "\n" << run.err;
    EXPECT_NE(run.err.find("Unable to write to file"), std::string::npos) << context << run.err;
    EXPECT_EQ(DirectoryEntries(out.Path()), Names{}) << context;
  }
}

TEST_F(FaultInjectionTest, AnInputThatIsAlsoTheOutputStaysWholeWhenTheWriteFails) {
  const std::string input = out.File("a.mox");
  std::filesystem::copy_file(Input("a.mox"), input);
  const Bytes before = ReadFileBytes(input);
  // The merge itself would be larger than the input.
  auto run = Merge({input, Input("b.mox"), input}, static_cast<rlim_t>(before.size()));
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(HasErrorText(run.err)) << run.err;
  EXPECT_EQ(ReadFileBytes(input), before);
  EXPECT_EQ(DirectoryEntries(out.Path()), Names{"a.mox"});
  // And it still loads as it did.
  EXPECT_EQ(LoadMox(input)->GetNode(1)->name, "Sample Model");
}

TEST_F(FaultInjectionTest, ATraceLogThatCannotBeWrittenDoesNotStopTheMerge) {
  const std::string output = out.File("merged.mox");
  // The trace file's path is taken by a directory: the file cannot be created, and the
  // records written to it go nowhere.
  std::filesystem::create_directory(logs.File("MoxMerge_trace.log"));
  auto run = Merge({Input("a.mox"), Input("b.mox"), output});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ChildNames(*LoadMox(output), 1), (Names{"Sample Model", "Sample Model"}));
  std::filesystem::remove(output);

  // The trace log directory is a regular file: the log is discarded with a notice.
  const std::string notADirectory = logs.File("plain-file");
  TestSupport::WriteFileBytes(notADirectory, {'x'});
  auto discarded =
      RunLimited("moxmerge", {Input("a.mox"), Input("b.mox"), output},
                 {"TESSARA_TEMP_PATH=" + notADirectory}, std::nullopt, std::chrono::seconds(120));
  EXPECT_EQ(discarded.status, 0) << discarded.err;
  EXPECT_EQ(discarded.err, "Unable to set log file.Log information will be discorded.\n");
  EXPECT_EQ(ChildNames(*LoadMox(output), 1), (Names{"Sample Model", "Sample Model"}));
}

TEST_F(FaultInjectionTest, InputsThatExistButCannotBeReadFailCleanly) {
  std::filesystem::create_directory(out.File("folder.mox"));
  TestSupport::WriteFileBytes(out.File("plain"), {'x'});
  ASSERT_EQ(symlink(out.File("nowhere.mox").c_str(), out.File("dangling.mox").c_str()), 0);
  ASSERT_EQ(mkfifo(out.File("fifo.mox").c_str(), 0600), 0);
  const std::string output = out.File("merged.mox");
  const Names unreadable = {out.File("folder.mox"), out.File("plain/below.mox"),
                            out.File("dangling.mox"), out.File("fifo.mox")};
  const Names expectedEntries = {"dangling.mox", "fifo.mox", "folder.mox", "plain"};
  for (const auto& bad : unreadable) {
    for (bool first : {true, false}) {
      const Names args =
          first ? Names{bad, Input("a.mox"), output} : Names{Input("a.mox"), bad, output};
      auto run = Merge(args);
      const std::string context = bad + (first ? " first" : " second");
      EXPECT_FALSE(run.hung) << context;
      EXPECT_EQ(run.status, 2) << context << "\n" << run.err;
      EXPECT_TRUE(HasErrorText(run.err)) << context << "\n" << run.err;
      EXPECT_NE(run.err.find("Unable to open file \"" + bad + "\""), std::string::npos)
          << context << "\n"
          << run.err;
      EXPECT_EQ(DirectoryEntries(out.Path()), expectedEntries) << context;
    }
  }
  // A view point file that is a FIFO stops the run as well, instead of waiting for a writer.
  ASSERT_EQ(mkfifo(out.File("fifo.vpt").c_str(), 0600), 0);
  auto run = Merge({Input("a.mox"), out.File("fifo.vpt"), output});
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.status, 2) << run.err;
}

}  // namespace
