// FutureNode records (a byte count and that many skipped bytes) and the node class that
// a type name selects.
#include "kiv/mox/future_node.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/node_kinds.hpp"
#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::FutureNode;
using TestSupport::Bytes;
using TestSupport::Next;
using TestSupport::RecordFile;

const std::string kLight = "Light Data";
constexpr std::uint32_t kSentinel = 0xFEEDC0DE;

TEST(FutureNodeTest, WrittenAsAZeroCountAndReadBySkippingTheCountedBytes) {
  RecordFile file([](KivRkf::Index& index) {
    KivMox::WriteFutureNode(FutureNode{}, index);
    TestSupport::PutAll(index, kLight, std::uint32_t{6}, std::vector<std::uint8_t>{9, 9}, kSentinel,
                        std::uint32_t{0xFFFFFFF0}, kSentinel);
  });
  const Bytes light = file.StreamBytes(kLight);
  ASSERT_GE(light.size(), 4u);
  EXPECT_EQ(Bytes(light.begin(), light.begin() + 4), (Bytes{0, 0, 0, 0}));
  FutureNode n;
  KivMox::ReadFutureNode(n, file.Index(), kLight);
  KivMox::ReadFutureNode(n, file.Index(), kLight);  // 4 + 2 bytes
  EXPECT_EQ(Next(file.Index(), kLight), kSentinel);
  std::string description;
  EXPECT_EQ(
      TestSupport::CodeOf([&] { KivMox::ReadFutureNode(n, file.Index(), kLight); }, &description),
      1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

// Type names select their kind by exact comparison; every kind's name selects it back.
TEST(NodeKindsTest, TypeNamesSelectTheirKinds) {
  using KivMox::NodeKind;
  EXPECT_EQ(KivMox::KindOfTypeName(""), nullptr);
  EXPECT_EQ(KivMox::KindInfo(NodeKind::Material).typeName, std::string("Material"));
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
