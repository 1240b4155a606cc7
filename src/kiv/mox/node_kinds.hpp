// The node kinds of a Mox tree in one table: the type name a tree header carries, how a
// node of the kind is made and its records read, and how they are written. Loading,
// saving, the listing and the instance tags all go through it.
//
//   "Group"     Group      "Light Data" record and attribute map
//   "Shape"     Shape      material in "Resources"
//   "Geometry"  Geometry   "Light Data" record, attribute maps, arrays in "Heavy Data"
//   "NodeSets"  NodeSets   "Light Data" record, members in "Heavy Data"
//   any other   FutureNode "Light Data" byte count, skipped
//   ""          no node
// A material is a node class too, held by its shape: it has no record of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kiv/mox/node.hpp"

namespace KivRkf {
class IndexReader;
class IndexWriter;
}  // namespace KivRkf

namespace KivMox {

struct NodeKindInfo {
  NodeKind kind;
  const char* typeName;
  // Makes a node of the kind and reads its records at the sections' reading positions;
  // idOffset shifts the identifiers its links name (append mode).
  std::unique_ptr<Node> (*read)(KivRkf::IndexReader& index, const std::string& version,
                                std::uint32_t idOffset);
  void (*write)(Node& node, KivRkf::IndexWriter& index);  // null for a material
};

// The kind a tree header's type name selects (exact comparison): null for the empty
// name, the future node for a name no kind has.
const NodeKindInfo* KindOfTypeName(const std::string& typeName);
const NodeKindInfo& KindInfo(NodeKind kind);

}  // namespace KivMox
