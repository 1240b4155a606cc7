// KivMox::Tree: ownership of node payloads (deleted with the tree, replaced payloads
// deleted once) and matching of node payloads.
#include "kiv/mox/tree.hpp"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/shape.hpp"
#include "support/test_support.hpp"

namespace {

using KivMox::Node;
using KivMox::Tree;
using TestSupport::CodeOf;

// A node that counts how many of its kind are alive.
struct Counted : KivMox::Group {
  static inline int alive = 0;
  Counted() { ++alive; }
  ~Counted() override { --alive; }
};

std::unique_ptr<Node> Named(std::unique_ptr<Node> node, const std::string& name) {
  node->name = name;
  return node;
}

TEST(MoxTreeTest, ConstructorsAndDefaults) {
  Tree plain;
  EXPECT_EQ(plain.Size(), 1u);
  EXPECT_EQ(plain.GetNode(1), nullptr);
  EXPECT_FALSE(plain.HasViewPoints());
  EXPECT_EQ(plain.applicationName, "");
  Tree named("MoxMerge", "2017 R1");
  EXPECT_EQ(named.applicationName, "MoxMerge");
  EXPECT_EQ(named.applicationVersion, "2017 R1");
}

TEST(MoxTreeTest, DestructorDeletesEveryNode) {
  Counted::alive = 0;
  {
    Tree t;
    t.AppendChildNode(std::make_unique<Counted>());
    t.AppendChildNode(std::make_unique<Counted>());
    KivAdt::TreeEntry<Node*> e;
    e.id = 1;
    t.SetEntryNode(e, std::make_unique<Counted>());
    EXPECT_EQ(Counted::alive, 3);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST(MoxTreeTest, ReplacingAnEntryDeletesTheOldNode) {
  Counted::alive = 0;
  Tree t;
  const std::uint32_t id = t.AppendChildNode(std::make_unique<Counted>());
  KivAdt::TreeEntry<Node*> e = t.GetReqNode(id);
  t.SetEntryNode(e, std::make_unique<Counted>());
  EXPECT_EQ(Counted::alive, 1);
  e.data = nullptr;
  t.SetEntry(e);  // an entry without a node
  EXPECT_EQ(Counted::alive, 0);
  EXPECT_EQ(t.GetNode(id), nullptr);
}

TEST(MoxTreeTest, ReplacingAnEntryWithItsOwnNodeKeepsIt) {
  Counted::alive = 0;
  Tree t;
  const std::uint32_t id = t.AppendChildNode(std::make_unique<Counted>());
  KivAdt::TreeEntry<Node*> e = t.GetReqNode(id);
  Node* same = e.data;
  e.nextSiblingId = 9;
  t.SetEntry(e);
  EXPECT_EQ(Counted::alive, 1);
  EXPECT_EQ(t.GetNode(id), same);
  EXPECT_EQ(t.GetReqNode(id).nextSiblingId, 9u);
}

TEST(MoxTreeTest, NodeHandedOverIsFreedWhenPlacingFails) {
  Counted::alive = 0;
  Tree t;
  KivAdt::TreeEntry<Node*> e;
  e.id = 0xFFFFFFFF;
  EXPECT_EQ(CodeOf([&] { t.SetEntryNode(e, std::make_unique<Counted>()); }), 1);
  EXPECT_EQ(Counted::alive, 0);
  EXPECT_EQ(t.Size(), 1u);
}

TEST(MoxTreeTest, GetNodeOfAMissingEntryIsNull) {
  Tree t;
  EXPECT_EQ(t.GetNode(0), nullptr);
  EXPECT_EQ(t.GetNode(77), nullptr);
  const std::uint32_t id = t.AppendChildNode(std::make_unique<KivMox::Shape>());
  ASSERT_NE(t.GetNode(id), nullptr);
  EXPECT_EQ(t.GetNode(id)->GetTypeName(), "Shape");
}

TEST(MoxTreeTest, MatchingUsesNameTypeAndVersion) {
  Tree t;
  t.AppendChildNode(Named(std::make_unique<KivMox::Group>(), "part"));
  t.SetCurrentId(1);
  t.AppendChildNode(Named(std::make_unique<KivMox::Shape>(), "part"));
  t.SetCurrentId(1);
  t.AppendChildNode(Named(std::make_unique<KivMox::Shape>(), "part"));
  KivMox::Shape probe;
  probe.name = "part";
  EXPECT_EQ(t.GetMatchingNodeId(&probe), 3u);
  KivMox::FutureNode future;
  future.name = "part";
  std::string method;
  try {
    t.GetMatchingNodeId(&future);
    ADD_FAILURE() << "no exception";
  } catch (const Kiv::Util::Exception& e) {
    EXPECT_EQ(e.GetCode(), Kiv::Util::ErrorCode::ElementNotFound);
    method = e.GetRecord().method;
  }
  EXPECT_EQ(method, "KivAdt::Tree<class KivMox::Node *>::GetMatchingNodeId");
}

}  // namespace
