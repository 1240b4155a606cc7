#include "info/block_inflate.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/huge_pages.hpp"
#include "kiv/rkf/zlib.hpp"

namespace MoxInfo {

std::uint8_t* ScratchBuffer::Room(std::uint64_t size) {
  if (size > capacity_ || !data_) {
    // Growing by half at least: a run of ever larger arrays reallocates a few times only.
    const std::uint64_t want = std::max(size, capacity_ + capacity_ / 2);
    data_.reset();
    capacity_ = want;
    data_.reset(static_cast<std::uint8_t*>(std::malloc(want ? want : 1)));
    if (!data_ && want > size) {
      capacity_ = size;
      data_.reset(static_cast<std::uint8_t*>(std::malloc(size ? size : 1)));
    }
    if (!data_) {
      capacity_ = 0;
      return nullptr;
    }
    KivRkf::AdviseHugePages(data_.get(), capacity_);
  }
  return data_.get();
}

InflatedBlock BlockInflater::Inflate(const KivRkf::BlockInfo& block) {
  InflatedBlock out;
  if (block.offset > fileSize_ || block.storedSize > fileSize_ - block.offset) {
    out.problem = "its " + std::to_string(block.storedSize) + " stored bytes at offset " +
                  std::to_string(block.offset) + " run past the end of the file (" +
                  std::to_string(fileSize_) + " bytes)";
    return out;
  }
  std::uint8_t* stored = stored_.Room(block.storedSize);
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
  std::uint8_t* raw = raw_.Room(length.value_or(0));
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
