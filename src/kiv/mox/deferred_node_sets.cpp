#include "kiv/mox/deferred_node_sets.hpp"

#include <unordered_set>

#include "kiv/mox/block_adoption.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/exception.hpp"

namespace KivMox {

DeferredNodeSets::DeferredNodeSets(const std::vector<NodeSets*>& nodes) {
  std::unordered_set<const KivRkf::RkFile*> seen;
  for (NodeSets* node : nodes) {
    if (!node->source) continue;
    nodes_.push_back(node);
    if (seen.insert(node->source.get()).second) files_.push_back(node->source);
  }
}

void DeferredNodeSets::KeepFromAdopted(AdoptionPlan& plan) {
  for (NodeSets* node : nodes_) {
    const std::uint64_t start = node->heavyPosition, end = start + node->heavySize;
    for (std::size_t b = 0; b < plan.blocks.size(); ++b) {
      AdoptedBlock& block = plan.blocks[b];
      const KivRkf::StoredBlock& stored = block.stored;
      if (block.file != node->source || start < stored.position ||
          end > stored.position + stored.rawLength)
        continue;
      kept_.push_back({node, b, block.keep.size()});
      block.keep.push_back({start - stored.position, node->heavySize, {}});
      break;
    }
  }
}

void DeferredNodeSets::TakeKept(const AdoptionPlan& plan) {
  for (const Kept& kept : kept_) {
    NodeSets& node = *kept.node;
    const std::string& bytes = plan.blocks[kept.block].keep[kept.range].bytes;
    if (bytes.size() != node.heavySize) continue;
    KivRkf::Block record;
    record.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    record.SetPosition(std::uint32_t{0});
    NodeSetLists lists;
    try {
      lists = ReadNodeSetLists(record);
    } catch (const Kiv::Util::Exception&) {
      continue;  // the lists run past the recorded size: read where they lie
    }
    node.source->Reader().ClaimRange(kHeavyData, node.heavyPosition, record.Position());
    TakeNodeSets(node, lists);
    node.source.reset();
  }
  kept_.clear();
}

void DeferredNodeSets::Read(NodeSets& node) {
  const KivRkf::FileInUse use(node.source.get());
  ReadNodeSetsHeavy(node, node.source->Reader(), kHeavyData);
  node.source.reset();
}

void DeferredNodeSets::ReadPending(const KivRkf::RkFile* file) {
  for (NodeSets* node : nodes_)
    if (node->source && node->source.get() == file) Read(*node);
}

void DeferredNodeSets::ReadAllPending() {
  for (NodeSets* node : nodes_)
    if (node->source) Read(*node);
}

std::vector<KivRkf::RkFile*> DeferredNodeSets::Files() const {
  std::vector<KivRkf::RkFile*> files;
  for (const auto& file : files_) files.push_back(file.get());
  return files;
}

}  // namespace KivMox
