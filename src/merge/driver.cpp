#include "merge/driver.hpp"

#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "kiv/log/log_manager.hpp"
#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/view_point_file.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/arrange_files.hpp"
#include "merge/command_line.hpp"
#include "merge/merge_operations.hpp"
#include "merge/merged_copy.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

int RunMoxMerge(int argc, const char* const* argv) {
  CommandLine cl = ParseCommandLine(argc, argv);
  if (cl.help) {
    std::cout << HelpText(cl.program) << std::flush;
    return kExitSuccess;
  }
  if (cl.version) {
    std::cout << "MoxMerge 2017 R1" << std::endl;
    return kExitSuccess;
  }
  if (cl.usageError) {
    std::cerr << UsageLine(cl.program) << std::endl;
    return kExitUsage;
  }
  // Merges keep their inputs until the output is written; inputs beyond the limit are
  // closed and opened again (KivRkf::OpenFilePool), which a higher limit spares.
  KivRkf::RaiseOpenFileLimit();
  Kiv::Log::SetUpLog();
  KivMox::InstallInterruptCleanup();
  ProgressScope progress;
  std::vector<std::string> inputs = cl.arrangeFiles ? ArrangeFiles(cl.inputs) : cl.inputs;
  SplitInputs split = SeparateInputs(inputs);
  if (split.moxInputs.empty()) {
    std::cerr << "No Mox files found. " << std::endl;
    return kExitNoMoxInput;
  }
  // With view point files, a merge is saved as the merged copy and read back from there.
  const bool mergedCopy = split.moxInputs.size() >= 2 && !split.viewPointInputs.empty();
  try {
    KivMox::SafeOutput::CheckTarget(cl.outputPath, mergedCopy);
    if (mergedCopy) CheckMergedCopy(cl.outputPath, inputs);
  } catch (const std::exception& e) {
    return ReportFailure(e);
  }
  // Every view point file is read before the merge starts: they are small, and a damaged one
  // then fails the run before any output is written.
  std::vector<KivMox::ViewPointFile> viewPoints;
  if (!ReadViewPointFiles(split.viewPointInputs, viewPoints)) return kExitFailure;
  const std::string merged = mergedCopy ? MergedCopyPath(cl.outputPath) : cl.outputPath;
  int result = kExitSuccess;
  if (split.moxInputs.size() >= 2) {
    result = cl.mergeAsInstances
                 ? MergeAsInstances(split.moxInputs, merged, cl.suffix, cl.autoRename,
                                    cl.matchPartNames, !cl.rewriteBlocks, mergedCopy)
                 : MergeFiles(split.moxInputs, merged, !cl.rewriteBlocks, mergedCopy);
  }
  // A failed merge leaves nothing to add view points to, and the output as it was.
  if (split.viewPointInputs.empty() || result != kExitSuccess) return result;
  return ImportViewPoints(mergedCopy ? merged : split.moxInputs.front(), std::move(viewPoints),
                          cl.outputPath, !cl.rewriteBlocks);
}

}  // namespace MoxMerge
