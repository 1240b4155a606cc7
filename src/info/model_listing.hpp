// What moxinfo shows of a loaded Mox model, gathered from the tree without printing:
// the node tree in walk order, the save history and the view points.
//
// The walk starts at the root (identifier 1) and follows first-child and next-sibling
// links. An entry is listed once, at the place where the walk first reaches it. A link
// to an identifier without an entry (dangling), to an entry already listed (a cycle or a
// second parent) or deeper than kMaxListingDepth levels is reported as a LinkProblem at
// that place and not followed. Entries that the walk never reaches are listed
// afterwards, flat and in identifier order, without following their links.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kiv/mox/global_info.hpp"

namespace KivMox {
class Tree;
struct GeometryArray;
}  // namespace KivMox

namespace MoxInfo {

inline constexpr int kMaxListingDepth = 256;

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

struct LinkProblem {
  std::uint32_t from = 0;  // the entry holding the link (0 for the root itself)
  std::string link;        // "root", "first child" or "next sibling"
  std::uint32_t to = 0;
  std::string problem;  // "dangling", "cycle" or "too deep"
  int depth = 0;
};

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
