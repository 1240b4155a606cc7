// Geometry arrays in memory: lookup by name, reserved attributes, and the links by which
// an array takes the data of an array of another (or the same) geometry node.
#include "kiv/mox/geometry.hpp"

#include <cstring>

namespace KivMox {

namespace {

const char* const kReservedAttributes[] = {"Complex", "Contents", "DataSource", "DataType",
                                           "Structure"};

bool IsReservedAttribute(const std::string& name) {
  for (const char* reserved : kReservedAttributes)
    if (name == reserved) return true;
  return name.compare(0, 5, "Link.") == 0;
}

}  // namespace

bool GeometryArray::IsConnectivity() const {
  return kind == 4 || kind == 5 || kind == 6 || kind == 9;
}

Geometry::~Geometry() = default;

std::uint32_t Geometry::FindOrAddArray(const std::string& name) {
  for (std::size_t i = 0; i < arrays.size(); ++i)
    if (arrays[i].name == name) return static_cast<std::uint32_t>(i);
  return AddArray(name);
}

std::uint32_t Geometry::AddArray(const std::string& name) {
  GeometryArray added;
  added.name = name;
  arrays.push_back(std::move(added));
  return static_cast<std::uint32_t>(arrays.size() - 1);
}

void Geometry::ClearHeavyPositions() {
  for (GeometryArray& array : arrays) array.heavyPosition.reset();
}

void Geometry::EnterArrays(std::uint32_t id, LinkSources& sources) const {
  for (std::size_t i = 0; i < arrays.size(); ++i)
    sources[{id, static_cast<std::uint32_t>(i)}] = arrays[i].data;
}

void Geometry::ResolveLinks(LinkSources& sources) {
  for (GeometryArray& array : arrays) {
    if (!array.linked) continue;
    const std::uint32_t subKind = array.data.subKind;
    array.data = sources[{array.linkNode, array.linkIndex}];
    array.data.subKind = subKind;
  }
}

void FilterArrayAttributes(const AttributeMap& read, GeometryArray& array) {
  auto category = read.find("Category");
  array.vibration = category != read.end() && category->second.type == AttributeType::Text &&
                    category->second.text == "Vibration";
  array.attributes.clear();
  for (const auto& [name, value] : read)
    if (!IsReservedAttribute(name)) array.attributes.emplace(name, value);
}

}  // namespace KivMox
