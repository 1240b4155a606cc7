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
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

using namespace BenchSupport;

std::string gBinDir;

// Seconds libdeflate takes to inflate every zlib block of the files, on this thread.
double InflateSeconds(const std::vector<std::string>& paths) {
  Floor floor;
  for (const auto& path : paths) MeasureFile(path, true, false, floor);
  return floor.inflate;
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
  const double floor = InflateSeconds(reads);
  const double ratio = best.wall / floor;
  std::printf("%-40s wall %6.2f s  peak %7.1f MiB  floor %6.2f s  ratio %.2f (goal %.1f: %s)\n",
              what.c_str(), best.wall, best.peakKiB / 1024.0, floor, ratio, goal,
              ratio <= goal ? "met" : "MISSED");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gBenchName = "check benchmark";
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
  if (keep.empty()) gScratchDir = dir;
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
