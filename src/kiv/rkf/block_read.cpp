#include "kiv/rkf/block_read.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace KivRkf {

namespace {

// Reads size bytes at offset of fd into out, however many reads it takes; false when a read
// fails (errno tells why) or the file ends first (errno as it was).
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

}  // namespace

void BlockReader::Unmap() {
  if (mapped_) munmap(mapped_, mappedLength_);
  mapped_ = nullptr;
  mappedLength_ = 0;
}

const std::uint8_t* BlockReader::Stored(std::uint64_t offset, std::uint32_t storedSize,
                                        BlockRead& out) {
  Unmap();
  if (map_ && storedSize >= kMappedMin) {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    struct stat st;
    // Only bytes the file holds are mapped: a page beyond its end cannot be read.
    if (fstat(fd_, &st) == 0 && offset + storedSize <= static_cast<std::uint64_t>(st.st_size)) {
      const std::size_t length = offset - start + storedSize;
      void* at = mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_,
                      static_cast<off_t>(start));
      if (at != MAP_FAILED) {
        mapped_ = at;
        mappedLength_ = length;
        return static_cast<const std::uint8_t*>(at) + (offset - start);
      }
    }
  }
  std::uint8_t* stored = stored_.Room(storedSize);
  if (!stored) {
    out.unreadable = "no memory to read its " + std::to_string(storedSize) + " stored bytes";
    out.framing.state = Framing::State::NoMemory;
    return nullptr;
  }
  errno = 0;
  if (!ReadAt(fd_, stored, storedSize, offset)) {
    out.unreadable = std::string("its stored bytes cannot be read: ") +
                     (errno != 0 ? std::strerror(errno) : "the file ends early");
    out.pastEnd = errno == 0;
    return nullptr;
  }
  return stored;
}

std::string BlockRead::Problem() const {
  if (!unreadable.empty()) return unreadable;
  return framing.Sound() ? std::string() : framing.Describe();
}

BlockRead BlockReader::Read(std::uint64_t offset, std::uint32_t storedSize, bool zlib,
                            bool measureLonger) {
  BlockRead out;
  if (offset > fileSize_ || storedSize > fileSize_ - offset) {
    out.unreadable = "its " + std::to_string(storedSize) + " stored bytes at offset " +
                     std::to_string(offset) + " run past the end of the file (" +
                     std::to_string(fileSize_) + " bytes)";
    out.pastEnd = true;
    return out;
  }
  const std::uint8_t* stored = Stored(offset, storedSize, out);
  if (!stored) return out;
  if (!zlib) {
    out.framing.state = Framing::State::Exact;
    out.framing.declared = storedSize;
    out.framing.produced = storedSize;
    out.raw = stored;
    out.length = out.declared = storedSize;
    return out;
  }
  const std::uint32_t room = FramedLength(stored, storedSize).value_or(0);
  std::uint8_t* raw = raw_.Room(room);
  if (!raw) {
    out.unreadable = "no memory to inflate it to " + std::to_string(room) + " bytes";
    out.framing.state = Framing::State::NoMemory;
    return out;
  }
  out.framing = InflateFraming(stored, storedSize, raw, measureLonger);
  out.declared = out.framing.declared;
  if (out.framing.state == Framing::State::Exact || out.framing.state == Framing::State::Shorter) {
    out.raw = raw;
    out.length = static_cast<std::uint32_t>(out.framing.produced);
  }
  return out;
}

}  // namespace KivRkf
