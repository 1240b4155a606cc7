// What moxinfo shows of a loaded Mox model, gathered from the tree without printing:
// the node tree in walk order, the save history and the view points.
//
// The node tree is the walk of tools/tree_walk.hpp from the root: an entry is listed once,
// where the walk first reaches it, and a broken link (dangling, a cycle or a second parent,
// too deep) at the place where the walk meets it. Entries that the walk never reaches are
// listed afterwards, flat and in identifier order, without following their links.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kiv/mox/global_info.hpp"
#include "tools/tree_walk.hpp"

namespace KivMox {
class Tree;
struct GeometryArray;
}  // namespace KivMox

namespace MoxInfo {

struct ArrayListing {
  std::uint32_t index = 0;
  std::string name;  // raw bytes
  std::uint32_t kind = 0;
  std::uint32_t subKind = 0;
  std::uint64_t byteSize = 0;
  std::uint64_t valueCount = 0;
  std::uint8_t components = 0;
  std::uint8_t vibration = 0;
  std::size_t attributes = 0;
  bool linked = false;
  std::uint32_t linkNode = 0;
  std::uint32_t linkIndex = 0;
  bool linkResolves = false;  // the link names an existing array of a geometry
  bool integers = false;      // connectivity kinds 4, 5, 6 and 9
  // Smallest and largest value (NaN not counted); absent without values.
  std::optional<double> minimum;
  std::optional<double> maximum;
  std::uint64_t nanCount = 0;
};

struct NodeSetListing {
  std::string name;
  std::uint64_t members = 0;
};

struct EntryListing {
  std::uint32_t id = 0;
  std::uint32_t parentId = 0;      // as stored in the entry
  std::uint32_t walkParentId = 0;  // the entry the walk came from (0 at the root level)
  int depth = 0;
  bool reached = true;
  bool hasNode = false;
  std::string name, type, version;  // raw bytes
  // Groups.
  std::optional<std::uint8_t> mergeRoot;
  std::size_t attributes = 0;
  // Shapes: the material's first colour.
  std::optional<std::array<float, 4>> colour;
  // Geometry.
  bool isGeometry = false;
  std::vector<ArrayListing> arrays;
  // Node sets.
  bool isNodeSets = false;
  std::vector<NodeSetListing> sets;
};

using LinkProblem = MoxTools::BrokenLink;

using ListingLine = std::variant<EntryListing, LinkProblem>;

struct ViewGroupListing {
  std::string name;
  std::size_t entries = 0;
};

struct ModelListing {
  std::string path;
  std::string containerVersion;
  std::size_t entryCount = 0;
  std::vector<ListingLine> lines;  // the walk, problems in place, then unreached entries
  std::vector<KivMox::GlobalInfoRecord> history;
  bool hasViewPoints = false;
  std::string currentViewName;
  std::vector<ViewGroupListing> viewGroups;
  std::size_t actionCount = 0;
};

ModelListing ListModel(const KivMox::Tree& tree, const std::string& path);
// The summary of one geometry array; tree resolves links.
ArrayListing ListArray(const KivMox::Tree& tree, const KivMox::GeometryArray& array,
                       std::uint32_t index);

}  // namespace MoxInfo
