// KivRkf::Block: a growable byte buffer with one position used for both writing and
// reading. Invariants: position <= size <= capacity; bytes [0, size) are defined.
// A block grows by at least the default block size (10 MiB, or the value of
// KORVANE_DEFAULT_MOX_BLOCK_SIZE read when a write has to grow the buffer) and never
// beyond 4294967295 bytes. Typed values go through Put<T>/Get<T> (encoding.hpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace KivRkf {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using MallocBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

template <class T, class Enable = void>
struct Codec;

class Block {
 public:
  Block() = default;
  Block(Block&& other) noexcept;
  Block& operator=(Block&& other) noexcept;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() = default;

  // The process-wide grow quantum (10485760 at start).
  static std::uint32_t DefaultBlockSize();
  static void SetDefaultBlockSize(std::uint32_t size);

  void AllocateAdditionalMemory(std::uint64_t extra);
  void EnsureCapacity(std::uint32_t count) {
    if (std::uint64_t(position_) + count >= capacity_) Grow(count);
  }

  // Raw bytes at the position.
  void Put(const void* source, std::uint32_t count) {
    EnsureCapacity(count);
    if (count) std::memcpy(data_.get() + position_, source, count);
    position_ += count;
    if (position_ > size_) size_ = position_;
  }
  void Get(void* destination, std::uint32_t count) {
    if (count == 0) return;
    if (std::uint64_t(position_) + count > size_ || !data_) FailGet();
    std::memcpy(destination, data_.get() + position_, count);
    position_ += count;
  }
  // Typed values (encoding.hpp).
  template <class T>
  void Put(const T& value) {
    Codec<T>::Put(*this, value);
  }
  template <class T>
  void Get(T& value) {
    Codec<T>::Get(*this, value);
  }

  void SetPosition(std::uint32_t p);
  void SetPosition(std::uint64_t p);
  void Read(std::FILE* stream, std::uint32_t count);
  void Write(std::FILE* stream, bool withSize) const;

  // Appends count bytes whose content the caller fills through the returned pointer
  // (used to read or encode straight into the block without a scratch copy).
  std::uint8_t* Extend(std::uint32_t count) {
    EnsureCapacity(count);
    std::uint8_t* p = data_.get() + position_;
    position_ += count;
    if (position_ > size_) size_ = position_;
    return p;
  }
  // Bytes at the position that are still to be read (checked like Get, without copying).
  const std::uint8_t* Skip(std::uint32_t count) {
    if (count == 0) return data_.get() + position_;
    if (std::uint64_t(position_) + count > size_ || !data_) FailGet();
    const std::uint8_t* p = data_.get() + position_;
    position_ += count;
    return p;
  }

  std::uint8_t* Data() { return data_.get(); }
  const std::uint8_t* Data() const { return data_.get(); }
  std::uint64_t Capacity() const { return capacity_; }
  std::uint32_t Size() const { return size_; }
  std::uint32_t Position() const { return position_; }
  std::uint32_t Remaining() const { return size_ - position_; }
  bool HasBuffer() const { return data_ != nullptr; }

  // Hands the buffer to the caller; the block's four fields become zero.
  MallocBuffer Detach(std::uint32_t& size);
  // Takes over a malloc'd buffer of capacity bytes whose first size bytes are defined;
  // the old buffer is freed and size and position both become size.
  void Adopt(MallocBuffer buffer, std::uint32_t size, std::uint64_t capacity) {
    (void)Exchange(std::move(buffer), size, capacity);
  }
  // Adopt, handing the old buffer (and its capacity) to the caller.
  MallocBuffer Exchange(MallocBuffer buffer, std::uint32_t size, std::uint64_t capacity,
                        std::uint64_t* oldCapacity = nullptr) {
    if (oldCapacity) *oldCapacity = capacity_;
    MallocBuffer old = std::move(data_);
    data_ = std::move(buffer);
    capacity_ = capacity;
    size_ = position_ = size;
    return old;
  }
  // Frees the bytes but keeps size and position as a record of what the block held.
  void Release();
  // Release, handing the buffer (and its capacity) to the caller.
  MallocBuffer HandOver(std::uint64_t& capacity) {
    capacity = capacity_;
    capacity_ = 0;
    return std::move(data_);
  }
  // Frees the bytes and zeroes all four fields.
  void Clear();
  // No bytes, only the record of a block of size bytes that all lie behind the position:
  // a block passed over without being loaded, or one written to the file.
  void RecordOnly(std::uint32_t size) {
    Clear();
    size_ = position_ = size;
  }

 private:
  void Grow(std::uint32_t count);
  [[noreturn]] void FailGet() const;

  MallocBuffer data_;
  std::uint64_t capacity_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t position_ = 0;
};

}  // namespace KivRkf

#include "kiv/rkf/encoding.hpp"
