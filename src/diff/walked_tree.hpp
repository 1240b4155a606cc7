// The subtree of a loaded model that moxdiff compares, walked once from its root by
// first-child and next-sibling links: every node with its walk parent and its position
// among that parent's children. A node is found again by its path of child positions
// from the root ("/" for the root itself, "/0/2" for the third child of its first child).
//
// The walk is that of tools/tree_walk.hpp, so that the tools describe a damaged tree alike.
// A child list ends at a link to an identifier without an entry or to a node the walk
// reached before (a cycle or a second parent); the node records how its list ended, and the
// comparison compares that. A tree deeper than MoxTools::kMaxWalkDepth levels raises
// DiffTrouble naming the side.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/tree_walk.hpp"

namespace KivMox {
class Tree;
class Node;
}  // namespace KivMox

namespace MoxDiff {

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct WalkNode {
  std::uint32_t id = 0;
  std::size_t parent = kNone;    // index of the walk parent; kNone at the root
  std::uint32_t position = 0;    // among the parent's children
  bool parentLinkAgrees = true;  // the entry's parent link names its walk parent
  std::vector<std::size_t> children;
  // None when the child list ends with a zero link; else what is wrong with the link that
  // ends it (a node that does not exist, or one the walk reached before), not followed.
  std::optional<MoxTools::LinkFault> listEnd;
};

// How a child list ends, as the report shows it: "no further link" or the link's fault.
std::string ListEndText(const std::optional<MoxTools::LinkFault>& end);

class WalkedTree {
 public:
  // side names the side and file for messages, e.g. "left file a.mox".
  WalkedTree(const KivMox::Tree& tree, std::uint32_t root, const std::string& side);

  const std::vector<WalkNode>& Nodes() const { return nodes_; }
  const KivMox::Node* NodeAt(std::size_t index) const;
  std::string PathOf(std::size_t index) const;
  // The index of the node with that identifier when it lies in the subtree.
  std::optional<std::size_t> IndexOf(std::uint32_t id) const;

 private:
  const KivMox::Tree& tree_;
  std::vector<WalkNode> nodes_;  // in walk order, the root first
  std::map<std::uint32_t, std::size_t> index_;
};

}  // namespace MoxDiff
