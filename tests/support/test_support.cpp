#include "support/test_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace TestSupport {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "moxtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission on anything a test locked, then remove.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    chmod(it->path().c_str(), 0700);
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ec);
}

namespace {
void SetEnv(const char* name, const char* value) {
  value ? setenv(name, value, 1) : unsetenv(name);
}
}  // namespace

EnvGuard::EnvGuard(const char* name, const char* value)
    : name_(name), had_(std::getenv(name)), old_(had_ ? std::getenv(name) : "") {
  SetEnv(name, value);
}

EnvGuard::~EnvGuard() {
  SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int CodeOf(const std::function<void()>& fn, std::string* description) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return -2;
  }
  ADD_FAILURE() << "no exception was thrown";
  return -1;
}

std::string BinPath(const std::string& program) {
  return std::string(MOX_BIN_DIR) + "/" + program;
}

Process::Process(const Launch& launch) {
  const std::string path =
      launch.program.find('/') == std::string::npos ? BinPath(launch.program) : launch.program;
  // Everything the child needs is prepared before the fork.
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
  const std::string out = io_.File("out"), err = io_.File("err");
  pid_ = fork();
  if (pid_ != 0) return;
  const int fds[3] = {open("/dev/null", O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                      open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
  for (int fd : {0, 1, 2}) dup2(fds[fd], fd);
  for (int fd : fds) close(fd);
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
  if (pid_ > 0 && !Ended()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Process::Ended() {
  if (!done_) done_ = wait4(pid_, &status_, WNOHANG, &usage_) == pid_;
  return done_;
}

Outcome Process::Wait(std::chrono::seconds deadline) {
  Outcome r;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!Ended()) {
    if (std::chrono::steady_clock::now() >= end) {
      r.hung = true;
      kill(pid_, SIGKILL);
      done_ = wait4(pid_, &status_, 0, &usage_) == pid_;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!r.hung && WIFEXITED(status_)) r.status = WEXITSTATUS(status_);
  if (!r.hung && WIFSIGNALED(status_)) r.signal = WTERMSIG(status_);
  r.peakKiB = usage_.ru_maxrss;
  for (auto [name, text] : {std::pair{"out", &r.out}, {"err", &r.err}}) {
    const auto bytes = ReadFileBytes(io_.File(name));
    text->assign(bytes.begin(), bytes.end());
  }
  return r;
}

}  // namespace TestSupport
