// Walking the compared subtree of a model (walked_tree.hpp).
#include "diff/walked_tree.hpp"

#include <variant>

#include "diff/differences.hpp"
#include "kiv/mox/tree.hpp"
#include "tools/tree_walk.hpp"

namespace MoxDiff {

WalkedTree::WalkedTree(const KivMox::Tree& tree, std::uint32_t root, const std::string& side)
    : tree_(tree) {
  for (const MoxTools::WalkStep& step : MoxTools::WalkSubtree(tree, root)) {
    if (const auto* broken = std::get_if<MoxTools::BrokenLink>(&step)) {
      if (broken->fault == MoxTools::LinkFault::TooDeep)
        throw DiffTrouble(side + ": the node tree is damaged: deeper than " +
                          std::to_string(MoxTools::kMaxWalkDepth) + " levels at node " +
                          std::to_string(broken->to));
      nodes_[index_.at(broken->parent)].listEnd = broken->fault;
      continue;
    }
    const auto& walked = std::get<MoxTools::WalkedEntry>(step);
    WalkNode node;
    node.id = walked.id;
    if (walked.depth > 0) {
      node.parent = index_.at(walked.parent);
      node.position = static_cast<std::uint32_t>(nodes_[node.parent].children.size());
      node.parentLinkAgrees = tree.Entries().at(walked.id).parentId == walked.parent;
      nodes_[node.parent].children.push_back(nodes_.size());
    }
    index_[walked.id] = nodes_.size();
    nodes_.push_back(std::move(node));
  }
}

std::string ListEndText(const std::optional<MoxTools::LinkFault>& end) {
  if (!end) return "no further link";
  return *end == MoxTools::LinkFault::Dangling ? "a link to a node that does not exist"
                                               : "a link to a node reached before";
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
