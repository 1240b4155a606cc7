#include "kiv/mox/heavy_order.hpp"

#include <algorithm>
#include <unordered_map>

#include "kiv/log/log_manager.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/index_reader.hpp"

namespace KivMox {

namespace {

// Sorts by position, arrays of one position in the order given.
template <class Position>
void SortByPosition(std::vector<GeometryArray*>& arrays, Position position) {
  std::stable_sort(arrays.begin(), arrays.end(),
                   [&](GeometryArray* a, GeometryArray* b) { return position(*a) < position(*b); });
}

}  // namespace

std::vector<GeometryArray*> StoredOrder(const std::vector<Geometry*>& geometries) {
  std::vector<GeometryArray*> order;
  for (Geometry* geometry : geometries)
    for (GeometryArray& array : geometry->arrays)
      if (!array.linked && array.heavyPosition) order.push_back(&array);
  SortByPosition(order, [](const GeometryArray& a) { return *a.heavyPosition; });
  return order;
}

std::vector<GeometryArray*> WriteOrder(const std::vector<Geometry*>& geometries) {
  std::vector<std::vector<GeometryArray*>> inputs;
  std::unordered_map<const void*, std::size_t> inputOf;
  std::vector<GeometryArray*> inMemory[2];
  for (Geometry* geometry : geometries) {
    for (GeometryArray& array : geometry->arrays) {
      if (array.linked || array.adopted) continue;
      const DataLoader* loader = array.data.loader.get();
      if (!loader || !loader->file) {
        inMemory[array.IsConnectivity() ? 0 : 1].push_back(&array);
        continue;
      }
      const auto [at, fresh] = inputOf.emplace(loader->file.get(), inputs.size());
      if (fresh) inputs.emplace_back();
      inputs[at->second].push_back(&array);
    }
  }
  std::vector<GeometryArray*> order;
  for (std::vector<GeometryArray*>& input : inputs) {
    SortByPosition(input, [](const GeometryArray& a) { return a.data.loader->position; });
    order.insert(order.end(), input.begin(), input.end());
  }
  for (const auto& arrays : inMemory) order.insert(order.end(), arrays.begin(), arrays.end());
  return order;
}

void LogHeavyInflations(const char* method, const std::vector<const KivRkf::IndexReader*>& files,
                        std::uint64_t checked) {
  std::uint64_t inflated = checked, blocks = 0;
  for (const KivRkf::IndexReader* file : files) {
    inflated += file->Inflations(kHeavyData);
    if (file->HasName(kHeavyData)) blocks += file->Table().Names().at(kHeavyData).blocks.size();
  }
  KIV_LOG_INFO(method, "Heavy data blocks inflated: " + std::to_string(inflated) + " (of " +
                           std::to_string(blocks) + ")");
}

}  // namespace KivMox
