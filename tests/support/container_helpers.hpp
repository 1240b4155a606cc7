// Container bytes built in memory (through RkFile, or by hand), damaged and read back.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>

#include "kiv/rkf/rkfile.hpp"
#include "kiv/rkf/zlib.hpp"
#include "support/test_support.hpp"

namespace TestSupport {

using Bytes = std::vector<std::uint8_t>;

// The given stream limit (nullptr: the default) and grow quantum.
struct SmallBlocks {
  explicit SmallBlocks(const char* limit, const char* grow = "64")
      : quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", grow), max("KORVANE_MAX_MOX_BLOCK_SIZE", limit) {}
  ~SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(10485760); }
  EnvGuard quantum, max;
};

inline KivRkf::Block BlockOf(const Bytes& bytes) {
  KivRkf::Block b;
  if (!bytes.empty()) b.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  b.SetPosition(0u);
  return b;
}

inline Bytes BytesOf(const KivRkf::Block& b) {
  return b.Size() ? Bytes(b.Data(), b.Data() + b.Size()) : Bytes{};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Zlib(const Bytes& plain) {
  KivRkf::Block b = BlockOf(plain);
  KivRkf::BlockZlibCompressor()(b);
  return BytesOf(b);
}

// "9 Unable to ...": the code and description of what fn throws.
inline std::string Failure(const std::function<void()>& fn) {
  std::string description;
  const int code = CodeOf(fn, &description);
  return std::to_string(code) + " " + description;
}

// An anonymous file in memory, opened by its /proc path.
struct MemFile {
  explicit MemFile(const Bytes& bytes = {}) { Write(bytes); }
  ~MemFile() { close(fd); }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
  Bytes Read() const { return ReadFileBytes(Path()); }
  void Write(const Bytes& bytes) const { WriteFileBytes(Path(), bytes); }
  const int fd = memfd_create("container", MFD_CLOEXEC);
};

// A container written at path with the streams fill puts; written sees it before it closes.
using Fill = std::function<void(KivRkf::RkFile&)>;
inline void WriteContainer(const std::string& path, const Fill& fill, const Fill& written = {}) {
  KivRkf::RkFile f;
  f.OpenFile(path, "wb+");
  f.WriteHeader();
  fill(f);
  f.Writer().WriteAllBuffersToFileStream(f.Stream());
  if (written) written(f);
  f.CloseFile();
}

inline Bytes ContainerBytes(const Fill& fill, const Fill& written = {}) {
  MemFile file;
  WriteContainer(file.Path(), fill, written);
  return file.Read();
}

// A container opened for reading (in pool, when given) with its index read.
struct ContainerReader {
  explicit ContainerReader(const std::string& path, KivRkf::OpenFilePool* pool = nullptr) {
    Open(path, pool);
  }
  explicit ContainerReader(const Bytes& bytes) : memory(bytes) { Open(memory.Path()); }
  void Open(const std::string& path, KivRkf::OpenFilePool* pool = nullptr) {
    pool ? file.OpenFile(path, "rb", *pool) : file.OpenFile(path, "rb");
    file.ReadIndex();
  }
  KivRkf::IndexReader& Index() { return file.Reader(); }
  template <class T>
  T Get(const std::string& name, T value = T{}) {
    file.Reader().Get(name, value);
    return value;
  }
  MemFile memory;
  KivRkf::RkFile file;
};

// The blocks of the container at path, in table order: a block's number is its place.
inline std::vector<KivRkf::BlockInfo> BlocksOf(const std::string& path) {
  return ContainerReader(path).Index().Table().Blocks();
}
// The first block of the section.
inline KivRkf::BlockInfo BlockNamed(const std::string& path, const std::string& section) {
  for (const auto& row : BlocksOf(path))
    if (row.name == section) return row;
  throw std::runtime_error("no block of " + section);
}

inline std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

inline void SetU32At(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
}

// Offset of the index record of primary block k (0..19) in the file.
inline std::size_t PrimaryRecordOffset(std::uint32_t k) {
  return 20 + 139 * k;
}

// Magic, "1.3", primary index length 2784, count 20, 20 records of 139 bytes (serial, name
// count 128, name, stored size, flags, reserved) for the blocks and unassigned ones, data.
using StoredBlock = std::tuple<std::string, Bytes, std::uint8_t>;  // name, stored, flags
inline Bytes ContainerImage(std::vector<StoredBlock> blocks) {
  Bytes out = {0x89, 'R', 'K',  'F',  0x0D, 0x0A, 0x1A, 0x0A, '1', '.',
               '3',  0,   0xE0, 0x0A, 0,    0,    20,   0,    0,   0};
  Bytes data;
  while (blocks.size() < 20) blocks.push_back({"\vEmpty Block ", {}, 0});
  for (std::uint32_t k = 0; k < 20; ++k) {
    const auto& [name, stored, flags] = blocks[k];
    Bytes record(139, 0);
    record[0] = std::uint8_t(k + 1), record[1] = 128, record[137] = flags;
    std::copy(name.begin(), name.end(), record.begin() + 5);
    SetU32At(record, 133, static_cast<std::uint32_t>(stored.size()));
    out.insert(out.end(), record.begin(), record.end());
    data.insert(data.end(), stored.begin(), stored.end());
  }
  return Cat({out, data});
}

}  // namespace TestSupport
