// Helpers shared by the tests: scratch directories, file bytes, environment guards and
// the built programs run in child processes.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kiv/util/exception.hpp"

namespace TestSupport {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system temporary directory, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or with nullptr unsets) an environment variable for the guard's lifetime.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value);
  ~EnvGuard();

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);

// Runs fn and returns the code of the Kiv::Util::Exception it throws (its description in
// *description); fails the test when it throws nothing or something else.
int CodeOf(const std::function<void()>& fn, std::string* description = nullptr);

std::string BinPath(const std::string& program);

struct Launch {
  Launch(std::string program_, std::vector<std::string> args_ = {},
         std::vector<std::string> env_ = {})
      : program(std::move(program_)), args(std::move(args_)), env(std::move(env_)) {}
  std::string program;                         // a built program, or a path with a '/'
  std::vector<std::string> args;               // the arguments after the program
  std::vector<std::string> env;                // "NAME=value", replacing this process's own
  std::vector<std::pair<int, rlim_t>> limits;  // resource limits, soft and hard alike
  bool ignoreHangup = false;                   // start with SIGHUP ignored
};

struct Outcome {
  int status = -1;    // exit status, or -1 when it did not exit
  int signal = 0;     // the signal that ended it, or 0
  bool hung = false;  // still running at the deadline (then killed)
  long peakKiB = 0;   // peak resident memory
  std::string out, err;
};

// Starts the program with stdin from /dev/null, stdout and stderr kept in files and
// SIGXFSZ ignored (a write past the file size limit fails with EFBIG, as on a full disk).
class Process {
 public:
  explicit Process(const Launch& launch);
  ~Process();  // kills a process still running
  Process(const Process&) = delete;
  pid_t Pid() const { return pid_; }
  bool Ended();  // true once the process has ended
  // Waits for the end, killing the process at the deadline.
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

}  // namespace TestSupport
