// Spare buffers: handed over when large enough, grown in place, or replaced by a fresh one.
#include "kiv/rkf/spare_buffers.hpp"

#include <algorithm>
#include <cstdlib>

#include "kiv/rkf/huge_pages.hpp"

namespace KivRkf {

namespace {
constexpr std::uint64_t kWorthKeeping = 1u << 20;
}

bool SpareBuffer::Replace(std::uint64_t bytes) {
  Clear();
  data_.reset(static_cast<std::uint8_t*>(std::malloc(bytes)));
  if (!data_) return false;
  AdviseHugePages(data_.get(), bytes);
  capacity_ = bytes;
  return true;
}

std::uint8_t* SpareBuffer::Room(std::uint64_t size) {
  if (data_ && size <= capacity_) return data_.get();
  const std::uint64_t least = std::max<std::uint64_t>(size, 1);
  const std::uint64_t want = std::max(least, capacity_ + capacity_ / 2);
  // Without memory for the growth, exactly what is asked for.
  if (!Replace(want) && (want == least || !Replace(least))) return nullptr;
  return data_.get();
}

MallocBuffer SpareBuffer::Take(std::uint64_t bytes, std::uint64_t& capacity) {
  const std::uint64_t want = bytes ? bytes : 1;
  if (!data_ || capacity_ < want) Replace(want);
  capacity = capacity_;
  capacity_ = 0;
  return std::move(data_);
}

void SpareBuffer::Keep(MallocBuffer buffer, std::uint64_t capacity) {
  if (!buffer || capacity < kWorthKeeping) return;
  data_ = std::move(buffer);
  capacity_ = capacity;
}

}  // namespace KivRkf
