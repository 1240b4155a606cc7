// Node set records in "Light Data" and "Heavy Data" (layouts in nodesets.hpp).
#include "kiv/mox/nodesets.hpp"

#include <algorithm>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/encoding.hpp"
#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"

namespace KivMox {

namespace {

constexpr const char* kHeavyMethod = "KivMox::ReadNodeSetsHeavy";

using HeavyLists = NodeSetLists;

// Raises code 1 unless offsets has count + 1 entries that never decrease and whose
// last one lies within limit.
void CheckOffsets(const std::vector<std::uint32_t>& offsets, std::uint32_t count,
                  std::size_t limit) {
  KIV_CHECK(offsets.size() == std::uint64_t(count) + 1, OutOfBounds, nullptr, kHeavyMethod);
  for (std::size_t i = 1; i < offsets.size(); ++i)
    KIV_CHECK(offsets[i - 1] <= offsets[i], OutOfBounds, nullptr, kHeavyMethod);
  KIV_CHECK(offsets.back() <= limit, OutOfBounds, nullptr, kHeavyMethod);
}

}  // namespace

void ReadNodeSetsLight(NodeSets& node, KivRkf::IndexReader& index, const std::string& light) {
  std::uint32_t payload = 0;
  index.Get(light, payload);
  if (payload == kNodeSetsLightPayload) {
    index.Get(light, node.count);
    index.Get(light, node.heavyPosition);
    index.Get(light, node.heavySize);
    return;
  }
  // An unknown layout: skip it whole, checked against the bytes in the block.
  if (payload == 0) return;
  if (KivRkf::Block* block = index.ReadingBlock(light)) block->Skip(payload);
}

namespace {

template <class Source>
void GetLists(Source get, HeavyLists& l) {
  get(l.nameOffsets);
  get(l.names);
  get(l.memberOffsets);
  get(l.firsts);
  get(l.seconds);
}

}  // namespace

void TakeNodeSets(NodeSets& node, const HeavyLists& l) {
  CheckOffsets(l.nameOffsets, node.count, l.names.size());
  CheckOffsets(l.memberOffsets, node.count, std::min(l.firsts.size(), l.seconds.size()));
  std::vector<NodeSet> sets(node.count);
  for (std::uint32_t i = 0; i < node.count; ++i) {
    sets[i].name = l.names.substr(l.nameOffsets[i], l.nameOffsets[i + 1] - l.nameOffsets[i]);
    for (std::uint32_t j = l.memberOffsets[i]; j < l.memberOffsets[i + 1]; ++j)
      sets[i].members.emplace_back(l.firsts[j], l.seconds[j]);
  }
  node.sets = std::move(sets);
}

void ReadNodeSetsHeavy(NodeSets& node, KivRkf::IndexReader& index, const std::string& heavy) {
  // A node whose light record was skipped has no heavy record to read.
  if (node.heavySize == 0) return;
  index.SetReadingPosition(heavy, node.heavyPosition);
  HeavyLists l;
  GetLists([&](auto& v) { index.Get(heavy, v); }, l);
  const std::uint64_t end = index.ReadingPosition(heavy);
  if (end > node.heavyPosition)
    index.ClaimRange(heavy, node.heavyPosition, end - node.heavyPosition);
  TakeNodeSets(node, l);
}

NodeSetLists ReadNodeSetLists(KivRkf::Block& record) {
  HeavyLists l;
  GetLists([&](auto& v) { record.Get(v); }, l);
  return l;
}

void WriteNodeSetsHeavy(NodeSets& node, KivRkf::IndexWriter& index, const std::string& heavy) {
  HeavyLists l;
  l.nameOffsets.push_back(0);
  l.memberOffsets.push_back(0);
  for (const NodeSet& set : node.sets) {
    l.names += set.name;
    l.nameOffsets.push_back(static_cast<std::uint32_t>(l.names.size()));
    for (const auto& [first, second] : set.members) {
      l.firsts.push_back(first);
      l.seconds.push_back(second);
    }
    l.memberOffsets.push_back(static_cast<std::uint32_t>(l.firsts.size()));
  }
  node.heavyPosition = index.GetSize(heavy);
  index.Put(heavy, l.nameOffsets);
  index.Put(heavy, l.names);
  index.Put(heavy, l.memberOffsets);
  index.Put(heavy, l.firsts);
  index.Put(heavy, l.seconds);
  node.heavySize = static_cast<std::uint32_t>(index.GetSize(heavy) - node.heavyPosition);
  node.count = static_cast<std::uint32_t>(node.sets.size());
}

void WriteNodeSetsLight(const NodeSets& node, KivRkf::IndexWriter& index,
                        const std::string& light) {
  index.Put(light, kNodeSetsLightPayload);
  index.Put(light, static_cast<std::uint32_t>(node.sets.size()));
  index.Put(light, node.heavyPosition);
  index.Put(light, node.heavySize);
}

}  // namespace KivMox
