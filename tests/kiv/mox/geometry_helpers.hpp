// Test helpers for geometry: arrays built from values, and geometry saved to and loaded
// from a real container file the way the tree saver and loader drive them.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace GeometryTest {

inline const std::string kLight = "Light Data";
inline const std::string kHeavy = "Heavy Data";
inline const std::string kAttributes = "Attributes";

template <class T>
KivMox::NumericArray DataOf(const std::vector<T>& values, std::uint8_t components) {
  static_assert(sizeof(T) == 4);
  KivMox::NumericArray data;
  data.componentCount = components;
  if (!values.empty())
    std::memcpy(data.Allocate(values.size() * 4), values.data(), values.size() * 4);
  return data;
}

template <class T>
std::vector<T> ValuesOf(const KivMox::NumericArray& data) {
  std::vector<T> values(data.byteSize / 4);
  if (!values.empty()) std::memcpy(values.data(), data.Bytes(), values.size() * 4);
  return values;
}

inline KivMox::GeometryArray MakeArray(const std::string& name, std::uint32_t kind,
                                       KivMox::NumericArray data) {
  KivMox::GeometryArray array;
  array.name = name;
  array.kind = kind;
  array.data = std::move(data);
  return array;
}

inline KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t kind,
                                         std::uint32_t node, std::uint32_t index) {
  KivMox::GeometryArray array;
  array.name = name;
  array.kind = kind;
  array.linked = 1;
  array.linkNode = node;
  array.linkIndex = index;
  return array;
}

// Writes the geometries as the tree saver does: the connectivity pass over all of them,
// the other pass over all of them, then each light record. Returns the light position
// of each record. With compress, every section is stored zlib-compressed.
inline std::vector<std::uint64_t> SaveGeometries(const std::string& path,
                                                 const std::vector<KivMox::Geometry*>& all,
                                                 bool compress = true) {
  std::vector<std::uint64_t> positions;
  TestSupport::WriteContainer(path, [&](KivRkf::RkFile& f) {
    KivRkf::Index& index = f.GetIndex();
    for (KivMox::Geometry* g : all) g->WriteHeavyData(index, f.Stream(), kHeavy, true);
    for (KivMox::Geometry* g : all) g->WriteHeavyData(index, f.Stream(), kHeavy, false);
    for (KivMox::Geometry* g : all) {
      positions.push_back(index.GetSize(kLight));
      g->WriteRk(index, kLight, kHeavy, kAttributes);
    }
    if (compress)
      for (const std::string& name : {kHeavy, kLight, kAttributes})
        index.SetBlockFlags(name, KivRkf::kFlagZlib);
  });
  return positions;
}

// Reads each light record at its position, then runs both loading passes over all
// geometries and forgets the heavy positions, as the tree loader does.
inline void LoadGeometries(KivRkf::Index& index, const std::vector<KivMox::Geometry*>& all,
                           const std::vector<std::uint64_t>& positions, const std::string& version,
                           std::uint32_t idOffset = 0) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    index.SetReadingPosition(kLight, positions[i]);
    KivMox::ReadGeometry(*all[i], index, kLight, kHeavy, kAttributes, version, idOffset);
  }
  for (KivMox::Geometry* g : all) g->LoadConnectivityBlocks(index, kHeavy);
  for (KivMox::Geometry* g : all) g->LoadOtherBlocks(index, kHeavy);
  for (KivMox::Geometry* g : all) g->ClearHeavyPositions();
}

}  // namespace GeometryTest
