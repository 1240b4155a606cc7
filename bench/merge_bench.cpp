// Merge benchmark: makes inputs with moxsample, runs moxmerge on them and reports wall time,
// CPU time and peak resident memory of each merge beside what the same work costs at least.
//
//   merge_bench [--large] [--sizes 64,512] [--keep DIR]
//
// Sizes are MiB of heavy data per input (default 64 and 512; --large adds 2048, which needs
// about 9 GB of disk and runs for minutes). The environment variable MOX_MERGE_BENCH_SIZES
// overrides the default list. Other arguments (such as Google Benchmark flags handed to
// every benchmark) are ignored. Any merge that fails ends the benchmark with exit status 1.
//
// For every size it measures:
//   - the plain merge of two inputs, which copies their compressed heavy data blocks as they
//     are and inflates each copied block once on checking threads. Its floor, the copy
//     floor, is the wall time of cp of the two inputs to new files followed by sync, plus
//     the time libdeflate needs in this process to inflate the inputs' "Heavy Data" blocks
//     on one core divided by the number of checking threads (the hardware threads, at
//     least one);
//   - the same merge with --rewrite-blocks (every array inflated and deflated again at
//     level 6), with the old floor: libdeflate inflating every input block and deflating
//     every output block at level 6;
//   - the plain merge of the two inputs and a view point file, with and without
//     --rewrite-blocks;
//   - the merge as instances of three inputs, with the old floor.
// Once per run it also times the whole process on two small inputs (best of 10).
//
// Goals, each printed with "met" or "MISSED":
//   - small inputs: best wall time under 30 ms;
//   - 512 MiB: the plain merge takes at most 1.25 times the copy floor, and --rewrite-blocks
//     takes at least twice as long as the plain merge, with and without the view point file;
//   - 2048 MiB: the plain merge peaks at no more than 640 MiB of resident memory.
// Other sizes print their numbers without a verdict.
//
// Before each timed merge, everything written so far is synced, and the files earlier runs
// wrote are dropped from the page cache (where the kernel allows) and deleted. The inputs
// stay cached: the merges and the cp of the copy floor all read warm inputs (cp is run once
// untimed before it is timed).
#include <fcntl.h>
#include <libdeflate.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "kiv/mox/sections.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace {

std::string gBinDir;
// Removed when the benchmark gives up, unless the user asked to keep it.
std::string gScratchDir;

constexpr double kSmallGoalMs = 30;
constexpr int kRatioGoalMiB = 512;
constexpr double kCopyFloorGoal = 1.25;
constexpr double kRewriteGoal = 2;
constexpr int kPeakGoalMiB = 2048;
constexpr double kPeakGoal = 640;

[[noreturn]] void Fail(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "merge benchmark: %s\n", what.c_str());
  if (!gScratchDir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(gScratchDir, ignored);
  }
  std::exit(1);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct RunStats {
  double wall = 0;
  double cpu = 0;
  long peakKiB = 0;
  int status = -1;
};

