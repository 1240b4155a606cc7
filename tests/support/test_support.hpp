// Helpers shared by the tests: scratch directories, file bytes, environment guards and
// the built programs run in child processes.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kiv/util/exception.hpp"

namespace TestSupport {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system temporary directory, removed with its content.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "moxtest-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) std::abort();
  }
  ~TempDir() { std::filesystem::remove_all(path_, error_); }
  TempDir(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::error_code error_;  // of the removal, ignored
};

// Sets (or with nullptr unsets) an environment variable for the guard's lifetime.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvGuard() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The code (and description) of the Kiv::Util::Exception that fn throws; -1 and a failure
// when it throws nothing or something else.
int CodeOf(const std::function<void()>& fn, std::string* description = nullptr);

// The path of one of the built programs.
std::string BinPath(const std::string& program);

struct Launch {
  std::string program;                              // one of the built programs
  std::vector<std::string> args = {};               // the arguments after the program
  std::vector<std::string> env = {};                // "NAME=value", replacing our own
  std::vector<std::pair<int, rlim_t>> limits = {};  // resource limits, soft and hard alike
  bool ignoreHangup = false;                        // start with SIGHUP ignored
};

struct Outcome {
  int status = -1;    // exit status, or -1 when it did not exit
  int signal = 0;     // the signal that ended it, or 0
  bool hung = false;  // still running at the deadline (then killed)
  long peakKiB = 0;   // peak resident memory
  std::string out, err;
};

// A built program run with stdin from /dev/null, stdout and stderr kept, SIGXFSZ ignored (a
// write past the size limit fails with EFBIG); killed at the deadline or at destruction.
class Process {
 public:
  explicit Process(const Launch& launch);
  ~Process();
  Process(const Process&) = delete;
  pid_t Pid() const { return pid_; }
  bool Ended() { return done_ = done_ || wait4(pid_, &status_, WNOHANG, &usage_) == pid_; }
  Outcome Wait(std::chrono::seconds deadline = std::chrono::seconds(300));

 private:
  TempDir io_;
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = 0;
  rusage usage_{};
};

inline Outcome Execute(const Launch& launch) {
  return Process(launch).Wait();
}

// Runs fn in a child process, whose exit status is what fn returns; the wait status.
template <class Fn>
int InChild(Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  return waitpid(pid, &status, 0), status;
}

}  // namespace TestSupport
