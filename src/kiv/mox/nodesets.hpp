// KivMox::NodeSets: named sets of (u32, u32) members.
//
// Light record in "Light Data": u32 payload size (16), u32 count, u64 heavyPosition,
// u32 heavySize. A payload size other than 16 is skipped and leaves the node empty.
//
// Heavy record in "Heavy Data" at heavyPosition, heavySize bytes:
//   vector<u32> name offsets    count + 1 entries, 0 first, each the previous plus the
//                               byte length of a set's name
//   string      all names joined without separators
//   vector<u32> member offsets  count + 1 entries, 0 first, each the previous plus the
//                               number of members of a set
//   vector<u32> first value of every member, set after set
//   vector<u32> second value of every member, same order
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kiv/mox/node.hpp"

namespace KivRkf {
class Block;
class IndexReader;
class IndexWriter;
class RkFile;
}  // namespace KivRkf

namespace KivMox {

struct NodeSet {
  std::string name;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> members;
};

class NodeSets : public Node {
 public:
  static constexpr NodeKind kKind = NodeKind::NodeSets;
  NodeKind Kind() const override { return kKind; }

  std::vector<NodeSet> sets;
  // Number of sets as stored in the light record.
  std::uint32_t count = 0;
  std::uint64_t heavyPosition = 0;
  std::uint32_t heavySize = 0;
  // Set while the heavy record is still to be read from this file (a merge reads it when it
  // writes the heavy data, see deferred_node_sets.hpp); sets is empty until then.
  std::shared_ptr<KivRkf::RkFile> source;
};

inline constexpr std::uint32_t kNodeSetsLightPayload = 16;

void ReadNodeSetsLight(NodeSets& node, KivRkf::IndexReader& index, const std::string& light);
// Replaces the sets with the count sets of the heavy record at heavyPosition; a node
// without a heavy record (heavySize 0) is left as it is.
void ReadNodeSetsHeavy(NodeSets& node, KivRkf::IndexReader& index, const std::string& heavy);
// The lists of a heavy record as stored.
struct NodeSetLists {
  std::vector<std::uint32_t> nameOffsets;
  std::string names;
  std::vector<std::uint32_t> memberOffsets;
  std::vector<std::uint32_t> firsts;
  std::vector<std::uint32_t> seconds;
};
// The lists from a block holding the record's bytes from its start (a check that inflated
// them itself); the block's position is left after them.
NodeSetLists ReadNodeSetLists(KivRkf::Block& record);
// Replaces the sets with those the lists hold for node.count sets, as ReadNodeSetsHeavy
// does: raises code 1 when the offsets are too few, decrease or run past their lists.
void TakeNodeSets(NodeSets& node, const NodeSetLists& lists);
// Appends the heavy record and records heavyPosition, heavySize and count in the node.
void WriteNodeSetsHeavy(NodeSets& node, KivRkf::IndexWriter& index, const std::string& heavy);
void WriteNodeSetsLight(const NodeSets& node, KivRkf::IndexWriter& index, const std::string& light);

}  // namespace KivMox
