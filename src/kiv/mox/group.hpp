// KivMox::Group: a node with a transform and attributes. Record of version "0.4":
//   "Light Data"  translation (3 x f32), rotation (4 x f32), scale (3 x f32)   40 bytes
//   "Attributes"  attribute map (attribute.hpp)
//   "Light Data"  mergeRoot (u8)
// Older versions: "0.0a" and "0.1" store nothing, "0.2" the 40 light bytes only, "0.3"
// those and the attributes. Any other version is read as "0.4".
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kiv/mox/attribute.hpp"
#include "kiv/mox/node.hpp"

namespace KivMox {

class Group : public Node {
 public:
  static constexpr NodeKind kKind = NodeKind::Group;
  NodeKind Kind() const override { return kKind; }
  std::string GetVersion() const override { return "0.4"; }

  std::array<float, 3> translation = {0, 0, 0};
  std::array<float, 4> rotation = {0, 0, 1, 0};
  std::array<float, 3> scale = {1, 1, 1};
  AttributeMap attributes;
  // Set on the root group that a merge creates for its output.
  std::uint8_t mergeRoot = 0;
};

void ReadGroup(Group& group, KivRkf::IndexReader& index, const std::string& light,
               const std::string& attributes, const std::string& version);
void WriteGroup(const Group& group, KivRkf::IndexWriter& index);

}  // namespace KivMox
