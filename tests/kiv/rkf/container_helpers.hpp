// Test helpers: write a container file through RkFile and the index, read one back, and
// look at the stored bytes (little-endian fields at fixed offsets).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kiv/rkf/block.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/test_support.hpp"

namespace TestSupport {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint64_t kBlock0Offset = 2800;
inline constexpr std::uint32_t kRecordSize = 139;

// A grow quantum of 64 bytes instead of 10 MiB, and the given stream limit (nullptr: the
// default), for tests that need many blocks or many files.
struct SmallBlocks {
  explicit SmallBlocks(const char* limit)
      : quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", "64"), max("KORVANE_MAX_MOX_BLOCK_SIZE", limit) {}
  ~SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(10485760); }
  EnvGuard quantum;
  EnvGuard max;
};

// Opens path for writing, writes the header, lets fill put the streams, then writes every
// block and the index and closes the file.
inline void WriteContainer(const std::string& path,
                           const std::function<void(KivRkf::RkFile&)>& fill) {
  KivRkf::RkFile f;
  f.OpenFile(path, "wb+");
  f.WriteHeader();
  fill(f);
  f.GetIndex().WriteAllBuffersToFileStream(f.Stream());
  f.CloseFile();
}

// A container opened for reading with its index read.
class ContainerReader {
 public:
  explicit ContainerReader(const std::string& path) {
    file.OpenFile(path, "rb");
    file.ReadIndex();
  }
  KivRkf::Index& Index() { return file.GetIndex(); }
  template <class T>
  T Get(const std::string& name, T value = T{}) {
    file.GetIndex().Get(name, value);
    return value;
  }
  KivRkf::RkFile file;
};

inline std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
  KivRkf::Block b;
  b.Put(bytes.data() + offset, 4);
  b.SetPosition(0u);
  std::uint32_t v = 0;
  b.Get(v);
  return v;
}

inline void SetU32At(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  KivRkf::Block b;
  b.Put(value);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = b.Data()[i];
}

// Offset of the index record of primary block k (0..19) in the file.
inline std::size_t PrimaryRecordOffset(std::uint32_t k) {
  return 16 + 4 + kRecordSize * k;
}

}  // namespace TestSupport
