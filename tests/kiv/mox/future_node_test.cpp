// FutureNode records (a byte count and that many skipped bytes) and the node class that
// a type name selects.
#include "kiv/mox/future_node.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/node_factory.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/record_file.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::FutureNode;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::RecordFile;

const std::string kLight = "Light Data";
constexpr std::uint32_t kSentinel = 0xFEEDC0DE;

std::uint32_t NextLight(KivRkf::Index& index) {
  std::uint32_t v = 0;
  index.Get(kLight, v);
  return v;
}

TEST(FutureNodeTest, TypeNameAndVersion) {
  FutureNode n;
  EXPECT_EQ(n.GetTypeName(), "FutureNode");
  EXPECT_EQ(n.GetVersion(), "0.1");
}

TEST(FutureNodeTest, ReaderSkipsTheCountedBytes) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kLight, std::uint32_t{6});
    index.Put(kLight, std::vector<std::uint8_t>{9, 9});  // 4 + 2 bytes
    index.Put(kLight, kSentinel);
  });
  FutureNode n;
  KivMox::ReadFutureNode(n, file.Index(), kLight);
  EXPECT_EQ(NextLight(file.Index()), kSentinel);
}

TEST(FutureNodeTest, WrittenRecordIsAZeroCountThatReadsBack) {
  FutureNode n;
  RecordFile file([&](KivRkf::Index& index) {
    KivMox::WriteFutureNode(n, index);
    index.Put(kLight, kSentinel);
  });
  const Bytes light = file.StreamBytes(kLight);
  ASSERT_EQ(light.size(), 8u);
  EXPECT_EQ(Bytes(light.begin(), light.begin() + 4), (Bytes{0, 0, 0, 0}));
  FutureNode r;
  KivMox::ReadFutureNode(r, file.Index(), kLight);
  EXPECT_EQ(NextLight(file.Index()), kSentinel);
}

TEST(FutureNodeTest, CountBeyondTheBlockFails) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kLight, std::uint32_t{0xFFFFFFF0});
    index.Put(kLight, kSentinel);
  });
  FutureNode n;
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivMox::ReadFutureNode(n, file.Index(), kLight); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

TEST(NodeFactoryTest, TypeNamesSelectTheirClasses) {
  EXPECT_NE(dynamic_cast<KivMox::Group*>(KivMox::MakeNode("Group").get()), nullptr);
  EXPECT_NE(dynamic_cast<KivMox::Shape*>(KivMox::MakeNode("Shape").get()), nullptr);
  EXPECT_NE(dynamic_cast<KivMox::Geometry*>(KivMox::MakeNode("Geometry").get()), nullptr);
  EXPECT_NE(dynamic_cast<KivMox::NodeSets*>(KivMox::MakeNode("NodeSets").get()), nullptr);
}

TEST(NodeFactoryTest, EmptyTypeNameGivesNoNode) {
  EXPECT_EQ(KivMox::MakeNode(""), nullptr);
}

TEST(NodeFactoryTest, UnknownAndInexactNamesGiveFutureNodes) {
  for (const char* name : {"Foo", "Material", "Node", "group", "Group ", "FutureNode"}) {
    auto node = KivMox::MakeNode(name);
    ASSERT_NE(node, nullptr) << name;
    EXPECT_EQ(node->GetTypeName(), "FutureNode") << name;
  }
}

}  // namespace
