// The progress line on a terminal: stderr is pointed at a pseudo-terminal (and at a pipe
// for the case where nothing may be shown), and what reaches the other side is read back.
#include "merge/terminal_progress.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

namespace {

// Runs fn with stderr on fd and returns what arrived at the other end, read (when it is
// not a pipe's) from a pseudo-terminal in raw mode; "no terminal" when there is none.
std::string StderrOf(const std::function<void()>& fn, bool terminal = true) {
  int fds[2];
  if (!terminal && pipe(fds) != 0) return "no pipe";
  if (terminal) {
    fds[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (fds[0] < 0 || grantpt(fds[0]) != 0 || unlockpt(fds[0]) != 0) return "no terminal";
    fds[1] = open(ptsname(fds[0]), O_RDWR | O_NOCTTY);
    termios mode{};
    tcgetattr(fds[1], &mode);
    cfmakeraw(&mode);
    tcsetattr(fds[1], TCSANOW, &mode);
  }
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  fn();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  if (!terminal) close(fds[1]);
  std::string text;
  pollfd p{fds[0], POLLIN, 0};
  char buffer[4096];
  for (ssize_t n; poll(&p, 1, 100) > 0 && (p.revents & POLLIN) &&
                  (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  if (terminal) close(fds[1]);
  close(fds[0]);
  return text;
}

const std::string kClear = "\r\033[K";
void AfterASecond() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
}

TEST(TerminalProgress, ShowsOneUpdatingLineAfterASecondAndClearsIt) {
  std::string text = StderrOf([] {
    MoxMerge::ProgressScope scope;
    KivMox::ProgressListener* progress = KivMox::GetProgressListener();
    ASSERT_NE(progress, nullptr);
    progress->Reading("first.mox");  // within the first second: nothing
    AfterASecond();
    progress->Reading("second.mox");
    progress->Writing(1048576, 4 * 1048576);
    progress->Writing(4 * 1048576, 4 * 1048576);
    progress->Finished();
    progress->Finished();  // cleared once
  });
  if (text == "no terminal") GTEST_SKIP() << "no pseudo-terminal on this machine";
  EXPECT_EQ(text, kClear + "moxmerge: reading second.mox" + kClear +
                      "moxmerge: writing output 1.0 of 4.0 MiB (25%)" + kClear +
                      "moxmerge: writing output 4.0 of 4.0 MiB (100%)" + kClear);
  EXPECT_EQ(KivMox::GetProgressListener(), nullptr);  // the scope took it away

  // Long paths are cut to one line; the destructor clears it.
  EXPECT_EQ(StderrOf([] {
              MoxMerge::TerminalProgress progress;
              AfterASecond();
              progress.Reading(std::string(200, 'x') + ".mox");
            }),
            kClear + ("moxmerge: reading " + std::string(57, 'x') + "...") + kClear);

  // A failure clears the line before its text.
  int status = 0;
  text = StderrOf([&] {
    MoxMerge::ProgressScope scope;
    AfterASecond();
    KivMox::GetProgressListener()->Writing(0, 10);
    status = MoxMerge::ReportFailure(std::runtime_error("the error text"));
  });
  EXPECT_EQ(status, 2);
  EXPECT_EQ(text,
            kClear + "moxmerge: writing output 0.0 of 0.0 MiB (0%)" + kClear + "the error text\n");
}

TEST(TerminalProgress, NothingWhenStderrIsNotATerminal) {
  EXPECT_EQ(StderrOf(
                [] {
                  MoxMerge::ProgressScope scope;
                  EXPECT_EQ(KivMox::GetProgressListener(), nullptr);
                },
                false),
            "");
}

}  // namespace
