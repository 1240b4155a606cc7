// Helpers shared by the tests: scratch directories, file bytes, environment guards and
// running the built programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kiv/util/exception.hpp"

namespace TestSupport {

// A fresh directory under the system temporary directory, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
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

// Runs fn and returns the code of the Kiv::Util::Exception it throws; fails the test
// when it throws nothing or something else. The exception is stored in *caught.
int CodeOf(const std::function<void()>& fn, std::string* description = nullptr);

struct RunResult {
  int status = -1;      // exit status, or -1 when killed by a signal
  int signal = 0;       // the signal that ended the process, or 0
  std::string out;      // standard output
  std::string err;      // standard error
};
// Runs a built program (by name, from the build's bin directory) with arguments and
// extra environment entries ("NAME=value").
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});
std::string BinPath(const std::string& program);

}  // namespace TestSupport
