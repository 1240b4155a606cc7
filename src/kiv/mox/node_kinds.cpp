#include "kiv/mox/node_kinds.hpp"

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"

namespace KivMox {

namespace {

std::unique_ptr<Node> ReadGroupNode(KivRkf::IndexReader& index, const std::string& version,
                                    std::uint32_t) {
  auto group = std::make_unique<Group>();
  ReadGroup(*group, index, kLightData, kAttributes, version);
  return group;
}

std::unique_ptr<Node> ReadShapeNode(KivRkf::IndexReader& index, const std::string& version,
                                    std::uint32_t) {
  auto shape = std::make_unique<Shape>();
  ReadShape(*shape, index, kResources, version);
  return shape;
}

std::unique_ptr<Node> ReadGeometryNode(KivRkf::IndexReader& index, const std::string& version,
                                       std::uint32_t idOffset) {
  auto geometry = std::make_unique<Geometry>();
  ReadGeometry(*geometry, index, kLightData, kHeavyData, kAttributes, version, idOffset);
  return geometry;
}

std::unique_ptr<Node> ReadNodeSetsNode(KivRkf::IndexReader& index, const std::string&,
                                       std::uint32_t) {
  auto sets = std::make_unique<NodeSets>();
  ReadNodeSetsLight(*sets, index, kLightData);
  return sets;
}

std::unique_ptr<Node> ReadFutureNodeNode(KivRkf::IndexReader& index, const std::string&,
                                         std::uint32_t) {
  auto future = std::make_unique<FutureNode>();
  ReadFutureNode(*future, index, kLightData);
  return future;
}

void WriteNodeSetsNode(Node& node, KivRkf::IndexWriter& index) {
  auto& sets = static_cast<NodeSets&>(node);
  WriteNodeSetsHeavy(sets, index, kHeavyData);
  WriteNodeSetsLight(sets, index, kLightData);
}

// In NodeKind order.
const NodeKindInfo kKinds[] = {
    {NodeKind::Group, "Group", ReadGroupNode,
     [](Node& n, KivRkf::IndexWriter& index) { WriteGroup(static_cast<Group&>(n), index); }},
    {NodeKind::Shape, "Shape", ReadShapeNode,
     [](Node& n, KivRkf::IndexWriter& index) { WriteShape(static_cast<Shape&>(n), index); }},
    {NodeKind::Geometry, "Geometry", ReadGeometryNode,
     [](Node& n, KivRkf::IndexWriter& index) {
       static_cast<Geometry&>(n).WriteRk(index, kLightData, kAttributes);
     }},
    {NodeKind::NodeSets, "NodeSets", ReadNodeSetsNode, WriteNodeSetsNode},
    {NodeKind::Future, "FutureNode", ReadFutureNodeNode,
     [](Node& n, KivRkf::IndexWriter& index) {
       WriteFutureNode(static_cast<FutureNode&>(n), index);
     }},
    // Written inside its shape's records: read and written by them alone.
    {NodeKind::Material, "Material", nullptr, nullptr},
};

}  // namespace

const NodeKindInfo* KindOfTypeName(const std::string& typeName) {
  if (typeName.empty()) return nullptr;
  for (const NodeKindInfo& kind : kKinds)
    if (kind.kind < NodeKind::Future && typeName == kind.typeName) return &kind;
  return &KindInfo(NodeKind::Future);
}

const NodeKindInfo& KindInfo(NodeKind kind) {
  return kKinds[static_cast<int>(kind)];
}

std::string Node::GetTypeName() const {
  return KindInfo(Kind()).typeName;
}

}  // namespace KivMox
