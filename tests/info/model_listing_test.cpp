// moxinfo's listing gathered from trees in memory: any link structure, however broken,
// lists every entry exactly once and ends; value ranges skip NaN and keep integers and
// infinities; the text and JSON renderings agree.
#include "info/model_listing.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "info/listing_json.hpp"
#include "info/listing_text.hpp"
#include "sample/sample_random.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/tree.hpp"

using namespace MoxInfo;
using MoxSample::SampleRandom;
using KivMox::Tree;

namespace {

void Put(Tree& tree, std::uint32_t id, std::uint32_t parent, std::uint32_t next,
         std::uint32_t first, const std::string& name = "G") {
  Tree::TreeEntry e;
  e.id = id;
  e.parentId = parent;
  e.nextSiblingId = next;
  e.firstChildId = first;
  auto g = std::make_unique<KivMox::Group>();
  g->name = name;
  tree.SetEntryNode(e, std::move(g));
}

std::vector<EntryListing> EntriesOf(const ModelListing& l) {
  std::vector<EntryListing> out;
  for (const auto& line : l.lines)
    if (const auto* e = std::get_if<EntryListing>(&line)) out.push_back(*e);
  return out;
}

std::vector<LinkProblem> ProblemsOf(const ModelListing& l) {
  std::vector<LinkProblem> out;
  for (const auto& line : l.lines)
    if (const auto* p = std::get_if<LinkProblem>(&line)) out.push_back(*p);
  return out;
}

TEST(ListModel, WalksChildrenInSiblingOrderWithDepths) {
  Tree tree;
  Put(tree, 1, 0, 0, 3);
  Put(tree, 3, 1, 2, 4);
  Put(tree, 4, 3, 0, 0);
  Put(tree, 2, 1, 0, 0);
  const auto entries = EntriesOf(ListModel(tree, "x"));
  ASSERT_EQ(entries.size(), 4u);
  std::vector<std::pair<std::uint32_t, int>> order;
  for (const auto& e : entries) order.emplace_back(e.id, e.depth);
  EXPECT_EQ(order, (std::vector<std::pair<std::uint32_t, int>>{{1, 0}, {3, 1}, {4, 2}, {2, 1}}));
  EXPECT_EQ(entries[2].walkParentId, 3u);
  EXPECT_TRUE(ProblemsOf(ListModel(tree, "x")).empty());
}

TEST(ListModel, ChildLinkBackToTheRootIsACycle) {
  Tree tree;
  Put(tree, 1, 0, 0, 2);
  Put(tree, 2, 1, 0, 1);
  const auto listing = ListModel(tree, "x");
  EXPECT_EQ(EntriesOf(listing).size(), 2u);
  const auto problems = ProblemsOf(listing);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].from, 2u);
  EXPECT_EQ(problems[0].link, "first child");
  EXPECT_EQ(problems[0].to, 1u);
  EXPECT_EQ(problems[0].problem, "cycle");
}

TEST(ListModel, SelfSiblingAndMissingEntriesAreMarked) {
  Tree tree;
  Put(tree, 1, 0, 0, 2);
  Put(tree, 2, 1, 2, 50);
  const auto problems = ProblemsOf(ListModel(tree, "x"));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].problem, "dangling");
  EXPECT_EQ(problems[0].to, 50u);
  EXPECT_EQ(problems[1].problem, "cycle");
  EXPECT_EQ(problems[1].link, "next sibling");
}

