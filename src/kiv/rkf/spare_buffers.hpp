// Buffers kept from one block of a stream for the next. Fresh memory comes from the
// kernel zeroed and is mapped page by page on first touch, which for a stream of 200 MiB
// blocks costs more than the copies that fill it. A stream written block after block
// therefore reuses two buffers: one for raw bytes (the next block's content) and one for
// compressed bytes (the next block's zlib framing). Only the most recent buffer of each
// kind is kept, so the spares never hold more than the blocks they came from.
#pragma once

#include <cstdint>
#include <string>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

class SpareBuffer {
 public:
  // A buffer of at least bytes bytes: the spare when it is large enough, else a fresh one
  // (the spare is then freed). Null when memory is exhausted; capacity is set to what the
  // returned buffer holds.
  MallocBuffer Take(std::uint64_t bytes, std::uint64_t& capacity);
  // Keeps the buffer for the next Take (buffers below 1 MiB are simply freed).
  void Keep(MallocBuffer buffer, std::uint64_t capacity);
  bool Holds() const { return data_ != nullptr; }
  std::uint64_t Capacity() const { return capacity_; }
  void Clear() {
    data_.reset();
    capacity_ = 0;
  }

 private:
  MallocBuffer data_;
  std::uint64_t capacity_ = 0;
};

struct SpareBuffers {
  SpareBuffer raw;
  SpareBuffer packed;
  std::string rawStream;  // the stream whose block left the raw spare
  void Clear() {
    raw.Clear();
    packed.Clear();
    rawStream.clear();
  }
};

}  // namespace KivRkf
