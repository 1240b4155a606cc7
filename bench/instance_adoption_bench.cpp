// Instance merges that adopt heavy blocks: 3 copies of one model (moxsample --parts 4
// --heavy-mib M --seed 3) merged as instances with --suffix-file-instance, which copies the
// inputs' compressed blocks as they are stored, beside the same merge with --rewrite-blocks,
// for M = 128, 256 and 512. Each line gives wall time, CPU time and peak resident memory.
// The copy floor is measured as bench/merge_bench.cpp measures the plain merge's: the wall
// time of cp of the three inputs to new files followed by sync, plus the time libdeflate
// needs in this process to inflate the inputs' "Heavy Data" blocks on one core divided by
// the number of checking threads (the hardware threads, at least one). Both outputs are
// compared with moxdiff (history left out), which must find them equal.
//
//   instance_adoption_bench [--sizes 128,256,512] [--keep DIR]
//
// Other arguments are ignored. Goals at 512 MiB, each printed with "met" or "MISSED": the
// adopting merge (the median of three runs, each after a copy floor's cp) is at least 3 times
// as fast as --rewrite-blocks, takes at most 1.5 times the copy floor (the median cp), and
// peaks at no more than 640 MiB. Before each timed merge the outputs of
// earlier runs are synced, dropped from the page cache and deleted; the input stays cached.
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.hpp"
#include "kiv/mox/sections.hpp"

using namespace BenchSupport;

namespace {

constexpr int kGoalMiB = 512;
constexpr double kSpeedUpGoal = 3;
constexpr double kCopyFloorGoal = 1.5;
constexpr double kPeakGoalMiB = 640;

void Print(const std::string& what, const RunStats& r) {
  std::printf("%-40s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB\n", what.c_str(), r.wall, r.cpu,
              r.peakKiB / 1024.0);
  std::fflush(stdout);
}

void Goal(const char* what, double value, const char* goal, bool applies, bool met) {
  if (applies)
    std::printf("  %-36s %8.2f  goal %s: %s\n", what, value, goal, Verdict(met));
  else
    std::printf("  %-36s %8.2f  (goal %s set at %d MiB only)\n", what, value, goal, kGoalMiB);
}

}  // namespace

int main(int argc, char** argv) {
  gBenchName = "instance adoption benchmark";
  const std::string bin = std::filesystem::absolute(argv[0]).parent_path().string();
  std::vector<int> sizes = {128, 256, 512};
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sizes" && i + 1 < argc) sizes = ParseNumbers(argv[++i]);
    if (a == "--keep" && i + 1 < argc) keep = argv[++i];
  }
  const std::string dir = ScratchDir(keep, "moxinstadopt");
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::printf("instance adoption benchmark in %s (%u checking threads)\n", dir.c_str(), threads);
  const std::string adopted = dir + "/adopted.mox", rewritten = dir + "/rewritten.mox";
  for (int mib : sizes) {
    const std::string m = std::to_string(mib), model = dir + "/model" + m + ".mox";
    RunOrFail({bin + "/moxsample", model, "--parts", "4", "--heavy-mib", m, "--seed", "3"});
    const std::vector<std::string> inputs(3, model);
    Floor heavy;
    for (const auto& in : inputs) MeasureFile(in, true, false, heavy, KivMox::kHeavyData);
    std::vector<std::string> args = {bin + "/moxmerge", "--merge-as-instances",
                                     "--suffix-file-instance"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back(adopted);
    // The copy floor and the adopting merge side by side, three times each: the medians count.
    std::vector<double> copies, walls;
    RunStats adopt;
    for (int run = 0; run < 3; ++run) {
      copies.push_back(CopySeconds(inputs, dir));
      ClearOutputs({adopted, rewritten});
      adopt = RunOrFail(args);
      walls.push_back(adopt.wall);
      Print("instances 3 x " + m + " MiB, adopting", adopt);
    }
    const double copy = Median(copies);
    adopt.wall = Median(walls);
    const double floor = copy + heavy.inflate / threads;
    args.back() = rewritten;
    args.insert(args.begin() + 1, "--rewrite-blocks");
    sync();  // the adopting merge's output stays for moxdiff, on disk
    const RunStats rewrite = RunOrFail(args);
    Print("instances 3 x " + m + " MiB, --rewrite-blocks", rewrite);
    std::printf(
        "  copy floor %.2f s = cp + sync %.2f s (median) + inflate \"%s\" %.2f s (of %.0f MiB) / "
        "%u\n",
        floor, copy, KivMox::kHeavyData, heavy.inflate, heavy.inBytes / 1048576.0, threads);
    const bool goals = mib == kGoalMiB;
    const double speedUp = adopt.wall > 0 ? rewrite.wall / adopt.wall : 0;
    const double toFloor = floor > 0 ? adopt.wall / floor : 0;
    const double peak = adopt.peakKiB / 1024.0;
    Goal("rewrite / adopting", speedUp, ">= 3", goals, speedUp >= kSpeedUpGoal);
    Goal("adopting / copy floor", toFloor, "<= 1.5", goals, toFloor <= kCopyFloorGoal);
    Goal("adopting peak MiB", peak, "<= 640", goals, peak <= kPeakGoalMiB);
    RunOrFail({bin + "/moxdiff", adopted, rewritten, "--brief", "--ignore", "history"});
    std::printf("  moxdiff: the two outputs hold the same model\n");
    std::fflush(stdout);
    ClearOutputs({adopted, rewritten, model});
  }
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
