// Log lines, level filters, record bounds and the two outcomes of SetUpLog. The manager is
// process-wide, so SetUpLog runs in a child process whose standard error goes to a file.
#include "kiv/log/log_manager.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "kiv/log/raise.hpp"
#include "support/test_support.hpp"

namespace {

using Kiv::Util::LogRecord;

std::string Format(const char* file, std::uint32_t line, const std::string& message) {
  LogRecord record(LogRecord::kInfo, file, line, "M");
  record.Append(message);
  return Kiv::Log::DefaultFormatter()(record);
}

TEST(DefaultFormatter, LineIsFileNameLineAndMessage) {
  EXPECT_EQ(Format("src/kiv/mox/tree", 100, "Saving mox tree ... "),
            "tree : 100 @ Saving mox tree ... \n");
  EXPECT_EQ(Format("C:\\kiv\\rkf\\index", 464, "x"), "index : 464 @ x\n");
  EXPECT_EQ(Format("a\\b/c.cpp", 1, "m"), "c.cpp : 1 @ m\n");
  EXPECT_EQ(Format("plain", 0, ""), "plain : 0 @ \n");
}

TEST(LevelFilter, PassesItsLevelAndAbove) {
  LogRecord info(1000, "f", 1, "m"), error(2000, "f", 1, "m"), low(999, "f", 1, "m"),
      top(65535, "f", 1, "m");
  Kiv::Log::LevelFilter<1000> trace;
  Kiv::Log::LevelFilter<2000> errors;
  EXPECT_TRUE(trace(info));
  EXPECT_TRUE(trace(error));
  EXPECT_FALSE(trace(low));
  EXPECT_FALSE(errors(info));
  EXPECT_TRUE(errors(error));
  EXPECT_TRUE(errors(top));
}

TEST(LogRecord, MessageNeverExceeds5120Characters) {
  LogRecord record(LogRecord::kInfo, "f", 1, "m");
  record.Append(std::string(6000, 'a'));
  EXPECT_EQ(record.MessageLength(), 5120u);
  record.Append("more");
  EXPECT_EQ(record.MessageLength(), 5120u);

  LogRecord pieces(LogRecord::kInfo, "f", 1, "m");
  pieces.Append("Writing buffer ").Append(std::uint64_t(42)).Append(" to stream.");
  EXPECT_STREQ(pieces.message, "Writing buffer 42 to stream.");
}

struct ChildResult {
  int status = -1;
  std::string err;
};

// Runs body in a child process with standard error redirected to a file; the child's exit
// status is body's result.
ChildResult InChild(const std::string& errPath, const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    int rc = body();
    std::fflush(nullptr);
    _exit(rc);
  }
  ChildResult r;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  auto bytes = TestSupport::ReadFileBytes(errPath);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

// Sets the log up, logs one progress line and one error, and reports through its status
// whether exactly one route was added and which publisher it uses.
int SetUpAndLog(const char* publisher) {
  auto& manager = Kiv::Log::LogManager::Instance();
  std::size_t before = manager.Routes().size();
  Kiv::Log::SetUpLog();
  Kiv::Log::SetUpLog();  // a second set-up prints again but registers nothing new
  if (manager.Routes().size() != before + 1) return 10;
  if (!manager.HasPublisher(publisher)) return 11;
  KIV_LOG_INFO("Test::SetUp", "Progress message ");
  try {
    KIV_RAISE(ReadError, "Unable to read from file", "Test::SetUp");
  } catch (const Kiv::Util::Exception&) {
  }
  return 0;
}

std::vector<std::string> Lines(const std::string& path) {
  auto bytes = TestSupport::ReadFileBytes(path);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(SetUpLog, WritableDirectoryGetsTheTraceFile) {
  TestSupport::TempDir dir;
  TestSupport::TempDir io;
  auto r = InChild(io.File("err"), [&] {
    setenv("TESSARA_TEMP_PATH", dir.Path().c_str(), 1);
    return SetUpAndLog("log file");
  });
  ASSERT_EQ(r.status, 0);
  const std::string trace = dir.Path() + "/MoxMerge_trace.log";
  const std::string shown = "Writing log to \"" + trace + "\"\n";
  EXPECT_EQ(r.err, shown + shown);
  auto lines = Lines(trace);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("log_manager_test.cpp : ", 0), 0u);
  EXPECT_NE(lines[0].find(" @ Progress message "), std::string::npos);
  EXPECT_NE(lines[1].find(" @ Unable to read from file"), std::string::npos);
}

TEST(SetUpLog, EmptyTempPathFallsBackToUserProfile) {
  TestSupport::TempDir dir;
  TestSupport::TempDir io;
  auto r = InChild(io.File("err"), [&] {
    setenv("TESSARA_TEMP_PATH", "", 1);
    setenv("USERPROFILE", dir.Path().c_str(), 1);
    return SetUpAndLog("log file");
  });
  ASSERT_EQ(r.status, 0);
  const std::string shown = "Writing log to \"" + dir.Path() + "/MoxMerge_trace.log\"\n";
  EXPECT_EQ(r.err, shown + shown);
  EXPECT_EQ(Lines(dir.Path() + "/MoxMerge_trace.log").size(), 2u);
}

TEST(SetUpLog, UnwritableDirectoryDiscardsTheLog) {
  TestSupport::TempDir dir;
  TestSupport::TempDir io;
  const std::string missing = dir.File("does-not-exist");
  auto r = InChild(io.File("err"), [&] {
    setenv("TESSARA_TEMP_PATH", missing.c_str(), 1);
    return SetUpAndLog("log to null");
  });
  ASSERT_EQ(r.status, 0);
  const std::string shown = "Unable to set log file.Log information will be discorded.\n";
  EXPECT_EQ(r.err, shown + shown);
  EXPECT_FALSE(TestSupport::FileExists(missing));
}

}  // namespace
