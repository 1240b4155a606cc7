// Memory of instance merges that write every block anew against the number of inputs: N
// copies of one 64 MiB model (moxsample --parts 4 --heavy-mib 64 --seed 3) merged as
// instances with --suffix-file-instance --rewrite-blocks, beside the plain merge with
// --rewrite-blocks of the same inputs, for N = 6, 12 and 24; then 4 copies of a 512 MiB model
// merged so as instances. Each line gives wall time, CPU time and peak resident memory.
// (instance_adoption_bench.cpp times the instance merges that adopt blocks.)
//
//   instance_memory_bench [--copies 6,12,24] [--large-mib 512] [--keep DIR]
//
// --large-mib 0 leaves the large merge out. Other arguments are ignored.
//
// Goals, each printed with "met" or "MISSED":
//   - at 12 and 24 copies, the instance merge peaks at most 1.25 times as high as the plain
//     merge with --rewrite-blocks;
//   - 4 copies of the 512 MiB model: the instance merge peaks at no more than 1 GiB.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.hpp"

using namespace BenchSupport;

namespace {

constexpr double kRatioGoal = 1.25;
constexpr double kLargePeakGoalMiB = 1024;

RunStats Merge(const std::string& bin, const std::vector<std::string>& options,
               const std::string& input, int copies, const std::string& output) {
  std::vector<std::string> args = {bin + "/moxmerge"};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), static_cast<std::size_t>(copies), input);
  args.push_back(output);
  std::filesystem::remove(output);
  const RunStats r = RunOrFail(args);
  std::filesystem::remove(output);
  return r;
}

void Print(const std::string& what, int copies, const RunStats& r) {
  std::printf("%-36s %3d inputs  wall %7.2f s  cpu %7.2f s  peak %7.1f MiB\n", what.c_str(), copies,
              r.wall, r.cpu, r.peakKiB / 1024.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gBenchName = "instance memory benchmark";
  const std::string bin = std::filesystem::absolute(argv[0]).parent_path().string();
  std::vector<int> copies = {6, 12, 24};
  int largeMiB = 512;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--copies" && i + 1 < argc) copies = ParseNumbers(argv[++i]);
    if (a == "--large-mib" && i + 1 < argc) largeMiB = std::atoi(argv[++i]);
    if (a == "--keep" && i + 1 < argc) keep = argv[++i];
  }
  const std::string dir = ScratchDir(keep, "moxinstances");
  const std::string model = dir + "/big.mox", output = dir + "/out.mox";
  RunOrFail({bin + "/moxsample", model, "--parts", "4", "--heavy-mib", "64", "--seed", "3"});
  std::printf("instance memory benchmark in %s: copies of %s (%ju bytes)\n", dir.c_str(),
              model.c_str(), static_cast<std::uintmax_t>(std::filesystem::file_size(model)));
  const std::vector<std::string> instances = {"--merge-as-instances", "--suffix-file-instance",
                                              "--rewrite-blocks"};
  for (int n : copies) {
    const RunStats plain = Merge(bin, {"--rewrite-blocks"}, model, n, output);
    Print("plain --rewrite-blocks", n, plain);
    const RunStats inst = Merge(bin, instances, model, n, output);
    Print("instances --suffix", n, inst);
    const double ratio = plain.peakKiB > 0 ? double(inst.peakKiB) / plain.peakKiB : 0;
    if (n == 12 || n == 24)
      std::printf("  peak of instances / plain --rewrite-blocks at %d  %5.2f  goal <= %.2f: %s\n",
                  n, ratio, kRatioGoal, Verdict(ratio <= kRatioGoal));
    else
      std::printf("  peak of instances / plain --rewrite-blocks at %d  %5.2f\n", n, ratio);
  }
  if (largeMiB > 0) {
    const std::string large = dir + "/large.mox";
    RunOrFail({bin + "/moxsample", large, "--parts", "4", "--heavy-mib", std::to_string(largeMiB),
               "--seed", "3"});
    const RunStats inst = Merge(bin, instances, large, 4, output);
    Print("instances --suffix, " + std::to_string(largeMiB) + " MiB", 4, inst);
    if (largeMiB == 512)
      std::printf("  peak at 4 x 512 MiB  %7.1f MiB  goal <= %.0f MiB: %s\n", inst.peakKiB / 1024.0,
                  kLargePeakGoalMiB, Verdict(inst.peakKiB / 1024.0 <= kLargePeakGoalMiB));
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
