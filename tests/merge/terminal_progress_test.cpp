// The progress line on a terminal: stderr is pointed at a pseudo-terminal and what
// reaches the other side is read back.
#include "merge/terminal_progress.hpp"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

namespace {

// Runs fn with stderr on a pseudo-terminal in raw mode and returns what arrived at the
// other end; "no terminal" when there is none.
std::string StderrOf(const std::function<void()>& fn) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "no terminal";
  termios mode{};
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(slave, STDERR_FILENO);
  fn();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  pollfd p{master, POLLIN, 0};
  char buffer[4096];
  for (ssize_t n; poll(&p, 1, 100) > 0 && (p.revents & POLLIN) &&
                  (n = read(master, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(slave);
  close(master);
  return text;
}

// Nothing within the first second; then one line, updated in place, cut to fit, cleared
// once when done and before a failure's text; the scope takes its listener away.
TEST(TerminalProgress, ShowsOneUpdatingLineAfterASecondAndClearsIt) {
  int status = 0;
  const std::string text = StderrOf([&] {
    MoxMerge::ProgressScope scope;
    KivMox::ProgressListener* progress = KivMox::GetProgressListener();
    ASSERT_NE(progress, nullptr);
    progress->Reading("first.mox");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    progress->Reading(std::string(200, 'x') + ".mox");
    progress->Writing(1048576, 4 * 1048576);
    progress->Finished();
    progress->Finished();
    progress->Writing(0, 10);
    status = MoxMerge::ReportFailure(std::runtime_error("the error text"));
  });
  if (text == "no terminal") GTEST_SKIP() << "no pseudo-terminal on this machine";
  const std::string clear = "\r\033[K";
  EXPECT_EQ(text, clear + "moxmerge: reading " + std::string(57, 'x') + "..." + clear +
                      "moxmerge: writing output 1.0 of 4.0 MiB (25%)" + clear + clear +
                      "moxmerge: writing output 0.0 of 0.0 MiB (0%)" + clear + "the error text\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(KivMox::GetProgressListener(), nullptr);
}

}  // namespace
