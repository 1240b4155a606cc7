#include "kiv/rkf/read_buffer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "kiv/rkf/huge_pages.hpp"

namespace KivRkf {

std::uint8_t* GrowingBuffer::Room(std::uint64_t size) {
  if (data_ && size <= capacity_) return data_.get();
  const std::uint64_t want = std::max({size, capacity_ + capacity_ / 2, std::uint64_t{1}});
  data_.reset();
  capacity_ = want;
  data_.reset(static_cast<std::uint8_t*>(std::malloc(want)));
  if (!data_ && want > size) {
    capacity_ = std::max<std::uint64_t>(size, 1);
    data_.reset(static_cast<std::uint8_t*>(std::malloc(capacity_)));
  }
  if (!data_) {
    capacity_ = 0;
    return nullptr;
  }
  AdviseHugePages(data_.get(), capacity_);
  return data_.get();
}

bool ReadAt(int fd, std::uint8_t* out, std::uint64_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t r = pread(fd, out, size, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    out += r;
    size -= std::uint64_t(r);
    offset += std::uint64_t(r);
  }
  return true;
}

}  // namespace KivRkf
