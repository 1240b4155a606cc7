// moxinfo's listing gathered from trees in memory: any link structure, however broken,
// lists every entry exactly once and ends; value ranges skip NaN and keep integers and
// infinities; arrays without values have no range.
#include "info/model_listing.hpp"

#include <limits>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "info/listing_json.hpp"
#include "info/listing_text.hpp"
#include "kiv/mox/group.hpp"
#include "sample/sample_random.hpp"
#include "support/model_builder.hpp"

using namespace MoxInfo;
using KivMox::Tree;

namespace {

void Put(Tree& tree, std::uint32_t id, std::uint32_t parent, std::uint32_t next,
         std::uint32_t first) {
  Tree::TreeEntry e;
  e.id = id;
  e.parentId = parent;
  e.nextSiblingId = next;
  e.firstChildId = first;
  tree.SetEntryNode(e, std::make_unique<KivMox::Group>());
}

// The listing's lines as "id@depth" for entries (with "-" when not reached) and
// "from link->to problem" for link problems.
std::string Walk(const Tree& tree) {
  std::string out;
  for (const auto& line : ListModel(tree, "x").lines) {
    if (const auto* e = std::get_if<EntryListing>(&line))
      out += std::to_string(e->id) + "@" + std::to_string(e->depth) + (e->reached ? " " : "- ");
    else if (const auto* p = std::get_if<LinkProblem>(&line))
      out += std::to_string(p->from) + " " + p->link + "->" + std::to_string(p->to) + " " +
             p->problem + " ";
  }
  return out;
}

TEST(ListModel, WalksChildrenInSiblingOrderAndMarksBrokenLinks) {
  Tree tree;
  Put(tree, 1, 0, 0, 3);
  Put(tree, 3, 1, 2, 4);
  Put(tree, 4, 3, 0, 0);
  Put(tree, 2, 1, 0, 0);
  EXPECT_EQ(Walk(tree), "1@0 3@1 4@2 2@1 ");
  Tree cycle;
  Put(cycle, 1, 0, 0, 2);
  Put(cycle, 2, 1, 0, 1);
  EXPECT_EQ(Walk(cycle), "1@0 2@1 2 first child->1 cycle ");
  Tree broken;
  Put(broken, 1, 0, 0, 2);
  Put(broken, 2, 1, 2, 50);
  Put(broken, 7, 40, 0, 0);
  EXPECT_EQ(Walk(broken), "1@0 2@1 2 first child->50 dangling 2 next sibling->2 cycle 7@0- ");
  Tree empty;
  Put(empty, 1, 0, 0, 2);
  Tree::TreeEntry e;
  e.id = 2;
  e.parentId = 1;
  empty.SetEntryNode(e, nullptr);
  std::ostringstream text;
  PrintListing(ListModel(empty, "x"), text);
  EXPECT_NE(text.str().find("  [2] (no node)\n"), std::string::npos) << text.str();
}

// Random link structures: every entry is listed exactly once, reached entries first, and
// every reported problem names a link that really is broken.
TEST(ListModel, AnyLinkStructureListsEveryEntryOnce) {
  MoxSample::SampleRandom random(42);
  for (int round = 0; round < 120; ++round) {
    Tree tree;
    const std::uint32_t n = random.Between(1, 30);
    for (std::uint32_t id = 1; id <= n; ++id) {
      const auto link = [&] { return random.Below(3) ? random.Between(0, n + 5) : 0u; };
      const std::uint32_t parent = link(), next = link(), first = link();
      Put(tree, id, parent, next, first);
    }
    const auto listing = ListModel(tree, "x");
    std::set<std::uint32_t> ids;
    std::size_t entries = 0;
    bool unreachedSeen = false;
    for (const auto& line : listing.lines) {
      if (const auto* e = std::get_if<EntryListing>(&line)) {
        ++entries;
        ids.insert(e->id);
        unreachedSeen = unreachedSeen || !e->reached;
        EXPECT_FALSE(unreachedSeen && e->reached) << "reached entries come first";
        EXPECT_LE(e->depth, kMaxListingDepth);
      } else {
        const auto& p = std::get<LinkProblem>(line);
        EXPECT_EQ(p.problem == "dangling", tree.Entries().count(p.to) == 0);
      }
    }
    EXPECT_EQ(entries, tree.Size());
    EXPECT_EQ(ids.size(), tree.Size());
    EXPECT_EQ(ListingJson(listing, nullptr).at("nodes").size(), tree.Size());
  }
}

// "count nan min max" of an array's listing ("-" for an absent bound).
std::string Range(const KivMox::GeometryArray& array) {
  Tree tree;
  const ArrayListing l = ListArray(tree, array, 0);
  return std::to_string(l.valueCount) + " " + std::to_string(l.nanCount) + " " +
         (l.minimum ? ValueText(*l.minimum, l.integers) : "-") + " " +
         (l.maximum ? ValueText(*l.maximum, l.integers) : "-");
}

TEST(ListArray, ValueRanges) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  using TestSupport::FloatArray;
  EXPECT_EQ(Range(FloatArray("a", {nan, 2.5f, -1.25f, nan})), "4 2 -1.25 2.5");
  EXPECT_EQ(Range(FloatArray("a", {nan})), "1 1 - -");
  EXPECT_EQ(Range(FloatArray("a", {1.0f, -inf, inf})), "3 0 -inf inf");
  EXPECT_EQ(Range(TestSupport::IntArray("a", {7, -3, 2147483647})), "3 0 -3 2147483647");
  EXPECT_EQ(Range(KivMox::GeometryArray{}), "0 0 - -");
  KivMox::GeometryArray odd = FloatArray("a", {1.0f, 2.0f});
  odd.data.byteSize = 6;  // a trailing partial value is not a value
  EXPECT_EQ(Range(odd), "1 0 1 1");
  KivMox::GeometryArray unread;  // a size, but no values read
  unread.data.byteSize = 8;
  EXPECT_EQ(Range(unread), "2 0 - -");
  EXPECT_EQ(ListingJson(ModelListing{}, nullptr).at("nodes").size(), 0u);
}

TEST(ListArray, LinkResolvesOnlyToAnExistingArrayOfAGeometry) {
  TestSupport::Model model("m");
  model.AddGeometry(1, "g", {TestSupport::FloatArray("a", {1.0f})});
  for (const auto& [node, index, resolves] :
       {std::tuple{2u, 0u, true}, {2u, 1u, false}, {1u, 0u, false}, {9u, 0u, false}}) {
    const auto link = TestSupport::LinkedArray("l", node, index);
    EXPECT_EQ(ListArray(model.tree, link, 0).linkResolves, resolves) << node << ":" << index;
  }
}

}  // namespace
