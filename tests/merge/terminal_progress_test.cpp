// The progress line on a terminal: stderr is pointed at a pseudo-terminal (and at a pipe
// for the case where nothing may be shown), and what reaches the other side is read back.
#include "merge/terminal_progress.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// Points stderr at another descriptor for its lifetime.
class StderrTo {
 public:
  explicit StderrTo(int fd) : saved_(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    dup2(fd, STDERR_FILENO);
  }
  ~StderrTo() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// Runs fn with stderr on a pseudo-terminal in raw mode and returns what arrived there;
// false when the machine has no pseudo-terminal.
bool OnTerminal(const std::function<void()>& fn, std::string& text) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0) return close(master), false;
  termios mode{};
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  {
    StderrTo redirect(slave);
    fn();
  }
  pollfd p{master, POLLIN, 0};
  char buffer[4096];
  for (ssize_t n; poll(&p, 1, 100) > 0 && (p.revents & POLLIN) &&
                  (n = read(master, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(slave);
  close(master);
  return true;
}

const std::string kClear = "\r\033[K";
void AfterASecond() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
}

TEST(TerminalProgress, ShowsOneUpdatingLineAfterASecondAndClearsIt) {
  std::string text;
  if (!OnTerminal(
          [] {
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
          },
          text))
    GTEST_SKIP() << "no pseudo-terminal on this machine";
  EXPECT_EQ(text, kClear + "moxmerge: reading second.mox" + kClear +
                      "moxmerge: writing output 1.0 of 4.0 MiB (25%)" + kClear +
                      "moxmerge: writing output 4.0 of 4.0 MiB (100%)" + kClear);
  EXPECT_EQ(KivMox::GetProgressListener(), nullptr);  // the scope took it away

  // Long paths are cut to one line; the destructor clears it.
  text.clear();
  OnTerminal(
      [] {
        MoxMerge::TerminalProgress progress;
        AfterASecond();
        progress.Reading(std::string(200, 'x') + ".mox");
      },
      text);
  ASSERT_EQ(text.size(), kClear.size() + 78 + kClear.size());
  EXPECT_EQ(text.substr(kClear.size() + 75, 3), "...");
  EXPECT_EQ(text.substr(text.size() - kClear.size()), kClear);

  // A failure clears the line before its text.
  text.clear();
  int status = 0;
  OnTerminal(
      [&] {
        MoxMerge::ProgressScope scope;
        AfterASecond();
        KivMox::GetProgressListener()->Writing(0, 10);
        status = MoxMerge::ReportFailure(std::runtime_error("the error text"));
      },
      text);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(text,
            kClear + "moxmerge: writing output 0.0 of 0.0 MiB (0%)" + kClear + "the error text\n");
}

TEST(TerminalProgress, NothingWhenStderrIsNotATerminal) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  {
    StderrTo redirect(pipe_fds[1]);
    MoxMerge::ProgressScope scope;
    EXPECT_EQ(KivMox::GetProgressListener(), nullptr);
  }
  close(pipe_fds[1]);
  char c;
  EXPECT_EQ(read(pipe_fds[0], &c, 1), 0);
  close(pipe_fds[0]);
}

}  // namespace
