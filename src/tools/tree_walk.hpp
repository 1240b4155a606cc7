// The one walk of a model's node tree that every tool takes, so that all of them describe a
// damaged tree alike.
//
// The walk follows first-child and next-sibling links depth first: an entry's whole subtree
// is walked before its next sibling. An entry is walked once, at the place where the walk
// first reaches it. A link to an identifier without an entry (dangling), to an entry walked
// before (a cycle or a second parent) or deeper than kMaxWalkDepth levels is a broken link:
// it is recorded at that place and neither it nor the rest of its sibling chain is followed.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

namespace KivMox {
class Tree;
}

namespace MoxTools {

inline constexpr int kMaxWalkDepth = 256;

// The link the walk takes to an entry: from no entry to the root, or from an entry.
enum class TreeLink { Root, FirstChild, NextSibling };
// What stops the walk at a link.
enum class LinkFault { Dangling, Cycle, TooDeep };

// "root", "first child", "next sibling".
const char* LinkName(TreeLink link);
// "dangling", "cycle", "too deep".
const char* FaultName(LinkFault fault);

struct WalkedEntry {
  std::uint32_t id = 0;
  std::uint32_t parent = 0;  // the entry the walk came from (0 at depth 0)
  int depth = 0;
};

struct BrokenLink {
  std::uint32_t from = 0;  // the entry holding the link (0 for the root link)
  TreeLink link = TreeLink::Root;
  std::uint32_t to = 0;
  LinkFault fault = LinkFault::Dangling;
  std::uint32_t parent = 0;  // the entry whose child list the link belongs to (0 at depth 0)
  int depth = 0;             // of the entry the link would lead to
};

using WalkStep = std::variant<WalkedEntry, BrokenLink>;

struct TreeWalk {
  std::vector<WalkStep> steps;           // in walk order
  std::vector<std::uint32_t> unreached;  // entries never walked, in identifier order
};

// The whole tree from the root (identifier 1), whose own sibling chain is walked at depth 0.
TreeWalk WalkTree(const KivMox::Tree& tree);
// The subtree of root (an identifier with an entry): root at depth 0, then its descendants.
std::vector<WalkStep> WalkSubtree(const KivMox::Tree& tree, std::uint32_t root);

}  // namespace MoxTools
