// Merges of many small inputs: N copies of one 31 KB model (moxsample --parts 3 --heavy-mib
// 0.05 --seed 7) for N = 1,000, 3,000 and 10,000, merged plainly and as instances (with
// --suffix-file-instance, and with --auto-rename-instances --match-part-names). Each line
// gives wall time, CPU time and peak resident memory. A merge's work per input is in
// proportion to that input, so time grows linearly with N (10,000 / 3,000 = 3.3).
//
//   many_inputs_bench [--counts 1000,3000,10000] [--keep DIR]
//
// Goals, each printed with "met" or "MISSED": for every kind of merge, the CPU time at the
// largest N at most 4 times the CPU time at 3,000 (when both are measured), and a peak of
// at most 400 MiB at 10,000 inputs. Any merge that fails ends the benchmark with status 1.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

using namespace BenchSupport;

constexpr double kGrowthGoal = 4;
constexpr double kPeakGoalMiB = 400;
constexpr int kPeakGoalCount = 10000;

}  // namespace

int main(int argc, char** argv) {
  gBenchName = "many inputs benchmark";
  const std::string bin = std::filesystem::absolute(argv[0]).parent_path().string();
  std::vector<int> counts = {1000, 3000, 10000};
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--counts" && i + 1 < argc) counts = ParseNumbers(argv[++i]);
    if (a == "--keep" && i + 1 < argc) keep = argv[++i];
  }
  const std::string dir = ScratchDir(keep, "moxmany");
  const std::string base = dir + "/base.mox", output = dir + "/out.mox";
  RunOrFail({bin + "/moxsample", base, "--parts", "3", "--heavy-mib", "0.05", "--seed", "7"});
  std::printf("many inputs benchmark in %s: copies of %s (%ju bytes)\n", dir.c_str(), base.c_str(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(base)));
  const std::vector<std::pair<std::string, std::vector<std::string>>> kinds = {
      {"plain", {}},
      {"instances --suffix", {"--merge-as-instances", "--suffix-file-instance"}},
      {"instances --auto-rename --match",
       {"--merge-as-instances", "--auto-rename-instances", "--match-part-names"}}};
  std::map<std::string, std::map<int, RunStats>> runs;
  for (int n : counts) {
    for (const auto& [name, options] : kinds) {
      std::vector<std::string> args = {bin + "/moxmerge"};
      args.insert(args.end(), options.begin(), options.end());
      args.insert(args.end(), static_cast<std::size_t>(n), base);
      args.push_back(output);
      std::filesystem::remove(output);
      const RunStats r = RunOrFail(args);
      runs[name][n] = r;
      std::printf("%-34s %6d inputs  wall %7.2f s  cpu %7.2f s  peak %7.1f MiB\n", name.c_str(), n,
                  r.wall, r.cpu, r.peakKiB / 1024.0);
      std::fflush(stdout);
    }
  }
  for (const auto& [name, byCount] : runs) {
    const auto at3000 = byCount.find(3000);
    const int largest = byCount.rbegin()->first;
    if (at3000 != byCount.end() && largest > 3000 && at3000->second.cpu > 0) {
      const double growth = byCount.rbegin()->second.cpu / at3000->second.cpu;
      std::printf("  %-34s cpu at %d / cpu at 3000  %6.2f  goal <= %.0f: %s\n", name.c_str(),
                  largest, growth, kGrowthGoal, Verdict(growth <= kGrowthGoal));
    }
    if (const auto at = byCount.find(kPeakGoalCount); at != byCount.end())
      std::printf("  %-34s peak at %d  %7.1f MiB  goal <= %.0f MiB: %s\n", name.c_str(),
                  kPeakGoalCount, at->second.peakKiB / 1024.0, kPeakGoalMiB,
                  Verdict(at->second.peakKiB / 1024.0 <= kPeakGoalMiB));
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
