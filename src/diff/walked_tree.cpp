// Walking the compared subtree of a model (walked_tree.hpp).
#include "diff/walked_tree.hpp"

#include <algorithm>

#include "diff/differences.hpp"
#include "kiv/mox/tree.hpp"

namespace MoxDiff {

WalkedTree::WalkedTree(const KivMox::Tree& tree, std::uint32_t root, const std::string& side)
    : tree_(tree) {
  const auto fail = [&](const std::string& what) {
    throw DiffTrouble(side + ": the node tree is damaged: " + what);
  };
  const auto& entries = tree.Entries();
  nodes_.push_back({root, kNone, 0, true, {}, {}});
  index_[root] = 0;
  // Depth of each node, kept only for the nodes on the stack.
  std::vector<std::pair<std::size_t, std::size_t>> stack = {{0, 0}};
  while (!stack.empty()) {
    const auto [at, depth] = stack.back();
    stack.pop_back();
    const std::uint32_t id = nodes_[at].id;
    std::uint32_t child = entries.at(id).firstChildId;
    std::vector<std::size_t> children;
    while (child != 0) {
      const auto it = entries.find(child);
      if (it == entries.end()) {
        nodes_[at].listEnd = "a link to a node that does not exist";
        break;
      }
      if (index_.count(child)) {
        nodes_[at].listEnd = "a link to a node reached before";
        break;
      }
      if (depth + 1 > kMaxCompareDepth)
        fail("deeper than " + std::to_string(kMaxCompareDepth) + " levels at node " +
             std::to_string(child));
      const std::size_t index = nodes_.size();
      nodes_.push_back({child,
                        at,
                        static_cast<std::uint32_t>(children.size()),
                        it->second.parentId == id,
                        {},
                        {}});
      index_[child] = index;
      children.push_back(index);
      child = it->second.nextSiblingId;
    }
    // Later children first, so that the walk takes the first child next.
    for (auto c = children.rbegin(); c != children.rend(); ++c) stack.push_back({*c, depth + 1});
    nodes_[at].children = std::move(children);
  }
}

const KivMox::Node* WalkedTree::NodeAt(std::size_t index) const {
  return tree_.GetNode(nodes_[index].id);
}

std::string WalkedTree::PathOf(std::size_t index) const {
  std::vector<std::uint32_t> positions;
  for (std::size_t at = index; nodes_[at].parent != kNone; at = nodes_[at].parent)
    positions.push_back(nodes_[at].position);
  if (positions.empty()) return "/";
  std::string path;
  for (auto p = positions.rbegin(); p != positions.rend(); ++p) path += "/" + std::to_string(*p);
  return path;
}

std::optional<std::size_t> WalkedTree::IndexOf(std::uint32_t id) const {
  const auto it = index_.find(id);
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

}  // namespace MoxDiff
