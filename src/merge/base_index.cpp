#include "merge/base_index.hpp"

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/tree.hpp"

namespace MoxMerge {

std::optional<std::uint32_t> BaseIndex::GeometryNamed(const std::string& name) {
  if (!geometries_) {
    geometries_.emplace();
    const KivMox::Geometry probe;
    const std::string type = probe.GetTypeName(), version = probe.GetVersion();
    // Entries in ascending identifier order: the first of a name stays.
    for (const auto& [id, entry] : base_.Entries())
      if (const KivMox::Node* node = entry.data;
          node && node->GetTypeName() == type && node->GetVersion() == version)
        geometries_->emplace(node->name, id);
  }
  auto it = geometries_->find(name);
  if (it == geometries_->end()) return std::nullopt;
  return it->second;
}

std::uint32_t BaseIndex::FindOrAddArray(std::uint32_t id, KivMox::Geometry& geometry,
                                        const std::string& name) {
  Arrays& arrays = arrays_[id];
  for (; arrays.indexed < geometry.arrays.size(); ++arrays.indexed)
    arrays.first.emplace(geometry.arrays[arrays.indexed].name,
                         static_cast<std::uint32_t>(arrays.indexed));
  if (auto it = arrays.first.find(name); it != arrays.first.end()) return it->second;
  return geometry.AddArray(name);
}

}  // namespace MoxMerge
