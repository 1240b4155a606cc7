// Writing and reading a record through one description of its fields. A record type
// names its fields once, in stored order, in a template over the direction:
//
//   template <class Io, class R>            // R: the record, const when written
//   void Fields(Io& io, R& r) { io(r.name, r.values); io.Prefix(r.color, 3); }
//
// and calls it with a BlockWriterIo to put the fields into a block, or with a
// BlockReaderIo to get them back, so that the two directions cannot drift apart. What a
// reader does beyond the fields (checks, validation) stays in the reader, outside Fields.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

class BlockWriterIo {
 public:
  explicit BlockWriterIo(Block& block) : block_(block) {}

  // Puts each field at the block's position.
  template <class... T>
  void operator()(const T&... fields) {
    (block_.Put(fields), ...);
  }
  // An array of which a reader keeps the first elements: stored whole.
  template <class T, std::size_t N>
  void Prefix(const std::array<T, N>& field, std::size_t /*kept*/) {
    block_.Put(field);
  }
  Block& GetBlock() { return block_; }

 private:
  Block& block_;
};

class BlockReaderIo {
 public:
  // sizes: whether the versioned records among the fields carry their size field.
  explicit BlockReaderIo(Block& block, SizeField sizes = SizeField::Stored)
      : block_(block), sizes_(sizes) {}

  // Gets each field from the block's position.
  template <class... T>
  void operator()(T&... fields) {
    (GetValue(block_, fields, sizes_), ...);
  }
  // Reads the whole stored array and keeps its first kept elements; the others stay as
  // they were.
  template <class T, std::size_t N>
  void Prefix(std::array<T, N>& field, std::size_t kept) {
    std::array<T, N> stored{};
    block_.Get(stored);
    std::copy_n(stored.begin(), std::min(kept, N), field.begin());
  }
  Block& GetBlock() { return block_; }
  SizeField Sizes() const { return sizes_; }

 private:
  Block& block_;
  SizeField sizes_;
};

}  // namespace KivRkf
