// The view point import: one Mox file is loaded, the "View Points" section of every view
// point file is added to it (groups appended in order, the current view point and the
// actions taken from each), and the result is saved under the output path. View point files
// are read whole first: a damaged one fails the import before anything is written.
#include <iostream>
#include <map>

#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/merge_operations.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

bool ReadViewPointFiles(const std::vector<std::string>& paths,
                        std::vector<KivMox::ViewPointFile>& files) {
  try {
    for (const auto& path : paths) files.push_back(KivMox::ReadViewPointFile(path));
    return true;
  } catch (const std::exception& e) {
    ReportFailure(e);
    return false;
  }
}

int ImportViewPoints(const std::string& start, const std::vector<std::string>& viewPointFiles,
                     const std::string& output, bool adoptBlocks) {
  std::vector<KivMox::ViewPointFile> viewPoints;
  if (!ReadViewPointFiles(viewPointFiles, viewPoints)) return 2;
  return ImportViewPoints(start, std::move(viewPoints), output, adoptBlocks);
}

int ImportViewPoints(const std::string& start, std::vector<KivMox::ViewPointFile> viewPoints,
                     const std::string& output, bool adoptBlocks) {
  try {
    // The open inputs; declared first, it outlives the files of the trees.
    KivRkf::OpenFilePool pool;
    KivMox::Tree tree;
    tree.SetDeferredLoading(true);
    tree.SetNodeSetsReadAtSave(true);
    tree.SetBlockAdoption(adoptBlocks);
    std::map<std::uint32_t, std::uint32_t> identifiers;
    tree.Load(start, identifiers, &pool);
    for (auto& file : viewPoints) tree.AddViewPoints(std::move(file));
    tree.Save(output);
    // Thousands of inputs close fast only newest first (OpenFilePool).
    pool.CloseAllNewestFirst();
    if (KivMox::ProgressListener* progress = KivMox::GetProgressListener()) progress->Finished();
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(e);
  }
}

}  // namespace MoxMerge
