// Scratch files for the fuzz targets that feed their input to code that reads files: one
// directory per process (in /dev/shm when it exists, so that no input touches a disk),
// created on first use and removed with its content when the process ends. Each input is
// written to a file of that directory and removed again before the next input.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace FuzzScratch {

class Directory {
 public:
  Directory() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / ("moxfuzz-" + std::to_string(getpid()) + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    path_ = buf.data();
  }
  ~Directory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

  // The names in the directory, sorted; an empty list when only the named files are gone.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

// The process-wide scratch directory (destroyed at exit). On first use, blocks are also
// set to grow by 64 KiB instead of 10 MiB: the inputs are small, and ten large buffers
// per input would slow the fuzzer down many times over. How a block grows changes no
// byte that is read or written.
inline Directory& Scratch() {
  static const bool smallGrowth = setenv("KORVANE_DEFAULT_MOX_BLOCK_SIZE", "65536", 1) == 0;
  static Directory dir;
  (void)smallGrowth;
  return dir;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

// Removes the named files when it goes out of scope, whatever happened in between.
class Cleanup {
 public:
  explicit Cleanup(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  ~Cleanup() {
    for (const auto& p : paths_) std::remove(p.c_str());
  }
  Cleanup(const Cleanup&) = delete;
  Cleanup& operator=(const Cleanup&) = delete;

 private:
  std::vector<std::string> paths_;
};

}  // namespace FuzzScratch
