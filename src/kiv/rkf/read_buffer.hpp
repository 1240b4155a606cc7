// Reading stored blocks outside an index (a check that reads blocks back from a file): a
// buffer kept from block to block, and a read of a whole range from a descriptor.
#pragma once

#include <cstdint>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

// A buffer that grows as asked, by half its size at least (a run of ever larger blocks or
// arrays allocates a few times only; pages never touched cost no memory), and is kept for
// the next use. Large buffers get huge pages: a 200 MiB block filled into fresh small pages
// would spend more time in page faults than in inflating.
class GrowingBuffer {
 public:
  // Room for size bytes (content undefined), or null when memory runs out.
  std::uint8_t* Room(std::uint64_t size);

 private:
  MallocBuffer data_;
  std::uint64_t capacity_ = 0;
};

// Reads size bytes at offset of fd into out, however many reads it takes; false when a read
// fails (errno tells why) or the file ends first (errno as it was).
bool ReadAt(int fd, std::uint8_t* out, std::uint64_t size, std::uint64_t offset);

}  // namespace KivRkf
