#include "kiv/rkf/block.hpp"

#include <algorithm>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/env.hpp"
#include "kiv/rkf/huge_pages.hpp"

namespace KivRkf {

namespace {
std::uint32_t gDefaultBlockSize = 10485760;
}

std::uint32_t Block::DefaultBlockSize() {
  return gDefaultBlockSize;
}
void Block::SetDefaultBlockSize(std::uint32_t size) {
  gDefaultBlockSize = size;
}

Block::Block(Block&& other) noexcept
    : data_(std::move(other.data_)),
      capacity_(other.capacity_),
      size_(other.size_),
      position_(other.position_) {
  other.capacity_ = other.size_ = other.position_ = 0;
}

Block& Block::operator=(Block&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    capacity_ = other.capacity_;
    size_ = other.size_;
    position_ = other.position_;
    other.capacity_ = other.size_ = other.position_ = 0;
  }
  return *this;
}

void Block::AllocateAdditionalMemory(std::uint64_t extra) {
  std::uint64_t total = capacity_ + extra;
  void* p = total ? std::realloc(data_.get(), total) : nullptr;
  if (total && !p) KIV_RAISE(MemoryAllocation, nullptr, "KivRkf::Block::AllocateAdditionalMemory");
  if (p) {
    (void)data_.release();
    data_.reset(static_cast<std::uint8_t*>(p));
  }
  capacity_ = total;
}

void Block::Grow(std::uint32_t count) {
  KIV_CHECK(std::uint64_t(position_) + count <= 0xFFFFFFFFull, OutOfBounds,
            "A block cannot hold more than 4294967295 bytes", "KivRkf::Block::EnsureCapacity");
  // The environment is consulted only when the buffer has to grow.
  if (auto v = ReadEnvU32("KORVANE_DEFAULT_MOX_BLOCK_SIZE"); v && *v < 0xFFFFFFFFu)
    gDefaultBlockSize = *v;
  AllocateAdditionalMemory(std::max<std::uint64_t>(count, gDefaultBlockSize));
}

void Block::FailGet() const {
  KIV_RAISE(OutOfBounds, "Not enough bytes in the block", "KivRkf::Block::Get");
}

void Block::SetPosition(std::uint32_t p) {
  KIV_CHECK(p <= size_, OutOfBounds, "Invalid block position", "KivRkf::Block::SetPosition");
  position_ = p;
}

void Block::SetPosition(std::uint64_t p) {
  KIV_CHECK(p <= size_, OutOfBounds, "Invalid block position", "KivRkf::Block::SetPosition");
  position_ = static_cast<std::uint32_t>(p);
}

void Block::Read(std::FILE* stream, std::uint32_t count) {
  if (count == 0) return;
  EnsureCapacity(count);
  AdviseHugePages(data_.get() + position_, count);
  std::size_t got = std::fread(data_.get() + position_, 1, count, stream);
  KIV_CHECK(got == count, ReadError, "Unable to read from file", "KivRkf::Block::Read");
  size_ = std::max(size_, position_ + count);
}

void Block::Write(std::FILE* stream, bool withSize) const {
  if (withSize) {
    std::uint8_t le[4] = {std::uint8_t(size_), std::uint8_t(size_ >> 8), std::uint8_t(size_ >> 16),
                          std::uint8_t(size_ >> 24)};
    KIV_CHECK(std::fwrite(le, 1, 4, stream) == 4, WriteError, "Unable to write to file",
              "KivRkf::Block::Write");
  }
  if (size_ == 0) return;
  KIV_CHECK(data_ && std::fwrite(data_.get(), 1, size_, stream) == size_, WriteError,
            "Unable to write to file", "KivRkf::Block::Write");
}

MallocBuffer Block::Detach(std::uint32_t& size) {
  size = size_;
  capacity_ = size_ = position_ = 0;
  return std::move(data_);
}

void Block::Release() {
  data_.reset();
  capacity_ = 0;
}

void Block::Clear() {
  data_.reset();
  capacity_ = size_ = position_ = 0;
}

}  // namespace KivRkf
