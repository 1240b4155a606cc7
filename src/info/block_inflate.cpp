#include "info/block_inflate.hpp"

#include <cerrno>
#include <cstring>

#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/zlib.hpp"

namespace MoxInfo {

InflatedBlock BlockInflater::Inflate(const KivRkf::BlockInfo& block) {
  InflatedBlock out;
  if (block.offset > fileSize_ || block.storedSize > fileSize_ - block.offset) {
    out.problem = "its " + std::to_string(block.storedSize) + " stored bytes at offset " +
                  std::to_string(block.offset) + " run past the end of the file (" +
                  std::to_string(fileSize_) + " bytes)";
    out.pastEnd = true;
    return out;
  }
  std::uint8_t* stored = stored_.Room(block.storedSize);
  if (!stored) {
    out.problem = "no memory to read its " + std::to_string(block.storedSize) + " stored bytes";
    return out;
  }
  errno = 0;
  if (!KivRkf::ReadAt(fd_, stored, block.storedSize, block.offset)) {
    out.problem = std::string("its stored bytes cannot be read: ") +
                  (errno != 0 ? std::strerror(errno) : "the file ends early");
    return out;
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
