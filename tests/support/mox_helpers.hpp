// Helpers of the Mox layer tests: records put into containers and read back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/container_helpers.hpp"

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
inline void WriteContainer(const std::string& path, const TestSupport::Fill& fill,
                           bool zlib = false) {
  TestSupport::WriteContainer(path, [&](KivRkf::RkFile& f) {
    fill(f);
    const auto names = f.Writer().Table().Names();  // a copy: setting flags may change the index
    for (const auto& [name, limiter] : names)
      if (zlib) f.SetBlockFlags(name, KivRkf::kFlagZlib);
  });
}

// A container opened for reading with its index read.
struct Reader : TestSupport::ContainerReader {
  using ContainerReader::ContainerReader;
  U32 Next(const std::string& name) { return Get<U32>(name); }  // the next 32-bit value
  Bytes Stream(const std::string& name) {  // the bytes of the first block of a stream
    KivRkf::Block* b = Index().ReadingBlock(name);
    return b && b->Size() ? Bytes(b->Data(), b->Data() + b->Size()) : Bytes{};
  }
};

// A container that fill writes into a scratch directory, opened for reading.
struct RecordFile : TestSupport::TempDir, Reader {
  explicit RecordFile(const std::function<void(KivRkf::IndexWriter&)>& fill, bool zlib = false)
      : Reader((WriteContainer(
                    File("r.mox"), [&](KivRkf::RkFile& f) { fill(f.Writer()); }, zlib),
                File("r.mox"))) {}
  Bytes StreamBytes(const std::string& name) const { return Reader(File("r.mox")).Stream(name); }
};

}  // namespace MoxTest
