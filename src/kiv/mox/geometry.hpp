// KivMox::Geometry: a node holding an ordered list of named numeric arrays. The light
// record (in "Light Data", attribute maps in "Attributes") describes the arrays; their
// values lie in "Heavy Data" as stored runs (component_codec.hpp).
//
// Light record, versions "0.5", "0.6", "0.7":
//   u32 array count, then per array:
//     string name
//     u32 kind word     0xFFFFFFFF as is, else subKind << 24 | kind
//     u8 linked
//     linked:           u32 linkNode, u32 linkIndex
//     not linked:       u32 byte size, u8 components, u8 tagA, u8 tagB, u32 paramA,
//                       u32 paramB, u8 tagC, heavy position (u32 in 0.5/0.6, u64 in 0.7)
//     u8 vibration
//     attribute map (in "Attributes")
//   "0.5" data are read at once, as stored; "0.6"/"0.7" data are loaded by the two
//   passes after the whole tree was read, decoded by their component count.
//
// Older versions ("0.0a", "0.1", "0.2", "0.3", "0.4" and any other text):
//   u32 array count, then per array: string name, u32 kind, u32 byte size, u8 components,
//   [u8 tagA, u8 tagB, u32 paramA, u32 paramB, u8 tagC  unless "0.1"/"0.0a"]
//   [u8 vibration  unless also "0.2"] [attribute map  unless also "0.3"], u32 heavy position;
//   the data are read at once, as stored. Older records know no links.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kiv/mox/attribute.hpp"
#include "kiv/mox/node.hpp"
#include "kiv/mox/numeric_array.hpp"

namespace KivRkf {
class IndexReader;
class IndexWriter;
class RkFile;
}  // namespace KivRkf

namespace KivMox {

inline constexpr std::uint32_t kUnpackedKind = 0xFFFFFFFF;

struct GeometryArray {
  std::string name;
  std::uint32_t kind = 0;
  std::uint8_t vibration = 0;
  AttributeMap attributes;
  NumericArray data;
  std::uint8_t linked = 0;
  std::uint32_t linkNode = 0;
  std::uint32_t linkIndex = 0;
  // Where this array's stored run lies in "Heavy Data": set when a "0.6"/"0.7" record is
  // read (until the loading passes are done) and by the heavy writer (for WriteRk).
  std::optional<std::uint64_t> heavyPosition;
  // The run lies in a block that the save copied from the array's input as it was stored
  // (block_adoption.hpp); heavyPosition is its place in the output.
  bool adopted = false;

  // Kinds 4, 5, 6 and 9 hold 32-bit integers; every other kind 32-bit floats.
  bool IsConnectivity() const;
};

// The data of every array of a tree, by (geometry node identifier, array index).
using LinkSources = std::map<std::pair<std::uint32_t, std::uint32_t>, NumericArray>;

class Geometry : public Node {
 public:
  Geometry() = default;
  ~Geometry() override;
  static constexpr NodeKind kKind = NodeKind::Geometry;
  NodeKind Kind() const override { return kKind; }
  std::string GetVersion() const override { return "0.7"; }

  // The index of the first array named name; when there is none, a new default array
  // of that name is appended and its index returned.
  std::uint32_t FindOrAddArray(const std::string& name);
  // Appends a new array of that name with the defaults of a new array; its index.
  std::uint32_t AddArray(const std::string& name);

  // Deferred loading: instead of reading them, every non-linked array with a recorded
  // position gets a loader on the still-open file, which the heavy writer reads through.
  void DeferBlocks(const std::shared_ptr<KivRkf::RkFile>& file, const std::string& heavy);
  // Forgets every recorded heavy position (the end of a load).
  void ClearHeavyPositions();

  // Enters every array (linked or not) under (id, its index).
  void EnterArrays(std::uint32_t id, LinkSources& sources) const;
  // Gives every linked array a shared copy of the data under (linkNode, linkIndex); an
  // absent key yields empty data, which is also stored under that key. A linked array
  // keeps its own subKind, the one data field its record carries.
  void ResolveLinks(LinkSources& sources);

  // Writes the "0.7" light record; every non-linked array needs a recorded position.
  void WriteRk(KivRkf::IndexWriter& index, const std::string& light,
               const std::string& attributes) const;

  std::vector<GeometryArray> arrays;
};

// Reads the stored run of an array at its recorded heavy position into its values, decoded
// (connectivity arrays as integers, all others as floats).
void LoadStoredArray(KivRkf::IndexReader& index, const std::string& heavy, GeometryArray& array);

// Puts the stored run of an array that is neither linked nor adopted at the end of the
// stream heavy (streaming: full blocks go to the file at once) and records its position in
// the array. Values read through a loader go as stored when their form is kept.
void WriteHeavyArray(KivRkf::IndexWriter& index, std::FILE* stream, const std::string& heavy,
                     GeometryArray& array);

// The light reader: fills geometry from its record of the given version; idOffset is
// added to the linkNode of every linked array.
void ReadGeometry(Geometry& geometry, KivRkf::IndexReader& index, const std::string& light,
                  const std::string& heavy, const std::string& attributes,
                  const std::string& version, std::uint32_t idOffset);

// While one lives, ReadGeometry on this thread leaves the runs of records read at once
// ("0.5" and older) unread, with their positions and byte sizes recorded as for "0.6"/"0.7"
// records: a check of the whole file reads every run itself.
class ScopedRunsLeftUnread {
 public:
  ScopedRunsLeftUnread();
  ~ScopedRunsLeftUnread();
  ScopedRunsLeftUnread(const ScopedRunsLeftUnread&) = delete;
  ScopedRunsLeftUnread& operator=(const ScopedRunsLeftUnread&) = delete;

 private:
  bool previous_;
};

// Keeps the attributes of a record that are not reserved and sets the vibration flag.
void FilterArrayAttributes(const AttributeMap& read, GeometryArray& array);

}  // namespace KivMox
