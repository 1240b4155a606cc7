#include "support/test_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

namespace TestSupport {

std::string BinPath(const std::string& program) {
  return std::string(MOX_BIN_DIR) + "/" + program;
}

int CodeOf(const std::function<void()>& fn, std::string* description) {
  try {
    fn();
    ADD_FAILURE() << "no exception was thrown";
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
  }
  return -1;
}

Process::Process(const Launch& launch) {
  // Everything the child needs is prepared before the fork.
  const std::string path = BinPath(launch.program), out = io_.File("out"), err = io_.File("err");
  std::vector<std::string> env = launch.env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
    if (std::none_of(launch.env.begin(), launch.env.end(),
                     [&](const std::string& x) { return x.rfind(name, 0) == 0; }))
      env.push_back(entry);
  }
  std::vector<char*> argv = {const_cast<char*>(path.c_str())}, envp;
  for (const auto& a : launch.args) argv.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr), envp.push_back(nullptr);
  if ((pid_ = fork()) != 0) return;
  const int fds[3] = {open("/dev/null", O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                      open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
  for (int fd : {0, 1, 2}) dup2(fds[fd], fd), close(fds[fd]);
  signal(SIGXFSZ, SIG_IGN);
  if (launch.ignoreHangup) signal(SIGHUP, SIG_IGN);
  for (const auto& [resource, value] : launch.limits) {
    const rlimit limit = {value, value};
    if (setrlimit(resource, &limit) != 0) _exit(126);
  }
  execve(path.c_str(), argv.data(), envp.data());
  _exit(127);
}

Process::~Process() {
  if (pid_ > 0 && !Ended()) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
}

Outcome Process::Wait(std::chrono::seconds deadline) {
  Outcome r;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!Ended() && !(r.hung = std::chrono::steady_clock::now() >= end))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (r.hung) kill(pid_, SIGKILL), done_ = wait4(pid_, &status_, 0, &usage_) == pid_;
  r.peakKiB = usage_.ru_maxrss;
  if (!r.hung && WIFEXITED(status_)) r.status = WEXITSTATUS(status_);
  if (!r.hung && WIFSIGNALED(status_)) r.signal = WTERMSIG(status_);
  for (auto [name, text] : {std::pair{"out", &r.out}, {"err", &r.err}}) {
    const auto bytes = ReadFileBytes(io_.File(name));
    text->assign(bytes.begin(), bytes.end());
  }
  return r;
}

}  // namespace TestSupport
