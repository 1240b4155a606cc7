// Helpers of the Mox layer tests: containers written and read, geometry as the tree does.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/heavy_order.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/test_support.hpp"

namespace MoxTest {

using Bytes = std::vector<std::uint8_t>;
using U8 = std::uint8_t;
using U32 = std::uint32_t;
inline const std::string kLight = "Light Data", kHeavy = "Heavy Data", kAttrs = "Attributes";

// The code of the failure of fn (0 without one) and its description.
inline int Failure(const std::function<void()>& fn, std::string* description = nullptr) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  }
  return 0;
}

template <class... T>
void PutAll(KivRkf::IndexWriter& index, const std::string& name, const T&... values) {
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
  const auto names = f.Writer().Table().Names();  // a copy: setting flags may change the index
  for (const auto& [name, limiter] : names)
    if (zlib) f.SetBlockFlags(name, KivRkf::kFlagZlib);
  f.Writer().WriteAllBuffersToFileStream(f.Stream());
  f.CloseFile();
}

// A container opened for reading with its index read.
struct Reader {
  explicit Reader(const std::string& path) { file.OpenFile(path, "rb"), file.ReadIndex(); }
  KivRkf::IndexReader& Index() { return file.Reader(); }
  U32 Next(const std::string& name) {  // the next 32-bit value of a stream
    U32 value = 0;
    return Index().Get(name, value), value;
  }
  Bytes Stream(const std::string& name) {  // the bytes of the first block of a stream
    KivRkf::Block* b = Index().ReadingBlock(name);
    return b && b->Size() ? Bytes(b->Data(), b->Data() + b->Size()) : Bytes{};
  }
  KivRkf::RkFile file;
};

// A container that fill writes into a scratch directory, opened for reading.
struct RecordFile : TestSupport::TempDir, Reader {
  explicit RecordFile(const std::function<void(KivRkf::IndexWriter&)>& fill, bool zlib = false)
      : Reader((WriteContainer(
                    File("r.mox"), [&](KivRkf::RkFile& f) { fill(f.Writer()); }, zlib),
                File("r.mox"))) {}
  Bytes StreamBytes(const std::string& name) const { return Reader(File("r.mox")).Stream(name); }
};

template <class T>
KivMox::NumericArray DataOf(const std::vector<T>& values, U8 components) {
  KivMox::NumericArray data;
  data.componentCount = components;
  if (!values.empty())
    std::memcpy(data.Allocate(values.size() * 4), values.data(), values.size() * 4);
  return data;
}

inline KivMox::GeometryArray MakeArray(const std::string& name, U32 kind,
                                       KivMox::NumericArray data = {}, U8 linked = 0,
                                       U32 linkNode = 0, U32 linkIndex = 0) {
  KivMox::GeometryArray array;
  std::tie(array.name, array.kind, array.data) = std::tie(name, kind, data);
  std::tie(array.linked, array.linkNode, array.linkIndex) = std::tie(linked, linkNode, linkIndex);
  return array;
}

// Saves as the tree does (heavy data in write order, then light records); light positions.
inline std::vector<std::uint64_t> SaveGeometries(const std::string& path,
                                                 const std::vector<KivMox::Geometry*>& all,
                                                 bool zlib = true) {
  std::vector<std::uint64_t> positions;
  auto fill = [&](KivRkf::RkFile& f) {
    for (KivMox::GeometryArray* a : KivMox::WriteOrder(all))
      KivMox::WriteHeavyArray(f.Writer(), f.Stream(), kHeavy, *a);
    for (auto* g : all) {
      positions.push_back(f.Writer().GetSize(kLight));
      g->WriteRk(f.Writer(), kLight, kAttrs);
    }
  };
  WriteContainer(path, fill, zlib);
  return positions;
}

// Reads each light record at its position, then the arrays in stored order.
inline void LoadGeometries(KivRkf::IndexReader& index, const std::vector<KivMox::Geometry*>& all,
                           const std::vector<std::uint64_t>& positions, U32 idOffset = 0) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    index.SetReadingPosition(kLight, positions[i]);
    KivMox::ReadGeometry(*all[i], index, kLight, kHeavy, kAttrs, "0.7", idOffset);
  }
  for (KivMox::GeometryArray* a : KivMox::StoredOrder(all))
    KivMox::LoadStoredArray(index, kHeavy, *a);
}

}  // namespace MoxTest
