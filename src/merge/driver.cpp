#include "merge/driver.hpp"

#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "kiv/log/log_manager.hpp"
#include "kiv/mox/safe_output.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/arrange_files.hpp"
#include "merge/command_line.hpp"
#include "merge/file_copy.hpp"
#include "merge/merge_operations.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

namespace {

// After a merge with view point files, the merged output is copied to "<output>.temp"
// and read back from there. A stale copy of an earlier run is removed first, so that a
// failed copy can never import old data.
int ImportAfterMerge(const std::string& output, const std::vector<std::string>& viewPoints,
                     bool adoptBlocks) {
  const std::string temp = output + ".temp";
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) {
    std::cerr << "Unable to replace \"" << temp << "\"" << std::endl;
    return kExitFailure;
  }
  if (!CopyFile(output, temp)) {
    std::cerr << "Unable to copy \"" << output << "\" to \"" << temp << "\"" << std::endl;
    return kExitFailure;
  }
  return ImportViewPoints(temp, viewPoints, output, adoptBlocks);
}

}  // namespace

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
  try {
    // With view point files, a merged output is copied and read back.
    KivMox::SafeOutput::CheckTarget(cl.outputPath,
                                    split.moxInputs.size() >= 2 && !split.viewPointInputs.empty());
  } catch (const std::exception& e) {
    return ReportFailure(e);
  }
  int result = kExitSuccess;
  if (split.moxInputs.size() >= 2) {
    result = cl.mergeAsInstances ? MergeAsInstances(split.moxInputs, cl.outputPath, cl.suffix,
                                                    cl.autoRename, cl.matchPartNames)
                                 : MergeFiles(split.moxInputs, cl.outputPath, !cl.rewriteBlocks);
  }
  if (split.viewPointInputs.empty()) return result;
  if (split.moxInputs.size() >= 2) {
    // A failed merge leaves no new output to add view points to.
    if (result != kExitSuccess) return result;
    return ImportAfterMerge(cl.outputPath, split.viewPointInputs, !cl.rewriteBlocks);
  }
  return ImportViewPoints(split.moxInputs.front(), split.viewPointInputs, cl.outputPath,
                          !cl.rewriteBlocks);
}

}  // namespace MoxMerge
