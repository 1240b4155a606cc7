// Buffers kept from one use to the next. Fresh memory comes from the kernel zeroed and is
// mapped page by page on first touch, which for a stream of 200 MiB blocks costs more than
// the copies that fill it; large buffers also get huge pages (huge_pages.hpp).
//
// A buffer is used in one of two ways. Handed over (Take, and Keep to have it back): a
// stream written block after block reuses two buffers, one for raw bytes (the next block's
// content) and one for compressed bytes (the next block's zlib framing), and a reader
// inflates each block into the buffer of the block it left behind; only the most recent
// buffer of each kind is kept, so the spares never hold more than the blocks they came
// from. Or kept in place (Room): a reader that reads or decodes one block or array after
// another into it lets it grow by half its size at least, so that a run of ever larger
// ones allocates a few times only (pages never touched cost no memory).
#pragma once

#include <cstdint>
#include <string>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

class SpareBuffer {
 public:
  // Room for size bytes (content undefined) in the buffer kept, which grows when it is too
  // small; null when memory runs out.
  std::uint8_t* Room(std::uint64_t size);
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
  // Frees the buffer, so that it never lives beside its replacement, and allocates one of
  // bytes bytes; false when memory runs out (no buffer is kept then).
  bool Replace(std::uint64_t bytes);

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
