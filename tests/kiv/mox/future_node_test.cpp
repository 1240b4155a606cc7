// FutureNode records (a byte count and that many skipped bytes) and the node class that
// a type name selects.
#include "kiv/mox/future_node.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/node_kinds.hpp"
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

// Type names select their kind by exact comparison; every kind's name selects it back.
TEST(NodeKindsTest, TypeNamesSelectTheirKinds) {
  using KivMox::NodeKind;
  EXPECT_EQ(KivMox::KindOfTypeName(""), nullptr);
  const std::pair<const char*, NodeKind> cases[] = {
      {"Group", NodeKind::Group},       {"Shape", NodeKind::Shape},
      {"Geometry", NodeKind::Geometry}, {"NodeSets", NodeKind::NodeSets},
      {"Foo", NodeKind::Future},        {"Node", NodeKind::Future},
      {"group", NodeKind::Future},      {"Group ", NodeKind::Future},
      {"FutureNode", NodeKind::Future},
  };
  for (const auto& [name, kind] : cases) {
    ASSERT_NE(KivMox::KindOfTypeName(name), nullptr) << name;
    EXPECT_EQ(KivMox::KindOfTypeName(name)->kind, kind) << name;
    EXPECT_EQ(KivMox::KindOfTypeName(KivMox::KindInfo(kind).typeName)->kind, kind);
  }
}

}  // namespace
