// The plain merge: a new tree whose root is the group "Merge" (mergeRoot set), so that
// every loaded file shifts its identifiers past those in use and hangs its own root under
// the merge root. The first input brings its history and view points; further inputs
// bring only their nodes and data.
#include <iostream>
#include <map>
#include <memory>

#include "kiv/mox/group.hpp"
#include "kiv/mox/input_prefetch.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/merge_operations.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

int MergeFiles(const std::vector<std::string>& inputs, const std::string& output, bool adoptBlocks,
               bool replaceLink) {
  try {
    // The open inputs; declared first, it outlives the files of the trees.
    KivRkf::OpenFilePool pool;
    KivMox::Tree tree("MoxMerge", "2017 R1");
    tree.SetDeferredLoading(true);
    tree.SetNodeSetsReadAtSave(true);
    tree.SetBlockAdoption(adoptBlocks);
    auto root = std::make_unique<KivMox::Group>();
    root->name = "Merge";
    root->mergeRoot = 1;
    tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
    {
      // Later inputs are opened and their light blocks inflated while the one before loads.
      KivMox::InputPrefetch prefetch(LaterInputs(inputs), pool);
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::map<std::uint32_t, std::uint32_t> identifiers;
        if (i == 0) {
          tree.Load(inputs[i], identifiers, &pool);
          tree.SetPrefetch(&prefetch);
        } else {
          tree.LoadNodes(inputs[i], identifiers, &pool);
        }
      }
      tree.SetPrefetch(nullptr);
    }
    tree.Save(output, replaceLink);
    // Thousands of inputs close fast only newest first (OpenFilePool).
    pool.CloseAllNewestFirst();
    if (KivMox::ProgressListener* progress = KivMox::GetProgressListener()) progress->Finished();
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(e);
  }
}

}  // namespace MoxMerge
