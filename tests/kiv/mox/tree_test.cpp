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

TEST(MoxTreeTest, TheTreeOwnsItsNodesAndDeletesReplacedOnesOnce) {
  Counted::alive = 0;
  {
    Tree t;
    EXPECT_EQ(t.GetNode(0), nullptr);
    EXPECT_EQ(t.GetNode(77), nullptr);
    t.AppendChildNode(std::make_unique<Counted>());
    const std::uint32_t id = t.AppendChildNode(std::make_unique<Counted>());
    KivAdt::TreeEntry<Node*> root;
    root.id = 1;
    t.SetEntryNode(root, std::make_unique<Counted>());
    EXPECT_EQ(Counted::alive, 3);
    // The entry written back with its own node keeps it.
    KivAdt::TreeEntry<Node*> e = t.GetReqNode(id);
    Node* same = e.data;
    e.nextSiblingId = 9;
    t.SetEntry(e);
    EXPECT_EQ(Counted::alive, 3);
    EXPECT_EQ(t.GetNode(id), same);
    EXPECT_EQ(t.GetReqNode(id).nextSiblingId, 9u);
    // Another node replaces it; an entry without a node deletes that one.
    t.SetEntryNode(e, std::make_unique<Counted>());
    EXPECT_EQ(Counted::alive, 3);
    e.data = nullptr;
    t.SetEntry(e);
    EXPECT_EQ(Counted::alive, 2);
    EXPECT_EQ(t.GetNode(id), nullptr);
    // A node handed over is freed when placing it fails.
    KivAdt::TreeEntry<Node*> bad;
    bad.id = 0xFFFFFFFF;
    EXPECT_EQ(CodeOf([&] { t.SetEntryNode(bad, std::make_unique<Counted>()); }), 1);
    EXPECT_EQ(Counted::alive, 2);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST(MoxTreeTest, MatchingUsesNameTypeAndVersion) {
  Tree t;
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<Node> node = i ? std::unique_ptr<Node>(std::make_unique<KivMox::Shape>())
                                   : std::make_unique<KivMox::Group>();
    node->name = "part";
    t.SetCurrentId(1);
    t.AppendChildNode(std::move(node));
  }
  EXPECT_EQ(t.GetNode(3)->GetTypeName(), "Shape");
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
