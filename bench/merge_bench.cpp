// Merge benchmark: makes inputs with moxsample, runs moxmerge on them (plain merge of two
// inputs, merge as instances of three), and reports wall time, CPU time and peak resident
// memory of the merge beside its floor: the time libdeflate itself needs, in this process,
// to inflate exactly the input blocks and deflate exactly the output blocks at level 6.
//
//   merge_bench [--large] [--sizes 64,512] [--keep DIR]
//
// Sizes are MiB of heavy data per input (default 64 and 512; --large adds 2048). The
// environment variable MOX_MERGE_BENCH_SIZES overrides the default list. Other arguments
// (such as Google Benchmark flags handed to every benchmark) are ignored.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kiv/rkf/rkfile.hpp"

namespace {

std::string gBinDir;

struct RunStats {
  double wall = 0;
  double cpu = 0;
  long peakKiB = 0;
  int status = -1;
};

RunStats Run(const std::vector<std::string>& args) {
  RunStats stats;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int devnull = open("/dev/null", 1);
    dup2(devnull, 1);
    setenv("TESSARA_TEMP_PATH", "/nonexistent-log-dir", 1);
    dup2(devnull, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  stats.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stats.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
              usage.ru_stime.tv_usec / 1e6;
  stats.peakKiB = usage.ru_maxrss;
  stats.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return stats;
}

struct Floor {
  double inflate = 0;
  double deflate = 0;
  std::uint64_t inBytes = 0;
  std::uint64_t outBytes = 0;
};

// Reads every zlib block of a container; times its decompression, and (for outputs) the
// compression of the decompressed bytes at level 6.
void MeasureFile(const std::string& path, bool inflate, bool deflate, Floor& floor) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  auto& index = file.GetIndex();
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
      libdeflate_alloc_compressor(6), libdeflate_free_compressor);
  for (const auto& b : index.Blocks()) {
    if (!(b.flags & KivRkf::kFlagZlib) || b.storedSize < 4) continue;
    std::vector<std::uint8_t> stored(b.storedSize);
    fseeko(file.Stream(), static_cast<off_t>(b.offset), SEEK_SET);
    if (std::fread(stored.data(), 1, stored.size(), file.Stream()) != stored.size()) continue;
    std::uint32_t length = 0;
    std::memcpy(&length, stored.data(), 4);
    std::vector<std::uint8_t> raw(length);
    std::size_t produced = 0;
    auto t0 = std::chrono::steady_clock::now();
    libdeflate_zlib_decompress(d.get(), stored.data() + 4, stored.size() - 4, raw.data(),
                               raw.size(), &produced);
    auto t1 = std::chrono::steady_clock::now();
    if (inflate) {
      floor.inflate += std::chrono::duration<double>(t1 - t0).count();
      floor.inBytes += length;
    }
    if (deflate) {
      std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(c.get(), produced));
      auto t2 = std::chrono::steady_clock::now();
      libdeflate_zlib_compress(c.get(), raw.data(), produced, out.data(), out.size());
      floor.deflate += std::chrono::duration<double>(std::chrono::steady_clock::now() - t2).count();
      floor.outBytes += produced;
    }
  }
}

void Report(const std::string& what, const RunStats& run, const std::vector<std::string>& inputs,
            const std::string& output) {
  Floor floor;
  for (const auto& in : inputs) MeasureFile(in, true, false, floor);
  MeasureFile(output, false, true, floor);
  double total = floor.inflate + floor.deflate;
  std::printf("%-28s status %d  wall %7.2f s  cpu %7.2f s  peak %7.1f MiB  floor %7.2f s "
              "(inflate %.2f s of %.0f MiB, deflate %.2f s of %.0f MiB)  merge/floor %.3f\n",
              what.c_str(), run.status, run.wall, run.cpu, run.peakKiB / 1024.0, total,
              floor.inflate, floor.inBytes / 1048576.0, floor.deflate,
              floor.outBytes / 1048576.0, total > 0 ? run.wall / total : 0.0);
  std::fflush(stdout);
}

std::vector<int> ParseSizes(const std::string& text) {
  std::vector<int> sizes;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) sizes.push_back(std::atoi(item.c_str()));
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  gBinDir = std::filesystem::absolute(argv[0]).parent_path().string();
  std::vector<int> sizes = {64, 512};
  if (const char* env = std::getenv("MOX_MERGE_BENCH_SIZES")) sizes = ParseSizes(env);
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--large") sizes.push_back(2048);
    if (a == "--sizes" && i + 1 < argc) sizes = ParseSizes(argv[++i]);
    if (a == "--keep" && i + 1 < argc) keep = argv[++i];
  }
  std::string dir = keep;
  if (dir.empty()) {
    char tmpl[] = "/tmp/moxbench-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  const std::string sample = gBinDir + "/moxsample", merge = gBinDir + "/moxmerge";
  std::printf("merge benchmark in %s (%ld cores)\n", dir.c_str(), sysconf(_SC_NPROCESSORS_ONLN));

  // Two small inputs: the whole process.
  {
    std::string a = dir + "/small1.mox", b = dir + "/small2.mox", out = dir + "/small.out.mox";
    Run({sample, a, "--heavy-mib", "0.004", "--seed", "1"});
    Run({sample, b, "--heavy-mib", "0.004", "--seed", "2"});
    RunStats best;
    best.wall = 1e9;
    for (int i = 0; i < 10; ++i) {
      RunStats r = Run({merge, a, b, out});
      if (r.wall < best.wall) best = r;
    }
    std::printf("%-28s status %d  wall %7.2f ms (best of 10)  peak %7.1f MiB\n", "small inputs",
                best.status, best.wall * 1000, best.peakKiB / 1024.0);
  }
  for (int mib : sizes) {
    const std::string m = std::to_string(mib);
    std::vector<std::string> inputs;
    for (int k = 1; k <= 3; ++k) {
      inputs.push_back(dir + "/in" + m + "_" + std::to_string(k) + ".mox");
      RunStats made = Run({sample, inputs.back(), "--parts", "4", "--heavy-mib", m, "--seed",
                           std::to_string(k)});
      if (made.status != 0) {
        std::printf("moxsample failed for %s MiB\n", m.c_str());
        return 1;
      }
    }
    const std::string plain = dir + "/plain" + m + ".mox";
    RunStats r = Run({merge, inputs[0], inputs[1], plain});
    Report("plain merge 2 x " + m + " MiB", r, {inputs[0], inputs[1]}, plain);
    const std::string inst = dir + "/inst" + m + ".mox";
    r = Run({merge, "--merge-as-instances", "--suffix-file-instance", inputs[0], inputs[1],
             inputs[2], inst});
    Report("instances 3 x " + m + " MiB", r, inputs, inst);
    for (const auto& f : inputs) std::filesystem::remove(f);
    std::filesystem::remove(plain);
    std::filesystem::remove(inst);
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
