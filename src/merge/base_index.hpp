// Look-ups into the base of a merge as instances, kept from input to input so that each
// costs the same however many inputs were joined before: the first base geometry of a name
// (what GetMatchingNodeId gives for a new geometry of that name) and, per geometry, the
// first array of a name (what FindOrAddArray gives). The base's nodes never change during
// the merge, and its geometries' arrays are only appended, never renamed once tagged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace KivMox {
class Geometry;
class Tree;
}  // namespace KivMox

namespace MoxMerge {

class BaseIndex {
 public:
  explicit BaseIndex(KivMox::Tree& base) : base_(base) {}

  // The smallest identifier of a base node named name of the type and record version of a
  // new geometry; empty when there is none.
  std::optional<std::uint32_t> GeometryNamed(const std::string& name);
  // The index of the first array named name of the geometry at id, appended when it has
  // none.
  std::uint32_t FindOrAddArray(std::uint32_t id, KivMox::Geometry& geometry,
                               const std::string& name);

 private:
  KivMox::Tree& base_;
  std::optional<std::unordered_map<std::string, std::uint32_t>> geometries_;
  struct Arrays {
    std::unordered_map<std::string, std::uint32_t> first;
    std::size_t indexed = 0;  // the arrays entered so far
  };
  std::unordered_map<std::uint32_t, Arrays> arrays_;
};

}  // namespace MoxMerge
