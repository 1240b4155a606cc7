// The node class of a tree header's type name.
#include "kiv/mox/node_factory.hpp"

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"

namespace KivMox {

std::unique_ptr<Node> MakeNode(const std::string& typeName) {
  if (typeName.empty()) return nullptr;
  if (typeName == "Group") return std::make_unique<Group>();
  if (typeName == "Shape") return std::make_unique<Shape>();
  if (typeName == "Geometry") return std::make_unique<Geometry>();
  if (typeName == "NodeSets") return std::make_unique<NodeSets>();
  return std::make_unique<FutureNode>();
}

}  // namespace KivMox
