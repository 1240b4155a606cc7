// Helpers of the Mox layer tests: containers written and read through the lower layers,
// the bytes of values put into a block, and geometry saved and loaded as the tree does.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/index.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/test_support.hpp"

namespace MoxTest {

using Bytes = std::vector<std::uint8_t>;
using TestSupport::CodeOf;
inline const std::string kLight = "Light Data";
inline const std::string kHeavy = "Heavy Data";
inline const std::string kAttrs = "Attributes";

template <class... T>
void PutAll(KivRkf::Index& index, const std::string& name, const T&... values) {
  (index.Put(name, values), ...);
}

// The bytes of the values put into a block one after another.
template <class... T>
Bytes BlockBytes(const T&... values) {
  KivRkf::Block b;
  (b.Put(values), ...);
  return Bytes(b.Data(), b.Data() + b.Size());
}

// Writes a container whose streams fill puts (every stream zlib-compressed with zlib).
inline void WriteContainer(const std::string& path,
                           const std::function<void(KivRkf::RkFile&)>& fill, bool zlib = false) {
  KivRkf::RkFile f;
  f.OpenFile(path, "wb+");
  f.WriteHeader();
  fill(f);
  std::vector<std::string> names;
  for (const auto& [name, limiter] : f.GetIndex().Names()) names.push_back(name);
  if (zlib)
    for (const auto& name : names) f.SetBlockFlags(name, KivRkf::kFlagZlib);
  f.GetIndex().WriteAllBuffersToFileStream(f.Stream());
  f.CloseFile();
}

// A container opened for reading with its index read.
struct Reader {
  explicit Reader(const std::string& path) {
    file.OpenFile(path, "rb");
    file.ReadIndex();
  }
  KivRkf::Index& Index() { return file.GetIndex(); }
  template <class T = std::uint32_t>
  T Next(const std::string& name) {
    T value{};
    Index().Get(name, value);
    return value;
  }
  // The bytes of the first block of a stream.
  Bytes Stream(const std::string& name) {
    KivRkf::Block* b = Index().ReadingBlock(name);
    return b && b->Size() ? Bytes(b->Data(), b->Data() + b->Size()) : Bytes{};
  }
  KivRkf::RkFile file;
};

// A container that fill writes into a scratch directory, opened for reading.
class RecordFile {
 public:
  explicit RecordFile(const std::function<void(KivRkf::Index&)>& fill, bool zlib = false)
      : path_(dir_.File("records.mox")) {
    WriteContainer(
        path_, [&](KivRkf::RkFile& f) { fill(f.GetIndex()); }, zlib);
    reader_ = std::make_unique<Reader>(path_);
  }
  KivRkf::Index& Index() { return reader_->Index(); }
  template <class T = std::uint32_t>
  T Next(const std::string& name) {
    return reader_->Next<T>(name);
  }
  Bytes StreamBytes(const std::string& name) const { return Reader(path_).Stream(name); }

 private:
  TestSupport::TempDir dir_;
  std::string path_;
  std::unique_ptr<Reader> reader_;
};

// A grow quantum of 64 bytes and the given stream limit, for tests that need many blocks.
struct SmallBlocks {
  explicit SmallBlocks(const char* limit)
      : quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", "64"), max("KORVANE_MAX_MOX_BLOCK_SIZE", limit) {}
  ~SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(10485760); }
  TestSupport::EnvGuard quantum, max;
};

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
                                       KivMox::NumericArray data = {}) {
  KivMox::GeometryArray array;
  array.name = name;
  array.kind = kind;
  array.data = std::move(data);
  return array;
}

inline KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t kind,
                                         std::uint32_t node, std::uint32_t index) {
  KivMox::GeometryArray array = MakeArray(name, kind);
  array.linked = 1;
  array.linkNode = node;
  array.linkIndex = index;
  return array;
}

// Writes the geometries as the tree saver does: the connectivity pass over all, the other
// pass over all, then each light record. Returns the light position of each record.
inline std::vector<std::uint64_t> SaveGeometries(const std::string& path,
                                                 const std::vector<KivMox::Geometry*>& all,
                                                 bool zlib = true) {
  std::vector<std::uint64_t> positions;
  WriteContainer(
      path,
      [&](KivRkf::RkFile& f) {
        KivRkf::Index& index = f.GetIndex();
        for (auto* g : all) g->WriteHeavyData(index, f.Stream(), kHeavy, true);
        for (auto* g : all) g->WriteHeavyData(index, f.Stream(), kHeavy, false);
        for (auto* g : all) {
          positions.push_back(index.GetSize(kLight));
          g->WriteRk(index, kLight, kHeavy, kAttrs);
        }
      },
      zlib);
  return positions;
}

// Reads each light record at its position, then runs both loading passes, as the tree
// loader does.
inline void LoadGeometries(KivRkf::Index& index, const std::vector<KivMox::Geometry*>& all,
                           const std::vector<std::uint64_t>& positions,
                           const std::string& version = "0.7", std::uint32_t idOffset = 0) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    index.SetReadingPosition(kLight, positions[i]);
    KivMox::ReadGeometry(*all[i], index, kLight, kHeavy, kAttrs, version, idOffset);
  }
  for (auto* g : all) g->LoadConnectivityBlocks(index, kHeavy);
  for (auto* g : all) g->LoadOtherBlocks(index, kHeavy);
}

}  // namespace MoxTest
