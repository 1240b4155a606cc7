// What the benchmark programs share: running a built program with its time, CPU time and
// peak memory, giving up with a message, the same page cache state before each timed run, the
// time cp takes to copy inputs, and the floor of libdeflate's own work on the blocks of a
// container.
#pragma once

#include <fcntl.h>
#include <libdeflate.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "kiv/rkf/rkfile.hpp"

namespace BenchSupport {

// The name messages start with, and a directory removed when the benchmark gives up (empty
// when the user asked to keep it).
inline std::string gBenchName = "benchmark";
inline std::string gScratchDir;

[[noreturn]] inline void Fail(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", gBenchName.c_str(), what.c_str());
  if (!gScratchDir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(gScratchDir, ignored);
  }
  std::exit(1);
}

inline const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

// The directory a benchmark works in: keep when the user named one (left in place), else a
// new one under /tmp named after prefix, removed when the benchmark gives up.
inline std::string ScratchDir(const std::string& keep, const std::string& prefix) {
  if (!keep.empty()) return keep;
  std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) Fail("cannot make a directory under /tmp");
  gScratchDir = tmpl;
  return tmpl;
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct RunStats {
  double wall = 0;
  double cpu = 0;
  long peakKiB = 0;
  int status = -1;
};

// Runs a program (a bare name is looked up in PATH) with its output discarded.
inline RunStats Run(const std::vector<std::string>& args) {
  // The child starts as a copy of this process and its peak memory counts that copy: give
  // freed heap back first so that the peak is the program's own.
  malloc_trim(0);
  RunStats stats;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    setenv("TESSARA_TEMP_PATH", "/nonexistent-log-dir", 1);
    dup2(devnull, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  stats.wall = Seconds(start);
  stats.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
              usage.ru_stime.tv_usec / 1e6;
  stats.peakKiB = usage.ru_maxrss;
  stats.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return stats;
}

inline std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

// The middle one of an odd number of timings.
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// "64,512" -> {64, 512}.
inline std::vector<int> ParseNumbers(const std::string& text) {
  std::vector<int> numbers;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) numbers.push_back(std::atoi(text.substr(start, comma - start).c_str()));
    start = comma + 1;
  }
  return numbers;
}

inline RunStats RunOrFail(const std::vector<std::string>& args) {
  RunStats r = Run(args);
  if (r.status != 0) Fail("status " + std::to_string(r.status) + " from " + Joined(args));
  return r;
}

// Gives the next timed run the same page cache state as the last: whatever was written goes
// to disk, and the files of earlier runs leave the cache (where the kernel allows) and are
// deleted. Inputs are left in the cache.
inline void ClearOutputs(const std::vector<std::string>& paths) {
  sync();
  for (const auto& path : paths) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      close(fd);
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  sync();
}

// Wall time of cp of the inputs to new files followed by sync; cp runs once untimed first,
// so that the timed copy reads the inputs from the cache as the merges do.
inline double CopySeconds(const std::vector<std::string>& inputs, const std::string& dir) {
  std::vector<std::string> copies;
  for (std::size_t i = 0; i < inputs.size(); ++i)
    copies.push_back(dir + "/copy" + std::to_string(i + 1) + ".mox");
  auto copyAll = [&] {
    for (std::size_t i = 0; i < inputs.size(); ++i) RunOrFail({"cp", inputs[i], copies[i]});
  };
  ClearOutputs(copies);
  copyAll();
  ClearOutputs(copies);
  auto start = std::chrono::steady_clock::now();
  copyAll();
  sync();
  double seconds = Seconds(start);
  ClearOutputs(copies);
  return seconds;
}

struct Floor {
  double inflate = 0;
  double deflate = 0;
  std::uint64_t inBytes = 0;
  std::uint64_t outBytes = 0;
};

// Reads every zlib block of a container (only those named onlyName, when given); times its
// decompression, and (for outputs) the compression of the decompressed bytes at level 6.
inline void MeasureFile(const std::string& path, bool inflate, bool deflate, Floor& floor,
                        const char* onlyName = nullptr) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  const KivRkf::BlockTable& index = file.Reader().Table();
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
      libdeflate_alloc_compressor(6), libdeflate_free_compressor);
  for (const auto& b : index.Blocks()) {
    if (!(b.flags & KivRkf::kFlagZlib) || b.storedSize < 4) continue;
    if (onlyName != nullptr && b.name != onlyName) continue;
    std::vector<std::uint8_t> stored(b.storedSize);
    fseeko(file.Stream(), static_cast<off_t>(b.offset), SEEK_SET);
    if (std::fread(stored.data(), 1, stored.size(), file.Stream()) != stored.size())
      Fail("cannot read block \"" + b.name + "\" of " + path);
    std::uint32_t length = 0;
    std::memcpy(&length, stored.data(), 4);
    std::vector<std::uint8_t> raw(length);
    std::size_t produced = 0;
    auto t0 = std::chrono::steady_clock::now();
    libdeflate_result result = libdeflate_zlib_decompress(
        d.get(), stored.data() + 4, stored.size() - 4, raw.data(), raw.size(), &produced);
    double seconds = Seconds(t0);
    // A block that does not inflate would make the floor look cheaper than it is.
    if (result != LIBDEFLATE_SUCCESS || produced != length)
      Fail("block \"" + b.name + "\" of " + path + " does not inflate");
    if (inflate) {
      floor.inflate += seconds;
      floor.inBytes += length;
    }
    if (deflate) {
      std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(c.get(), produced));
      auto t2 = std::chrono::steady_clock::now();
      libdeflate_zlib_compress(c.get(), raw.data(), produced, out.data(), out.size());
      floor.deflate += Seconds(t2);
      floor.outBytes += produced;
    }
  }
}

}  // namespace BenchSupport
