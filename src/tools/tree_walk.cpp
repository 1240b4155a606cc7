// The walk of a node tree (tree_walk.hpp).
#include "tools/tree_walk.hpp"

#include <optional>
#include <set>

#include "kiv/mox/tree.hpp"

namespace MoxTools {

namespace {

class Walker {
 public:
  explicit Walker(const KivMox::Tree& tree) : tree_(tree) {}

  // The sibling chain from first, reached from from by link, up to its end or its first
  // broken link.
  void Chain(std::uint32_t from, TreeLink link, std::uint32_t first, std::uint32_t parent,
             int depth) {
    for (std::uint32_t current = first; current != 0;) {
      const auto it = tree_.Entries().find(current);
      std::optional<LinkFault> fault;
      if (it == tree_.Entries().end())
        fault = LinkFault::Dangling;
      else if (walked_.count(current))
        fault = LinkFault::Cycle;
      else if (depth > kMaxWalkDepth)
        fault = LinkFault::TooDeep;
      if (fault) {
        steps_.emplace_back(BrokenLink{from, link, current, *fault, parent, depth});
        return;
      }
      Visit(current, parent, depth);
      from = current;
      link = TreeLink::NextSibling;
      current = it->second.nextSiblingId;
    }
  }

  // The entry id (which has one), then its children.
  void Visit(std::uint32_t id, std::uint32_t parent, int depth) {
    walked_.insert(id);
    steps_.emplace_back(WalkedEntry{id, parent, depth});
    if (const std::uint32_t first = tree_.Entries().at(id).firstChildId; first != 0)
      Chain(id, TreeLink::FirstChild, first, id, depth + 1);
  }

  std::vector<std::uint32_t> Unreached() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, entry] : tree_.Entries())
      if (!walked_.count(id)) ids.push_back(id);
    return ids;
  }

  std::vector<WalkStep> TakeSteps() { return std::move(steps_); }

 private:
  const KivMox::Tree& tree_;
  std::vector<WalkStep> steps_;
  std::set<std::uint32_t> walked_;
};

}  // namespace

const char* LinkName(TreeLink link) {
  switch (link) {
    case TreeLink::Root:
      return "root";
    case TreeLink::FirstChild:
      return "first child";
    case TreeLink::NextSibling:
      break;
  }
  return "next sibling";
}

const char* FaultName(LinkFault fault) {
  switch (fault) {
    case LinkFault::Dangling:
      return "dangling";
    case LinkFault::Cycle:
      return "cycle";
    case LinkFault::TooDeep:
      break;
  }
  return "too deep";
}

TreeWalk WalkTree(const KivMox::Tree& tree) {
  Walker walker(tree);
  walker.Chain(0, TreeLink::Root, 1, 0, 0);
  TreeWalk walk;
  walk.unreached = walker.Unreached();
  walk.steps = walker.TakeSteps();
  return walk;
}

std::vector<WalkStep> WalkSubtree(const KivMox::Tree& tree, std::uint32_t root) {
  Walker walker(tree);
  walker.Visit(root, 0, 0);
  return walker.TakeSteps();
}

}  // namespace MoxTools
