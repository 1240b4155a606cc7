// Group records in "Light Data" and "Attributes" (layout in group.hpp).
#include "kiv/mox/group.hpp"

#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"

namespace KivMox {

void ReadGroup(Group& group, KivRkf::IndexReader& index, const std::string& light,
               const std::string& attributes, const std::string& version) {
  if (version == "0.0a" || version == "0.1") return;
  index.Get(light, group.translation);
  index.Get(light, group.rotation);
  index.Get(light, group.scale);
  if (version == "0.2") return;
  ReadAttributeMap(index, attributes, group.attributes);
  if (version == "0.3") return;
  index.Get(light, group.mergeRoot);
}

void WriteGroup(const Group& group, KivRkf::IndexWriter& index) {
  index.Put("Light Data", group.translation);
  index.Put("Light Data", group.rotation);
  index.Put("Light Data", group.scale);
  WriteAttributeMap(index, "Attributes", group.attributes);
  index.Put("Light Data", group.mergeRoot);
}

}  // namespace KivMox
