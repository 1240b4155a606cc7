// KivAdt::Tree: identifiers, links of appended children, the current identifier, SetEntry
// and matching by name, type name and version.
#include "kiv/adt/tree.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using TestSupport::CodeOf;

// A payload with the three things matching compares.
struct Item {
  std::string name;
  std::string type;
  std::string version;
  std::string GetTypeName() const { return type; }
  std::string GetVersion() const { return version; }
};

using IntTree = KivAdt::Tree<int>;
using ItemTree = KivAdt::Tree<Item*>;

std::string MethodOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    return e.GetRecord().method;
  }
  return "";
}

TEST(AdtTreeTest, NewTreeHoldsOnlyTheRoot) {
  IntTree t;
  EXPECT_EQ(t.Size(), 1u);
  EXPECT_EQ(t.NextId(), 2u);
  EXPECT_EQ(t.CurrentId(), 1u);
  const auto& root = t.GetCurrentNode();
  EXPECT_EQ(root.id, 1u);
  EXPECT_EQ(root.parentId, 0u);
  EXPECT_EQ(root.firstChildId, 0u);
  EXPECT_EQ(root.data, 0);
  EXPECT_EQ(CodeOf([&] { t.GetReqNode(2); }), 5);
}

TEST(AdtTreeTest, FailuresNameThePayloadInTheirMethod) {
  KivAdt::Tree<int*> t("class KivMox::Node *");
  std::string description;
  EXPECT_EQ(CodeOf([&] { t.GetReqNode(9); }, &description), 5);
  EXPECT_EQ(description, "Element Not Found");
  EXPECT_EQ(MethodOf([&] { t.GetReqNode(9); }), "KivAdt::Tree<class KivMox::Node *>::GetReqNode");
  EXPECT_EQ(MethodOf([&] { t.SetCurrentId(2); }),
            "KivAdt::Tree<class KivMox::Node *>::SetCurrentId");
  t.SetCurrentId(0);
  EXPECT_EQ(MethodOf([&] { t.GetCurrentNode(); }),
            "KivAdt::Tree<class KivMox::Node *>::GetCurrentNode");
}

TEST(AdtTreeTest, SetCurrentIdAcceptsZeroButThereIsNoEntryZero) {
  IntTree t;
  t.SetCurrentId(0);
  EXPECT_EQ(t.CurrentId(), 0u);
  EXPECT_EQ(CodeOf([&] { t.GetCurrentNode(); }), 5);
}

TEST(AdtTreeTest, SetCurrentIdAtNextIdFailsAndKeepsTheCurrentId) {
  IntTree t;
  t.AppendChild(5);
  t.SetCurrentId(1);
  EXPECT_EQ(CodeOf([&] { t.SetCurrentId(3); }), 5);
  EXPECT_EQ(t.CurrentId(), 1u);
  EXPECT_EQ(CodeOf([&] { t.SetCurrentId(0xFFFFFFFF); }), 5);
  t.SetCurrentId(2);
  EXPECT_EQ(t.GetCurrentNode().data, 5);
}

TEST(AdtTreeTest, AppendingWithoutResettingMakesAChain) {
  IntTree t;
  EXPECT_EQ(t.AppendChild(10), 2u);
  EXPECT_EQ(t.AppendChild(20), 3u);
  EXPECT_EQ(t.AppendChild(30), 4u);
  EXPECT_EQ(t.CurrentId(), 4u);
  EXPECT_EQ(t.NextId(), 5u);
  for (std::uint32_t id = 2; id <= 4; ++id) {
    const auto& e = t.GetReqNode(id);
    EXPECT_EQ(e.parentId, id - 1);
    EXPECT_EQ(e.prevSiblingId, 0u);
    EXPECT_EQ(e.nextSiblingId, 0u);
    EXPECT_EQ(t.GetReqNode(id - 1).firstChildId, id);
    EXPECT_EQ(t.GetReqNode(id - 1).lastChildId, id);
  }
  EXPECT_EQ(t.GetReqNode(4).firstChildId, 0u);
}

