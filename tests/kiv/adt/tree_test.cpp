// KivAdt::Tree: identifiers, links of appended children, SetEntry and matching.
#include "kiv/adt/tree.hpp"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using TestSupport::CodeOf;
using IntTree = KivAdt::Tree<int>;
using L = std::vector<std::uint32_t>;

// A payload with the three things matching compares.
struct Item {
  std::string name, type, version;
  std::string GetTypeName() const { return type; }
  std::string GetVersion() const { return version; }
};

// Parent, previous and next sibling, first and last child.
L Links(const IntTree& t, std::uint32_t id) {
  const auto& e = t.GetReqNode(id);
  return {e.parentId, e.prevSiblingId, e.nextSiblingId, e.firstChildId, e.lastChildId};
}

std::string MethodOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    return e.GetRecord().method;
  }
  return "";
}

TEST(AdtTree, CurrentIdentifierAndFailures) {
  KivAdt::Tree<int*> t("class KivMox::Node *");
  EXPECT_EQ(std::make_tuple(t.Size(), t.NextId(), t.CurrentId(), t.GetCurrentNode().id),
            std::make_tuple(std::size_t{1}, 2u, 1u, 1u));
  std::string description;
  EXPECT_EQ(CodeOf([&] { t.GetReqNode(2); }, &description), 5);
  EXPECT_EQ(description, "Element Not Found");
  const std::string prefix = "KivAdt::Tree<class KivMox::Node *>::";
  // Any identifier below the next one is accepted, also 0, which has no entry.
  EXPECT_EQ(MethodOf([&] { t.SetCurrentId(2); }), prefix + "SetCurrentId");
  EXPECT_EQ(CodeOf([&] { t.SetCurrentId(0xFFFFFFFF); }), 5);
  EXPECT_EQ(t.CurrentId(), 1u);
  t.SetCurrentId(0);
  EXPECT_EQ(MethodOf([&] { t.GetCurrentNode(); }), prefix + "GetCurrentNode");
}

TEST(AdtTree, AppendedChildrenFormChainsOrSiblings) {
  IntTree chain;
  EXPECT_EQ((L{chain.AppendChild(10), chain.AppendChild(20), chain.AppendChild(30)}), (L{2, 3, 4}));
  EXPECT_EQ(std::make_pair(chain.CurrentId(), chain.NextId()), std::make_pair(4u, 5u));
  EXPECT_EQ(std::make_tuple(Links(chain, 1), Links(chain, 3), Links(chain, 4)),
            std::make_tuple(L{0, 0, 0, 2, 2}, L{2, 0, 0, 4, 4}, L{3, 0, 0, 0, 0}));
  chain.SetCurrentId(3);
  EXPECT_EQ(chain.GetCurrentNode().data, 20);
  IntTree siblings;
  for (int i = 0; i < 3; ++i) siblings.SetCurrentId(1), siblings.AppendChild(i);
  EXPECT_EQ((std::vector<L>{Links(siblings, 1), Links(siblings, 2), Links(siblings, 3),
                            Links(siblings, 4)}),
            (std::vector<L>{{0, 0, 0, 2, 4}, {1, 0, 3, 0, 0}, {1, 2, 4, 0, 0}, {1, 3, 0, 0, 0}}));
  // Below a current identifier without an entry, the entry is made.
  IntTree zero;
  zero.SetCurrentId(0);
  EXPECT_EQ(zero.AppendChild(7), 2u);
  EXPECT_EQ(std::make_tuple(Links(zero, 0), Links(zero, 2), zero.Size()),
            std::make_tuple(L{0, 0, 0, 2, 2}, L{0, 0, 0, 0, 0}, std::size_t{3}));
}

TEST(AdtTree, SetEntryReplacesItsEntryAndRaisesTheNextIdentifierOnlyUpwards) {
  IntTree t;
  KivAdt::TreeEntry<int> e;
  for (std::uint32_t id : {1u, 10u, 5u}) e.id = id, e.parentId = 1, e.data = int(id), t.SetEntry(e);
  EXPECT_EQ(std::make_tuple(t.NextId(), t.Size(), t.GetReqNode(1).data),
            std::make_tuple(11u, std::size_t{3}, 1));
  EXPECT_EQ(Links(t, 1), (L{1, 0, 0, 0, 0}));  // the links of other entries are not touched
  EXPECT_EQ(t.AppendChild(1), 11u);
  L ids;
  for (const auto& [id, entry] : t) ids.push_back(entry.id);
  EXPECT_EQ(ids, (L{1, 5, 10, 11}));  // in identifier order
  // The identifier space does not wrap.
  e.id = 0xFFFFFFFE;
  t.SetEntry(e);
  EXPECT_EQ(CodeOf([&] { t.AppendChild(1); }), 1);
  e.id = 0xFFFFFFFF;
  EXPECT_EQ(CodeOf([&] { t.SetEntry(e); }), 1);
  EXPECT_EQ(std::make_pair(t.Size(), t.NextId()), std::make_pair(std::size_t{5}, 0xFFFFFFFFu));
}

TEST(AdtTree, MatchingComparesNameTypeAndVersionAndSkipsNullPayloads) {
  Item a{"n", "Group", "0.4"}, b{"n", "Group", "0.4"}, otherName{"m", "Group", "0.4"},
      otherType{"n", "Shape", "0.4"}, otherVersion{"n", "Group", "0.3"};
  KivAdt::Tree<Item*> t;  // the root has a null payload
  for (Item* p : {&otherName, &otherType, &otherVersion, &b, &a})
    t.SetCurrentId(1), t.AppendChild(p);
  Item probe{"n", "Group", "0.4"}, none{"n ", "Group", "0.4"};
  EXPECT_EQ(t.GetMatchingNodeId(&probe), 5u);  // b, the smaller of two equal ones
  EXPECT_EQ(CodeOf([&] { t.GetMatchingNodeId(&none); }), 5);
  EXPECT_EQ(CodeOf([&] { t.GetMatchingNodeId(nullptr); }), 5);
}

}  // namespace
