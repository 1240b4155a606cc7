// Shape records: the material as one versioned record in "Resources".
#include "kiv/mox/shape.hpp"

#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"

namespace KivMox {

void ReadShape(Shape& shape, KivRkf::IndexReader& index, const std::string& resources,
               const std::string& version) {
  if (version == "0.0a" || version == "0.1") return;
  index.Get(resources, shape.material);
}

void WriteShape(const Shape& shape, KivRkf::IndexWriter& index) {
  index.Put("Resources", shape.material);
}

}  // namespace KivMox