TEST(AdtTreeTest, ResettingToTheParentMakesSiblings) {
  IntTree t;
  for (int i = 0; i < 3; ++i) {
    t.SetCurrentId(1);
    t.AppendChild(i);
  }
  const auto& root = t.GetReqNode(1);
  EXPECT_EQ(root.firstChildId, 2u);
  EXPECT_EQ(root.lastChildId, 4u);
  EXPECT_EQ(t.GetReqNode(2).prevSiblingId, 0u);
  EXPECT_EQ(t.GetReqNode(2).nextSiblingId, 3u);
  EXPECT_EQ(t.GetReqNode(3).prevSiblingId, 2u);
  EXPECT_EQ(t.GetReqNode(3).nextSiblingId, 4u);
  EXPECT_EQ(t.GetReqNode(4).prevSiblingId, 3u);
  EXPECT_EQ(t.GetReqNode(4).nextSiblingId, 0u);
  for (std::uint32_t id = 2; id <= 4; ++id) EXPECT_EQ(t.GetReqNode(id).parentId, 1u);
}

TEST(AdtTreeTest, AppendingBelowAMissingCurrentEntryCreatesIt) {
  IntTree t;
  t.SetCurrentId(0);
  EXPECT_EQ(t.AppendChild(7), 2u);
  const auto& zero = t.GetReqNode(0);
  EXPECT_EQ(zero.firstChildId, 2u);
  EXPECT_EQ(zero.lastChildId, 2u);
  EXPECT_EQ(t.GetReqNode(2).parentId, 0u);
  EXPECT_EQ(t.Size(), 3u);
}

TEST(AdtTreeTest, SetEntryRaisesNextIdOnlyUpwards) {
  IntTree t;
  KivAdt::TreeEntry<int> e;
  e.id = 10;
  e.parentId = 1;
  e.data = 100;
  t.SetEntry(e);
  EXPECT_EQ(t.NextId(), 11u);
  e.id = 5;
  t.SetEntry(e);
  EXPECT_EQ(t.NextId(), 11u);
  // Other entries' links are not touched.
  EXPECT_EQ(t.GetReqNode(1).firstChildId, 0u);
  EXPECT_EQ(t.AppendChild(1), 11u);
}

TEST(AdtTreeTest, SetEntryReplacesTheEntryOfItsIdentifier) {
  IntTree t;
  KivAdt::TreeEntry<int> e;
  e.id = 1;
  e.firstChildId = 2;
  e.lastChildId = 2;
  e.data = 42;
  t.SetEntry(e);
  EXPECT_EQ(t.Size(), 1u);
  EXPECT_EQ(t.GetReqNode(1).data, 42);
  EXPECT_EQ(t.GetReqNode(1).firstChildId, 2u);
  EXPECT_EQ(t.NextId(), 2u);
}

TEST(AdtTreeTest, IdentifierSpaceDoesNotWrap) {
  IntTree t;
  KivAdt::TreeEntry<int> e;
  e.id = 0xFFFFFFFE;
  t.SetEntry(e);
  EXPECT_EQ(t.NextId(), 0xFFFFFFFFu);
  EXPECT_EQ(CodeOf([&] { t.AppendChild(1); }), 1);
  e.id = 0xFFFFFFFF;
  EXPECT_EQ(CodeOf([&] { t.SetEntry(e); }), 1);
  EXPECT_EQ(t.Size(), 2u);
  EXPECT_EQ(t.NextId(), 0xFFFFFFFFu);
}

TEST(AdtTreeTest, IterationIsInIdentifierOrder) {
  IntTree t;
  for (std::uint32_t id : {9u, 3u, 7u}) {
    KivAdt::TreeEntry<int> e;
    e.id = id;
    t.SetEntry(e);
  }
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : t) {
    EXPECT_EQ(entry.id, id);
    ids.push_back(id);
  }
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 3, 7, 9}));
}

TEST(AdtTreeTest, MatchingComparesNameTypeAndVersion) {
  Item a{"n", "Group", "0.4"}, b{"n", "Group", "0.4"}, otherName{"m", "Group", "0.4"},
      otherType{"n", "Shape", "0.4"}, otherVersion{"n", "Group", "0.3"};
  ItemTree t;
  for (Item* p : {&otherName, &otherType, &otherVersion, &b, &a}) {
    t.SetCurrentId(1);
    t.AppendChild(p);
  }
  Item probe{"n", "Group", "0.4"};
  EXPECT_EQ(t.GetMatchingNodeId(&probe), 5u);  // b, the smaller of two equal ones
  Item none{"n ", "Group", "0.4"};
  EXPECT_EQ(CodeOf([&] { t.GetMatchingNodeId(&none); }), 5);
  EXPECT_EQ(CodeOf([&] { t.GetMatchingNodeId(nullptr); }), 5);
}

TEST(AdtTreeTest, NullPayloadsNeverMatch) {
  ItemTree t;  // the root has a null payload
  Item probe;
  EXPECT_EQ(CodeOf([&] { t.GetMatchingNodeId(&probe); }), 5);
}

}  // namespace
