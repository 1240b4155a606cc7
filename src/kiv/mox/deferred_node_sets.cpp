#include "kiv/mox/deferred_node_sets.hpp"

#include <algorithm>

#include "kiv/mox/block_adoption.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/exception.hpp"

namespace KivMox {

DeferredNodeSets::DeferredNodeSets(const std::vector<NodeSets*>& nodes) {
  for (NodeSets* node : nodes) {
    if (!node->source) continue;
    nodes_.push_back(node);
    auto [at, fresh] = byFile_.try_emplace(node->source.get());
    if (fresh) files_.push_back(node->source);
    at->second.push_back(node);
  }
}

void DeferredNodeSets::KeepFromAdopted(AdoptionPlan& plan) {
  // Each input's adopted blocks follow one another in the plan, in stream order.
  std::unordered_map<const KivRkf::RkFile*, std::vector<std::size_t>> blocksOf;
  for (std::size_t b = 0; b < plan.blocks.size(); ++b)
    if (byFile_.count(plan.blocks[b].file.get())) blocksOf[plan.blocks[b].file.get()].push_back(b);
  for (NodeSets* node : nodes_) {
    const auto found = blocksOf.find(node->source.get());
    if (found == blocksOf.end()) continue;
    const std::uint64_t start = node->heavyPosition, end = start + node->heavySize;
    const std::vector<std::size_t>& blocks = found->second;
    // The last block that starts at or before the record.
    const auto after = std::upper_bound(
        blocks.begin(), blocks.end(), start,
        [&](std::uint64_t p, std::size_t b) { return p < plan.blocks[b].stored.position; });
    if (after == blocks.begin()) continue;
    AdoptedBlock& block = plan.blocks[*(after - 1)];
    if (end > block.stored.position + block.stored.rawLength) continue;
    kept_.push_back({node, *(after - 1), block.keep.size()});
    block.keep.push_back({start - block.stored.position, node->heavySize, {}});
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
  const auto found = byFile_.find(file);
  if (found == byFile_.end()) return;
  for (NodeSets* node : found->second)
    if (node->source) Read(*node);
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