// Runs a program (a bare name is looked up in PATH) with its output discarded.
RunStats Run(const std::vector<std::string>& args) {
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

std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

RunStats RunOrFail(const std::vector<std::string>& args) {
  RunStats r = Run(args);
  if (r.status != 0) Fail("status " + std::to_string(r.status) + " from " + Joined(args));
  return r;
}

// Gives the next timed run the same page cache state as the last: whatever was written goes
// to disk, and the files of earlier runs leave the cache (where the kernel allows) and are
// deleted. Inputs are left in the cache.
void ClearOutputs(const std::vector<std::string>& paths) {
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

// A timed merge: the outputs of earlier runs are cleared first.
RunStats Merge(const std::vector<std::string>& args, const std::vector<std::string>& previous) {
  ClearOutputs(previous);
  return RunOrFail(args);
}

struct Floor {
  double inflate = 0;
  double deflate = 0;
  std::uint64_t inBytes = 0;
  std::uint64_t outBytes = 0;
};

// Reads every zlib block of a container (only those named onlyName, when given); times its
// decompression, and (for outputs) the compression of the decompressed bytes at level 6.
void MeasureFile(const std::string& path, bool inflate, bool deflate, Floor& floor,
                 const char* onlyName = nullptr) {
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

void Report(const std::string& what, const RunStats& run, const std::vector<std::string>& inputs,
            const std::string& output) {
  Floor floor;
  for (const auto& in : inputs) MeasureFile(in, true, false, floor);
  MeasureFile(output, false, true, floor);
  double total = floor.inflate + floor.deflate;
  std::printf(
      "%-28s status %d  wall %7.2f s  cpu %7.2f s  peak %7.1f MiB  floor %7.2f s "
      "(inflate %.2f s of %.0f MiB, deflate %.2f s of %.0f MiB)  merge/floor %.3f\n",
      what.c_str(), run.status, run.wall, run.cpu, run.peakKiB / 1024.0, total, floor.inflate,
      floor.inBytes / 1048576.0, floor.deflate, floor.outBytes / 1048576.0,
      total > 0 ? run.wall / total : 0.0);
  std::fflush(stdout);
}

// Wall time of cp of the inputs to new files followed by sync; cp runs once untimed first,
// so that the timed copy reads the inputs from the cache as the merges do.
double CopySeconds(const std::vector<std::string>& inputs, const std::string& dir) {
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

const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

void PrintRatio(const char* what, double ratio, const char* goalText, bool applies, bool met) {
  if (applies)
    std::printf("  %-40s %7.3f  goal %s: %s\n", what, ratio, goalText, Verdict(met));
  else
    std::printf("  %-40s %7.3f  (goal %s set at %d MiB only)\n", what, ratio, goalText,
                kRatioGoalMiB);
}

void PrintRun(const std::string& what, const RunStats& run) {
  std::printf("%-28s status %d  wall %7.2f s  cpu %7.2f s  peak %7.1f MiB\n", what.c_str(),
              run.status, run.wall, run.cpu, run.peakKiB / 1024.0);
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
    gScratchDir = dir;
  }
  const std::string sample = gBinDir + "/moxsample", merge = gBinDir + "/moxmerge";
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::printf("merge benchmark in %s (%ld cores, %u checking threads)\n", dir.c_str(),
              sysconf(_SC_NPROCESSORS_ONLN), threads);

  // Two small inputs: the whole process.
  {
    std::string a = dir + "/small1.mox", b = dir + "/small2.mox", out = dir + "/small.out.mox";
    RunOrFail({sample, a, "--heavy-mib", "0.004", "--seed", "1"});
    RunOrFail({sample, b, "--heavy-mib", "0.004", "--seed", "2"});
    RunStats best;
    best.wall = 1e9;
    for (int i = 0; i < 10; ++i) {
      RunStats r = Merge({merge, a, b, out}, {out});
      if (r.wall < best.wall) best = r;
    }
    std::printf(
        "%-28s status %d  wall %7.2f ms (best of 10)  peak %7.1f MiB  goal < %.0f ms: "
        "%s\n",
        "small inputs", best.status, best.wall * 1000, best.peakKiB / 1024.0, kSmallGoalMs,
        Verdict(best.wall * 1000 < kSmallGoalMs));
    ClearOutputs({a, b, out});
  }
  const std::string viewPoints = dir + "/view.vpt";
  RunOrFail({sample, viewPoints, "--heavy-mib", "0.004", "--seed", "9", "--view-points", "3"});
  for (int mib : sizes) {
    const std::string m = std::to_string(mib);
    const bool ratioGoals = mib == kRatioGoalMiB;
    std::vector<std::string> inputs;
    for (int k = 1; k <= 3; ++k) {
      inputs.push_back(dir + "/in" + m + "_" + std::to_string(k) + ".mox");
      RunStats made = Run(
          {sample, inputs.back(), "--parts", "4", "--heavy-mib", m, "--seed", std::to_string(k)});
      if (made.status != 0) Fail("moxsample failed for " + m + " MiB");
    }
    const std::vector<std::string> pair = {inputs[0], inputs[1]};
    const std::string plain = dir + "/plain" + m + ".mox";
    const std::string rewritten = dir + "/rewritten" + m + ".mox";
    const std::string plainViews = dir + "/plain-views" + m + ".mox";
    const std::string rewrittenViews = dir + "/rewritten-views" + m + ".mox";
    const std::string inst = dir + "/inst" + m + ".mox";
    // A merge with view point files leaves a copy of its merged output beside it.
    const std::vector<std::string> outputs = {plain,
                                              rewritten,
                                              plainViews,
                                              plainViews + ".temp",
                                              rewrittenViews,
                                              rewrittenViews + ".temp",
                                              inst};

    // The copy floor of the plain merge.
    const double copy = CopySeconds(pair, dir);
    Floor heavy;
    for (const auto& in : pair) MeasureFile(in, true, false, heavy, KivMox::kHeavyData);
    const double copyFloor = copy + heavy.inflate / threads;

    RunStats r = Merge({merge, inputs[0], inputs[1], plain}, outputs);
    auto syncStart = std::chrono::steady_clock::now();
    sync();
    const double syncAfter = Seconds(syncStart);
    PrintRun("plain merge 2 x " + m + " MiB", r);
    std::printf(
        "  copy floor %.2f s = cp + sync %.2f s + inflate \"%s\" %.2f s (of %.0f MiB) "
        "/ %u threads; the merge's own writes then took %.2f s to sync\n",
        copyFloor, copy, KivMox::kHeavyData, heavy.inflate, heavy.inBytes / 1048576.0, threads,
        syncAfter);
    const double floorRatio = copyFloor > 0 ? r.wall / copyFloor : 0.0;
    PrintRatio("merge/copy floor", floorRatio, "<= 1.25", ratioGoals, floorRatio <= kCopyFloorGoal);
    if (mib == kPeakGoalMiB)
      std::printf("  %-40s %7.1f  goal <= %.0f MiB: %s\n", "peak MiB", r.peakKiB / 1024.0,
                  kPeakGoal, Verdict(r.peakKiB / 1024.0 <= kPeakGoal));
    std::fflush(stdout);

    RunStats rw = Merge({merge, "--rewrite-blocks", inputs[0], inputs[1], rewritten}, outputs);
    Report("--rewrite-blocks 2 x " + m + " MiB", rw, pair, rewritten);
    const double rewriteRatio = r.wall > 0 ? rw.wall / r.wall : 0.0;
    PrintRatio("rewrite/merge", rewriteRatio, ">= 2", ratioGoals, rewriteRatio >= kRewriteGoal);

    RunStats v = Merge({merge, inputs[0], inputs[1], viewPoints, plainViews}, outputs);
    PrintRun("view points 2 x " + m + " MiB", v);
    RunStats vw = Merge(
        {merge, "--rewrite-blocks", inputs[0], inputs[1], viewPoints, rewrittenViews}, outputs);
    PrintRun("  with --rewrite-blocks", vw);
    const double viewRatio = v.wall > 0 ? vw.wall / v.wall : 0.0;
    PrintRatio("rewrite/merge with view points", viewRatio, ">= 2", ratioGoals,
               viewRatio >= kRewriteGoal);
    std::fflush(stdout);

    r = Merge({merge, "--merge-as-instances", "--suffix-file-instance", inputs[0], inputs[1],
               inputs[2], inst},
              outputs);
    Report("instances 3 x " + m + " MiB", r, inputs, inst);
    ClearOutputs(outputs);
    for (const auto& f : inputs) std::filesystem::remove(f);
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
