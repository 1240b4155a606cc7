// The node class that a tree header's type name selects (exact comparison):
//   "Group" -> Group, "Shape" -> Shape, "Geometry" -> Geometry, "NodeSets" -> NodeSets,
//   "" -> no node, any other name -> FutureNode.
#pragma once

#include <memory>
#include <string>

#include "kiv/mox/node.hpp"

namespace KivMox {

std::unique_ptr<Node> MakeNode(const std::string& typeName);

}  // namespace KivMox
