// Reading geometry: the light record of every version (layouts in geometry.hpp) and the
// two passes that load the stored runs of "0.6"/"0.7" arrays from "Heavy Data" once the
// whole tree was read. Every count and size is checked against the bytes that can back
// it before anything is allocated.
#include <cstring>
#include <optional>

#include "kiv/log/raise.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/stored_run.hpp"
#include "kiv/rkf/index_reader.hpp"

namespace KivMox {

namespace {

const char* const kReadMethod = "KivMox::ReadGeometry";

// The fewest "Light Data" bytes of one array record: a linked "0.5"+ record (name count,
// kind word, linked, linkNode, linkIndex, vibration), an older record (name count, kind,
// byte size, components, heavy position).
constexpr std::uint64_t kMinRecord = 18;
constexpr std::uint64_t kMinOldRecord = 17;

void CheckArrayCount(KivRkf::IndexReader& index, const std::string& light, std::uint32_t count,
                     std::uint64_t minRecord) {
  if (count == 0) return;
  std::optional<std::uint64_t> left = index.KnownBytesLeft(light);
  KIV_CHECK(!left || std::uint64_t(count) * minRecord <= *left, OutOfBounds,
            "Not enough bytes in the block", kReadMethod);
}

// Each record starts with unread bytes; so the records read never outnumber what the
// section holds, whatever the count says.
void CheckRecordStart(KivRkf::IndexReader& index, const std::string& light) {
  KivRkf::Block* block = index.ReadingBlock(light);
  KIV_CHECK(block && block->Remaining() != 0, OutOfBounds, "Not enough bytes in the block",
            kReadMethod);
}

thread_local bool runsLeftUnread = false;

// Reads the stored run of byteSize bytes at position into the array, as stored.
void ReadDataAtOnce(KivRkf::IndexReader& index, const std::string& heavy, std::uint64_t position,
                    std::uint32_t byteSize, GeometryArray& array) {
  NumericArray& data = array.data;
  if (runsLeftUnread) {
    data.byteSize = byteSize;
    array.heavyPosition = position;
    return;
  }
  index.SetReadingPosition(heavy, position);
  const std::uint8_t* run = TakeStoredRun(index, heavy, byteSize, kReadMethod);
  if (byteSize == 0) return;
  index.ClaimRange(heavy, position, byteSize);
  std::memcpy(data.Allocate(byteSize), run, byteSize);
}

bool IsNewLayout(const std::string& version) {
  return version == "0.5" || version == "0.6" || version == "0.7";
}

GeometryArray ReadNewArray(KivRkf::IndexReader& index, const std::string& light,
                           const std::string& heavy, const std::string& attributes,
                           const std::string& version, std::uint32_t idOffset) {
  GeometryArray array;
  NumericArray& data = array.data;
  index.Get(light, array.name);
  std::uint32_t word = 0;
  index.Get(light, word);
  array.kind = word == kUnpackedKind ? word : word & 0xFF;
  if (word != kUnpackedKind) data.subKind = word >> 24;
  std::uint8_t linked = 0;
  index.Get(light, linked);
  std::uint32_t byteSize = 0;
  std::uint64_t position = 0;
  if (linked == 1) {
    index.Get(light, array.linkNode);
    index.Get(light, array.linkIndex);
  } else {
    index.Get(light, byteSize);
    index.Get(light, data.componentCount);
    index.Get(light, data.tagA);
    index.Get(light, data.tagB);
    index.Get(light, data.paramA);
    index.Get(light, data.paramB);
    index.Get(light, data.tagC);
    if (version == "0.7") {
      index.Get(light, position);
    } else {
      std::uint32_t narrow = 0;
      index.Get(light, narrow);
      position = narrow;
    }
  }
  index.Get(light, array.vibration);
  AttributeMap read;
  ReadAttributeMap(index, attributes, read);
  FilterArrayAttributes(read, array);

  if (linked == 1) {
    array.linked = 1;
    array.linkNode += idOffset;
    array.attributes.clear();
  } else if (version == "0.5") {
    ReadDataAtOnce(index, heavy, position, byteSize, array);
  } else {
    data.byteSize = byteSize;
    array.heavyPosition = position;
  }
  return array;
}

GeometryArray ReadOldArray(KivRkf::IndexReader& index, const std::string& light,
                           const std::string& heavy, const std::string& attributes,
                           const std::string& version) {
  GeometryArray array;
  NumericArray& data = array.data;
  index.Get(light, array.name);
  index.Get(light, array.kind);
  std::uint32_t byteSize = 0;
  index.Get(light, byteSize);
  index.Get(light, data.componentCount);
  AttributeMap read;
  if (version != "0.1" && version != "0.0a") {
    index.Get(light, data.tagA);
    index.Get(light, data.tagB);
    index.Get(light, data.paramA);
    index.Get(light, data.paramB);
    index.Get(light, data.tagC);
    if (version != "0.2") {
      index.Get(light, array.vibration);
      if (version != "0.3") ReadAttributeMap(index, attributes, read);
    }
  }
  FilterArrayAttributes(read, array);
  std::uint32_t position = 0;
  index.Get(light, position);
  ReadDataAtOnce(index, heavy, position, byteSize, array);
  return array;
}

}  // namespace

ScopedRunsLeftUnread::ScopedRunsLeftUnread() : previous_(runsLeftUnread) {
  runsLeftUnread = true;
}

ScopedRunsLeftUnread::~ScopedRunsLeftUnread() {
  runsLeftUnread = previous_;
}

void ReadGeometry(Geometry& geometry, KivRkf::IndexReader& index, const std::string& light,
                  const std::string& heavy, const std::string& attributes,
                  const std::string& version, std::uint32_t idOffset) {
  const bool newLayout = IsNewLayout(version);
  std::uint32_t count = 0;
  index.Get(light, count);
  CheckArrayCount(index, light, count, newLayout ? kMinRecord : kMinOldRecord);
  geometry.arrays.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    CheckRecordStart(index, light);
    geometry.arrays.push_back(newLayout
                                  ? ReadNewArray(index, light, heavy, attributes, version, idOffset)
                                  : ReadOldArray(index, light, heavy, attributes, version));
  }
}

void LoadStoredArray(KivRkf::IndexReader& index, const std::string& heavy, GeometryArray& array) {
  const char* method = array.IsConnectivity() ? "KivMox::Geometry::LoadConnectivityBlocks"
                                              : "KivMox::Geometry::LoadOtherBlocks";
  NumericArray& data = array.data;
  index.SetReadingPosition(heavy, *array.heavyPosition);
  const std::uint8_t* run = TakeStoredRun(index, heavy, data.byteSize, method);
  if (data.byteSize == 0) return;
  index.ClaimRange(heavy, *array.heavyPosition, data.byteSize);
  DecodeComponents(run, data.Allocate(data.byteSize), data.byteSize, data.componentCount);
}

}  // namespace KivMox
