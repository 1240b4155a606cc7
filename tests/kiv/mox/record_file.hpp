// Test helper for node records: writes a real container whose streams a callback fills
// (optionally zlib-compressed), then opens it for reading with its index read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kiv/rkf/container_helpers.hpp"
#include "kiv/rkf/index.hpp"

namespace TestSupport {

// Puts every value into the stream, in order.
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

// The bytes of the first block of a stream as the index loads them.
inline Bytes StreamBytes(KivRkf::Index& index, const std::string& name) {
  KivRkf::Block* b = index.ReadingBlock(name);
  if (!b || !b->Size()) return {};
  return Bytes(b->Data(), b->Data() + b->Size());
}

// The next value of a stream.
template <class T = std::uint32_t>
T Next(KivRkf::Index& index, const std::string& name) {
  T value{};
  index.Get(name, value);
  return value;
}

class RecordFile {
 public:
  explicit RecordFile(const std::function<void(KivRkf::Index&)>& fill, bool zlib = false)
      : path_(dir_.File("records.rk")) {
    WriteContainer(path_, [&](KivRkf::RkFile& f) {
      fill(f.GetIndex());
      if (!zlib) return;
      std::vector<std::string> names;
      for (const auto& [name, limiter] : f.GetIndex().Names()) names.push_back(name);
      for (const auto& name : names) f.SetBlockFlags(name, KivRkf::kFlagZlib);
    });
    reader_ = std::make_unique<ContainerReader>(path_);
  }

  KivRkf::Index& Index() { return reader_->Index(); }
  const std::string& Path() const { return path_; }

  // The bytes of the first block of a stream, as a fresh reader loads them.
  Bytes StreamBytes(const std::string& name) const {
    ContainerReader fresh(path_);
    return TestSupport::StreamBytes(fresh.Index(), name);
  }

 private:
  TempDir dir_;
  std::string path_;
  std::unique_ptr<ContainerReader> reader_;
};

}  // namespace TestSupport
