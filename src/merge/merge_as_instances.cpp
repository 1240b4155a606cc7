// The merge as instances: the first input is the base; every further input is loaded into
// a tree of its own, its geometry arrays are tagged with the input's position and
// appended to the matching geometry of the base.
#include <iostream>
#include <map>
#include <memory>

#include "kiv/mox/input_prefetch.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "merge/instance_tags.hpp"
#include "merge/merge_operations.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

int MergeAsInstances(const std::vector<std::string>& inputs, const std::string& output, bool suffix,
                     bool autoRename, bool matchPartNames, bool adoptBlocks, bool replaceLink) {
  try {
    // The open inputs; declared first, it outlives the files of the trees.
    KivRkf::OpenFilePool pool;
    KivMox::Tree base;
    base.SetDeferredLoading(true);
    base.SetNodeSetsReadAtSave(true);
    // The arrays of later inputs join the base with their loaders: the save plans the
    // adoption of every input's blocks.
    base.SetBlockAdoption(adoptBlocks);
    // Later inputs are opened and their light blocks inflated while the one before loads.
    auto prefetch = std::make_unique<KivMox::InputPrefetch>(LaterInputs(inputs), pool);
    std::map<std::uint32_t, std::uint32_t> identifiers;
    base.Load(inputs.at(0), identifiers, &pool);
    InstanceMap instances;
    if (autoRename)
      TagAutoRename(base, 1, suffix, instances);
    else
      TagPlain(base, 1, suffix, instances);
    BaseIndex index(base);
    LinkInstances(base, instances, index);
    for (std::size_t k = 2; k <= inputs.size(); ++k) {
      KivMox::Tree further;
      further.SetDeferredLoading(true);
      further.SetNodeSetsReadAtSave(true);
      further.SetPrefetch(prefetch.get());
      std::map<std::uint32_t, std::uint32_t> furtherIdentifiers;
      further.Load(inputs[k - 1], furtherIdentifiers, &pool);
      // The base's save reads this input too: it must never be written in place.
      base.AddInputs(further.Inputs());
      const JoinInputs names{inputs.front(), inputs[k - 1]};
      if (autoRename) {
        TagAutoRename(further, k, suffix, instances);
        JoinAutoRename(base, further, matchPartNames, names, index);
      } else {
        TagPlain(further, k, suffix, instances);
        JoinPlain(base, further, names);
      }
      LinkInstances(base, instances, index);
    }
    prefetch.reset();
    base.Save(output, replaceLink);
    // Thousands of inputs close fast only newest first (OpenFilePool).
    pool.CloseAllNewestFirst();
    if (KivMox::ProgressListener* progress = KivMox::GetProgressListener()) progress->Finished();
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(e);
  }
}

}  // namespace MoxMerge
