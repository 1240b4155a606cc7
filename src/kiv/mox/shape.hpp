// KivMox::Shape: a node holding one material. Record of version "0.2": the versioned
// material record (material.hpp) in "Resources". Versions "0.0a" and "0.1" store nothing
// and keep the default material; any other version is read as "0.2".
#pragma once

#include <string>

#include "kiv/mox/material.hpp"
#include "kiv/mox/node.hpp"

namespace KivRkf {
class IndexReader;
class IndexWriter;
}  // namespace KivRkf

namespace KivMox {

class Shape : public Node {
 public:
  static constexpr NodeKind kKind = NodeKind::Shape;
  NodeKind Kind() const override { return kKind; }
  std::string GetVersion() const override { return "0.2"; }

  Material material;
};

void ReadShape(Shape& shape, KivRkf::IndexReader& index, const std::string& resources,
               const std::string& version);
void WriteShape(const Shape& shape, KivRkf::IndexWriter& index);

}  // namespace KivMox
