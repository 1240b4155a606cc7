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

// A tree of groups (none for a parent of 0xFF), each entry given as {id, parent, next
// sibling, first child}.
std::unique_ptr<Tree> Links(const std::vector<std::array<std::uint32_t, 4>>& entries) {
  auto tree = std::make_unique<Tree>();
  for (const auto& [id, parent, next, first] : entries) {
    Tree::TreeEntry e;
    e.id = id, e.parentId = parent == 0xFF ? 1 : parent, e.nextSiblingId = next;
    e.firstChildId = first;
    tree->SetEntryNode(e, parent == 0xFF ? nullptr : std::make_unique<KivMox::Group>());
  }
  return tree;
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
  EXPECT_EQ(Walk(*Links({{1, 0, 0, 3}, {3, 1, 2, 4}, {4, 3, 0, 0}, {2, 1, 0, 0}})),
            "1@0 3@1 4@2 2@1 ");
  EXPECT_EQ(Walk(*Links({{1, 0, 0, 2}, {2, 1, 0, 1}})), "1@0 2@1 2 first child->1 cycle ");
  EXPECT_EQ(Walk(*Links({{1, 0, 0, 2}, {2, 1, 2, 50}, {7, 40, 0, 0}})),
            "1@0 2@1 2 first child->50 dangling 2 next sibling->2 cycle 7@0- ");
  std::ostringstream text;
  PrintListing(ListModel(*Links({{1, 0, 0, 2}, {2, 0xFF, 0, 0}}), "x"), text);
  EXPECT_NE(text.str().find("  [2] (no node)\n"), std::string::npos) << text.str();
}

// Random link structures: every entry is listed exactly once, reached entries first, and
// every reported problem names a link that really is broken.
TEST(ListModel, AnyLinkStructureListsEveryEntryOnce) {
  MoxSample::SampleRandom random(42);
  for (int round = 0; round < 120; ++round) {
    std::vector<std::array<std::uint32_t, 4>> entries;
    const std::uint32_t n = random.Between(1, 30);
    const auto link = [&] { return random.Below(3) ? random.Between(0, n + 5) : 0u; };
    for (std::uint32_t id = 1; id <= n; ++id) {
      const std::uint32_t parent = link(), next = link(), first = link();
      entries.push_back({id, parent, next, first});
    }
    const auto tree = Links(entries);
    const auto listing = ListModel(*tree, "x");
    std::set<std::uint32_t> ids;
    bool unreachedSeen = false;
    for (const auto& line : listing.lines) {
      if (const auto* e = std::get_if<EntryListing>(&line)) {
        EXPECT_TRUE(ids.insert(e->id).second) << "listed once";
        unreachedSeen = unreachedSeen || !e->reached;
        EXPECT_FALSE(unreachedSeen && e->reached) << "reached entries come first";
        EXPECT_LE(e->depth, kMaxListingDepth);
      } else {
        const auto& p = std::get<LinkProblem>(line);
        EXPECT_EQ(p.problem == "dangling", tree->Entries().count(p.to) == 0);
      }
    }
    EXPECT_EQ(ids.size(), tree->Size());
    EXPECT_EQ(ListingJson(listing, nullptr).at("nodes").size(), tree->Size());
  }
}

// "count nan min max" of an array's listing ("-" for an absent bound).
std::string Range(const KivMox::GeometryArray& array) {
  const ArrayListing l = ListArray(Tree(), array, 0);
  return std::to_string(l.valueCount) + " " + std::to_string(l.nanCount) + " " +
         (l.minimum ? ValueText(*l.minimum, l.integers) : "-") + " " +
         (l.maximum ? ValueText(*l.maximum, l.integers) : "-");
}

TEST(ListArray, ValueRangesAndLinks) {
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

  // A link resolves only to an existing array of a geometry.
  TestSupport::Model model("m");
  model.AddGeometry(1, "g", {FloatArray("a", {1.0f})});
  for (const auto& [node, index, resolves] :
       {std::tuple{2u, 0u, true}, {2u, 1u, false}, {1u, 0u, false}, {9u, 0u, false}})
    EXPECT_EQ(ListArray(model.tree, TestSupport::LinkedArray("l", node, index), 0).linkResolves,
              resolves)
        << node << ":" << index;
}

}  // namespace
