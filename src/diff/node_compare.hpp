// Comparing the fields of two matched nodes: type, name, flags, and by kind the group's
// transform, attributes and merge root flag, the shape's material, the geometry's array
// descriptions and links, the node sets as stored. Array values are not read here: each
// pair of non-linked arrays with values on both sides is handed back for array_values.hpp.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/fields.hpp"
#include "diff/walked_tree.hpp"

namespace KivMox {
class Node;
struct GeometryArray;
}  // namespace KivMox

namespace MoxDiff {

struct ArrayPair {
  const KivMox::GeometryArray* left = nullptr;
  const KivMox::GeometryArray* right = nullptr;
  std::uint32_t index = 0;   // in the geometry
  std::size_t nodePair = 0;  // the node pair it belongs to
};

struct NodeCompareContext {
  const WalkedTree& left;
  const WalkedTree& right;
  // Compare the versions the records were read under: the node records' and the shape
  // materials'.
  bool versions = false;
};

// Either node may be null (an entry without a node).
void CompareNodes(const KivMox::Node* left, const KivMox::Node* right,
                  const NodeCompareContext& context, Fields& fields, std::vector<ArrayPair>& arrays,
                  std::size_t nodePair);

// "(no node)" or the node's type name.
std::string TypeText(const KivMox::Node* node);

}  // namespace MoxDiff