TEST(ListModel, EntryWithoutNodeIsListed) {
  Tree tree;
  Put(tree, 1, 0, 0, 2);
  Tree::TreeEntry e;
  e.id = 2;
  e.parentId = 1;
  tree.SetEntryNode(e, nullptr);
  const auto entries = EntriesOf(ListModel(tree, "x"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_FALSE(entries[1].hasNode);
  std::ostringstream text;
  PrintListing(ListModel(tree, "x"), text);
  EXPECT_NE(text.str().find("  [2] (no node)\n"), std::string::npos) << text.str();
}

// Random link structures: every entry is listed exactly once, reached entries first, and
// every reported problem names a link that really is broken.
TEST(ListModel, AnyLinkStructureListsEveryEntryOnce) {
  SampleRandom random(42);
  for (int round = 0; round < 120; ++round) {
    Tree tree;
    const std::uint32_t n = random.Between(1, 30);
    for (std::uint32_t id = 1; id <= n; ++id) {
      const auto link = [&] { return random.Below(3) ? random.Between(0, n + 5) : 0u; };
      const std::uint32_t parent = link(), next = link(), first = link();
      Put(tree, id, parent, next, first);
    }
    const auto listing = ListModel(tree, "x");
    const auto entries = EntriesOf(listing);
    ASSERT_EQ(entries.size(), tree.Size());
    std::set<std::uint32_t> ids;
    bool unreachedSeen = false;
    for (const auto& e : entries) {
      ids.insert(e.id);
      if (!e.reached) unreachedSeen = true;
      EXPECT_FALSE(unreachedSeen && e.reached) << "reached entries come first";
      EXPECT_LE(e.depth, kMaxListingDepth);
    }
    EXPECT_EQ(ids.size(), tree.Size());
    for (const auto& p : ProblemsOf(listing)) {
      const bool exists = tree.Entries().count(p.to) != 0;
      EXPECT_EQ(p.problem == "dangling", !exists);
    }
    const auto doc = ListingJson(listing, nullptr);
    EXPECT_EQ(doc.at("nodes").size(), tree.Size());
  }
}

KivMox::GeometryArray FloatArray(const std::vector<float>& values, std::uint32_t kind = 1) {
  KivMox::GeometryArray a;
  a.name = "A";
  a.kind = kind;
  std::memcpy(a.data.Allocate(values.size() * 4), values.data(), values.size() * 4);
  return a;
}

TEST(ListArray, FloatRangeSkipsNaNAndKeepsInfinity) {
  Tree tree;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto l = ListArray(tree, FloatArray({nan, 2.5f, -1.25f, nan}), 0);
  EXPECT_EQ(l.valueCount, 4u);
  EXPECT_EQ(l.nanCount, 2u);
  EXPECT_EQ(*l.minimum, -1.25);
  EXPECT_EQ(*l.maximum, 2.5);
  l = ListArray(tree, FloatArray({nan}), 0);
  EXPECT_FALSE(l.minimum.has_value());
  l = ListArray(tree, FloatArray({1.0f, -inf, inf}), 0);
  EXPECT_EQ(ValueText(*l.minimum, false), "-inf");
  EXPECT_EQ(ValueText(*l.maximum, false), "inf");
  EXPECT_EQ(ListingJson(ModelListing{}, nullptr).at("nodes").size(), 0u);
}

TEST(ListArray, ConnectivityValuesAreSignedIntegers) {
  Tree tree;
  const std::vector<std::int32_t> ints = {7, -3, 2147483647};
  KivMox::GeometryArray a;
  a.kind = 9;
  std::memcpy(a.data.Allocate(12), ints.data(), 12);
  const auto l = ListArray(tree, a, 0);
  ASSERT_TRUE(l.integers);
  EXPECT_EQ(ValueText(*l.minimum, true), "-3");
  EXPECT_EQ(ValueText(*l.maximum, true), "2147483647");
}

TEST(ListArray, ArraysWithoutValuesHaveNoRange) {
  Tree tree;
  KivMox::GeometryArray empty;
  EXPECT_FALSE(ListArray(tree, empty, 0).minimum.has_value());
  KivMox::GeometryArray odd = FloatArray({1.0f, 2.0f});
  odd.data.byteSize = 6;  // a trailing partial value is not a value
  const auto l = ListArray(tree, odd, 0);
  EXPECT_EQ(l.valueCount, 1u);
  EXPECT_EQ(*l.maximum, 1.0);
}

TEST(ListArray, LinkResolvesOnlyToAnExistingArrayOfAGeometry) {
  Tree tree;
  Put(tree, 1, 0, 0, 0);
  Tree::TreeEntry e;
  e.id = 2;
  auto g = std::make_unique<KivMox::Geometry>();
  g->arrays.push_back(FloatArray({1.0f}));
  tree.SetEntryNode(e, std::move(g));
  KivMox::GeometryArray link;
  link.linked = 1;
  link.linkNode = 2;
  EXPECT_TRUE(ListArray(tree, link, 0).linkResolves);
  link.linkIndex = 1;
  EXPECT_FALSE(ListArray(tree, link, 0).linkResolves);
  link.linkNode = 1;  // a group
  link.linkIndex = 0;
  EXPECT_FALSE(ListArray(tree, link, 0).linkResolves);
}

}  // namespace
