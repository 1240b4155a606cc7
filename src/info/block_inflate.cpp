#include "info/block_inflate.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/zlib.hpp"

namespace MoxInfo {

std::uint8_t* BlockInflater::Room(std::unique_ptr<std::uint8_t[]>& buffer, std::uint64_t& capacity,
                                  std::uint64_t size) {
  if (size > capacity || !buffer) {
    buffer.reset();
    capacity = 0;
    buffer.reset(new (std::nothrow) std::uint8_t[size ? size : 1]);
    if (!buffer) return nullptr;
    capacity = size;
  }
  return buffer.get();
}

InflatedBlock BlockInflater::Inflate(const KivRkf::BlockInfo& block) {
  InflatedBlock out;
  if (block.offset > fileSize_ || block.storedSize > fileSize_ - block.offset) {
    out.problem = "its " + std::to_string(block.storedSize) + " stored bytes at offset " +
                  std::to_string(block.offset) + " run past the end of the file (" +
                  std::to_string(fileSize_) + " bytes)";
    return out;
  }
  std::uint8_t* stored = Room(stored_, storedCapacity_, block.storedSize);
  if (!stored) {
    out.problem = "no memory to read its " + std::to_string(block.storedSize) + " stored bytes";
    return out;
  }
  std::uint64_t done = 0;
  while (done < block.storedSize) {
    const ssize_t n =
        pread(fd_, stored + done, block.storedSize - done, static_cast<off_t>(block.offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      out.problem = std::string("its stored bytes cannot be read: ") +
                    (n < 0 ? std::strerror(errno) : "the file ends early");
      return out;
    }
    done += static_cast<std::uint64_t>(n);
  }
  if ((block.flags & KivRkf::kFlagZlib) == 0) {
    out.raw = stored;
    out.length = out.declared = block.storedSize;
    return out;
  }
  const std::optional<std::uint32_t> length = KivRkf::FramedLength(stored, block.storedSize);
  out.declared = length.value_or(0);
  std::uint8_t* raw = Room(raw_, rawCapacity_, length.value_or(0));
  if (!raw) {
    out.problem = "no memory to inflate it to " + std::to_string(*length) + " bytes";
    return out;
  }
  if (length && KivRkf::InflateFramingExactly(stored, block.storedSize, *length, raw) ==
                    KivRkf::InflateOutcome::Done) {
    out.raw = raw;
    out.length = *length;
    return out;
  }
  out.problem = KivRkf::DescribeFramingDamage(stored, block.storedSize, raw, &out.lengthLies);
  return out;
}

}  // namespace MoxInfo
