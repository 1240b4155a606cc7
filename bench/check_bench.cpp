// Check and comparison benchmark: makes a model with moxsample and a plain merge of it with a
// second model, then times `moxinfo --check` on the model and on the merge, and `moxdiff` of
// the model against a copy of itself and against its subtree of the merge. Each is reported
// with its wall time, peak resident memory and floor: the time libdeflate needs in this
// process to inflate, on one core, every zlib block of the files the run reads.
//
//   check_bench [--mib N] [--keep DIR]
//
// N is the MiB of heavy data of the model (default 512; MOX_CHECK_BENCH_MIB overrides it).
// Goals, printed with "met" or "MISSED": the check takes at most 1.3 times its floor, the
// comparison at most 1.5 times its floor. Files stay in the page cache (each run is done once
// untimed first).
#include <fcntl.h>
#include <libdeflate.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kiv/rkf/rkfile.hpp"

namespace {

std::string gBinDir;
std::string gScratch;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "check benchmark: %s\n", what.c_str());
  if (!gScratch.empty()) std::filesystem::remove_all(gScratch);
  std::exit(1);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct RunStats {
  double wall = 0;
  long peakKiB = 0;
  int status = -1;
};

RunStats Run(const std::vector<std::string>& args) {
  malloc_trim(0);
  RunStats stats;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    setenv("TESSARA_TEMP_PATH", "/nonexistent-log-dir", 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  stats.wall = Seconds(start);
  stats.peakKiB = usage.ru_maxrss;
  stats.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return stats;
}

// Seconds libdeflate takes to inflate every zlib block of the file, on this thread.
double InflateSeconds(const std::string& path) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  double total = 0;
  for (const auto& b : file.GetIndex().Blocks()) {
    if (!(b.flags & KivRkf::kFlagZlib) || b.storedSize < 4) continue;
    std::vector<std::uint8_t> stored(b.storedSize);
    if (pread(fileno(file.Stream()), stored.data(), stored.size(), static_cast<off_t>(b.offset)) !=
        static_cast<ssize_t>(stored.size()))
      Fail("cannot read a block of " + path);
    std::uint32_t length = 0;
    std::memcpy(&length, stored.data(), 4);
    std::vector<std::uint8_t> raw(length);
    std::size_t produced = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const libdeflate_result r = libdeflate_zlib_decompress(
        d.get(), stored.data() + 4, stored.size() - 4, raw.data(), raw.size(), &produced);
    total += Seconds(t0);
    if (r != LIBDEFLATE_SUCCESS || produced != length) Fail("a block of " + path + " is damaged");
  }
  return total;
}

void Measure(const std::string& what, const std::vector<std::string>& args, int expectStatus,
             const std::vector<std::string>& reads, double goal) {
  if (Run(args).status != expectStatus) Fail("unexpected status from " + what);
  RunStats best;
  for (int i = 0; i < 3; ++i) {
    const RunStats r = Run(args);
    if (r.status != expectStatus) Fail("unexpected status from " + what);
    if (i == 0 || r.wall < best.wall) best = r;
  }
  double floor = 0;
  for (const auto& path : reads) floor += InflateSeconds(path);
  const double ratio = best.wall / floor;
  std::printf("%-40s wall %6.2f s  peak %7.1f MiB  floor %6.2f s  ratio %.2f (goal %.1f: %s)\n",
              what.c_str(), best.wall, best.peakKiB / 1024.0, floor, ratio, goal,
              ratio <= goal ? "met" : "MISSED");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gBinDir = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  int mib = 512;
  if (const char* env = std::getenv("MOX_CHECK_BENCH_MIB")) mib = std::atoi(env);
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mib") == 0 && i + 1 < argc) mib = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) keep = argv[++i];
  }
  const std::string dir = keep.empty() ? std::filesystem::temp_directory_path().string() +
                                             "/check_bench." + std::to_string(getpid())
                                       : keep;
  if (keep.empty()) gScratch = dir;
  std::filesystem::create_directories(dir);
  const std::string model = dir + "/model.mox", copy = dir + "/copy.mox",
                    other = dir + "/other.mox", merged = dir + "/merged.mox";
  const std::string bin = gBinDir + "/";
  if (Run({bin + "moxsample", model, "--parts", "6", "--heavy-mib", std::to_string(mib), "--seed",
           "1", "--view-points", "2"})
              .status != 0 ||
      Run({bin + "moxsample", other, "--parts", "2", "--heavy-mib", "8", "--seed", "2"}).status !=
          0)
    Fail("moxsample failed");
  std::filesystem::copy_file(model, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(merged);
  if (Run({bin + "moxmerge", model, other, merged}).status != 0) Fail("moxmerge failed");
  std::printf("model of %d MiB heavy data (%.0f MiB stored)\n", mib,
              std::filesystem::file_size(model) / 1048576.0);
  Measure("moxinfo --check model", {bin + "moxinfo", "--check", model}, 0, {model}, 1.3);
  Measure("moxinfo --check merged", {bin + "moxinfo", "--check", merged}, 0, {merged}, 1.3);
  if (std::filesystem::exists(bin + "moxdiff")) {
    Measure("moxdiff model copy", {bin + "moxdiff", model, copy}, 0, {model, copy}, 1.5);
    // The model's root is the first child of the merge's root, node 2.
    Measure("moxdiff merged model --left-node 2",
            {bin + "moxdiff", merged, model, "--left-node", "2"}, 0, {merged, model}, 1.5);
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
