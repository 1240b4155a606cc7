// The walk of a node tree that every tool takes: children in sibling order, each entry's
// subtree before its next sibling; broken links (cycles, second parents, dangling, too deep)
// recorded where the walk meets them and not followed; unreached entries after the walk.
#include "tools/tree_walk.hpp"

#include <gtest/gtest.h>

#include "kiv/mox/tree.hpp"
#include "support/model_builder.hpp"

using TestSupport::LinkedTree;

namespace {

// "id@depth" for each walked entry, "from link->to fault" for each broken link, then "id-"
// for each entry never walked.
std::string Walk(const KivMox::Tree& tree) {
  const MoxTools::TreeWalk walk = MoxTools::WalkTree(tree);
  std::string out;
  for (const MoxTools::WalkStep& step : walk.steps) {
    if (const auto* e = std::get_if<MoxTools::WalkedEntry>(&step))
      out += std::to_string(e->id) + "@" + std::to_string(e->depth) + " ";
    else if (const auto* p = std::get_if<MoxTools::BrokenLink>(&step))
      out += std::to_string(p->from) + " " + MoxTools::LinkName(p->link) + "->" +
             std::to_string(p->to) + " " + MoxTools::FaultName(p->fault) + " ";
  }
  for (const std::uint32_t id : walk.unreached) out += std::to_string(id) + "- ";
  return out;
}

TEST(TreeWalk, WalksChildrenInSiblingOrderAndMarksBrokenLinks) {
  EXPECT_EQ(Walk(*LinkedTree({{1, 0, 0, 3}, {3, 1, 2, 4}, {4, 3, 0, 0}, {2, 1, 0, 0}})),
            "1@0 3@1 4@2 2@1 ");
  EXPECT_EQ(Walk(*LinkedTree({{1, 0, 0, 2}, {2, 1, 0, 1}})), "1@0 2@1 2 first child->1 cycle ");
  // 7 is a child of the root and the sibling of 3: walked under 2, where the walk meets it
  // first, and the root's link to it is the cycle.
  EXPECT_EQ(Walk(*LinkedTree({{1, 0, 0, 2}, {2, 1, 7, 3}, {3, 2, 7, 0}, {7, 1, 0, 0}})),
            "1@0 2@1 3@2 7@2 2 next sibling->7 cycle ");
  // A chain deeper than the walk goes: the rest of it is unreached.
  std::vector<std::array<std::uint32_t, 4>> chain;
  std::string deep;
  for (std::uint32_t i = 1; i <= 300; ++i) {
    chain.push_back({i, i - 1, 0, i < 300 ? i + 1 : 0});
    deep += std::to_string(i) + (i <= 257 ? "@" + std::to_string(i - 1) + " " : "- ");
    if (i == 257) deep += "257 first child->258 too deep ";
  }
  EXPECT_EQ(Walk(*LinkedTree(chain)), deep);
}

}  // namespace
