#include "kiv/rkf/range_copy.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>

#include "kiv/log/raise.hpp"

namespace KivRkf {

namespace {

std::atomic<bool> gKernelCopy{true};
constexpr std::uint64_t kChunk = std::uint64_t{4} << 20;

// The kernel copy as far as it goes: false once it cannot copy between these two files
// (another file system, a device, no support), so that the rest goes by pread and pwrite.
bool KernelCopy(int from, std::uint64_t& fromOffset, int to, std::uint64_t& toOffset,
                std::uint64_t& left, CopyOutcome& outcome) {
  while (left > 0) {
    loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(toOffset);
    const ssize_t n = copy_file_range(from, &in, to, &out, std::min(left, kChunk * 64), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT || errno == EIO) {
        outcome = CopyOutcome::WriteFailed;
        return true;
      }
      return false;
    }
    if (n == 0) {
      outcome = CopyOutcome::ReadFailed;  // the source ends early
      return true;
    }
    fromOffset += std::uint64_t(n);
    toOffset += std::uint64_t(n);
    left -= std::uint64_t(n);
  }
  return true;
}

CopyOutcome BufferedCopy(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                         std::uint64_t left) {
  const std::size_t chunk = static_cast<std::size_t>(std::min(left, kChunk));
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[chunk]);
  if (!buffer) return CopyOutcome::ReadFailed;
  while (left > 0) {
    const ssize_t r = pread(from, buffer.get(), std::min<std::uint64_t>(left, chunk),
                            static_cast<off_t>(fromOffset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return CopyOutcome::ReadFailed;
    for (ssize_t done = 0; done < r;) {
      const ssize_t w = pwrite(to, buffer.get() + done, std::size_t(r - done),
                               static_cast<off_t>(toOffset + std::uint64_t(done)));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return CopyOutcome::WriteFailed;
      done += w;
    }
    fromOffset += std::uint64_t(r);
    toOffset += std::uint64_t(r);
    left -= std::uint64_t(r);
  }
  return CopyOutcome::Done;
}

}  // namespace

CopyOutcome CopyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                      std::uint64_t size) {
  CopyOutcome outcome = CopyOutcome::Done;
  if (gKernelCopy.load() && KernelCopy(from, fromOffset, to, toOffset, size, outcome))
    return outcome;
  return BufferedCopy(from, fromOffset, to, toOffset, size);
}

void CopyRangeOrRaise(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                      std::uint64_t size) {
  switch (CopyRange(from, fromOffset, to, toOffset, size)) {
    case CopyOutcome::Done:
      return;
    case CopyOutcome::ReadFailed:
      KIV_RAISE(ReadError, "Unable to read from file", "KivRkf::Block::Read");
    case CopyOutcome::WriteFailed:
      KIV_RAISE(WriteError, "Unable to write to file", "KivRkf::Block::Write");
  }
}

void SetKernelCopy(bool enabled) {
  gKernelCopy.store(enabled);
}

}  // namespace KivRkf
