// Spare buffers: taken when large enough, else replaced by a fresh one.
#include "kiv/rkf/spare_buffers.hpp"

#include <cstdlib>

#include "kiv/rkf/huge_pages.hpp"

namespace KivRkf {

namespace {
constexpr std::uint64_t kWorthKeeping = 1u << 20;
}

MallocBuffer SpareBuffer::Take(std::uint64_t bytes, std::uint64_t& capacity) {
  const std::uint64_t want = bytes ? bytes : 1;
  if (data_ && capacity_ >= want) {
    capacity = capacity_;
    capacity_ = 0;
    return std::move(data_);
  }
  // Too small: freed first, so that it never lives beside its replacement.
  Clear();
  void* p = std::malloc(want);
  if (!p) {
    capacity = 0;
    return nullptr;
  }
  AdviseHugePages(p, want);
  capacity = want;
  return MallocBuffer(static_cast<std::uint8_t*>(p));
}

void SpareBuffer::Keep(MallocBuffer buffer, std::uint64_t capacity) {
  if (!buffer || capacity < kWorthKeeping) return;
  data_ = std::move(buffer);
  capacity_ = capacity;
}

}  // namespace KivRkf
