// One verified read of a stored block from a file, for the readers that check blocks apart
// from a stream (the check of copied blocks, the check of a whole file): the stored bytes,
// which must lie inside the file, are read into a buffer kept from block to block and, for
// a compressed block, inflated into another, and the framing says how the block stands
// (zlib.hpp). The loader decides a framing by the same InflateFraming.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kiv/rkf/spare_buffers.hpp"
#include "kiv/rkf/zlib.hpp"

namespace KivRkf {

struct BlockRead {
  // Empty when the stored bytes could be read; else why not (past the end of the file, a
  // failed read, no memory).
  std::string unreadable;
  bool pastEnd = false;
  // How the framing stands; Exact for a block stored as it is.
  Framing framing;
  // The block's bytes as the loader reads them (the framing Exact or Shorter), valid until
  // the next Read; null otherwise.
  const std::uint8_t* raw = nullptr;
  std::uint32_t length = 0;
  // What the block declares: its length field, or its stored size when stored as it is.
  std::uint32_t declared = 0;

  bool Exact() const { return raw && framing.Sound(); }
  // What is wrong, for a report ("" when the block is exact).
  std::string Problem() const;
};

class BlockReader {
 public:
  // Reads from the open descriptor fd of a file of fileSize bytes (~0: not known, the read
  // itself finds the end).
  explicit BlockReader(int fd, std::uint64_t fileSize = ~std::uint64_t{0})
      : fd_(fd), fileSize_(fileSize) {}
  ~BlockReader() { Unmap(); }
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  // measureLonger: see InflateFraming (for reports).
  BlockRead Read(std::uint64_t offset, std::uint32_t storedSize, bool zlib,
                 bool measureLonger = false);
  // Reads the stored bytes of later blocks through a read-only mapping of the file instead
  // of copying them into a buffer: the bytes of a file just written are in the page cache
  // already, and fresh memory to copy them into costs more than the copy. For a file that
  // nobody else changes while it is read (a mapped file cut short under the reader would
  // end the process). Blocks of fewer than kMappedMin stored bytes are copied still: a
  // mapping's setting up and tearing down costs more than their copy.
  static constexpr std::uint32_t kMappedMin = 1u << 20;
  void MapStoredBytes() { map_ = true; }
  // Memory for blocks of up to rawLength bytes: later reads of such blocks allocate none
  // (pages never touched cost none either).
  bool Reserve(std::uint32_t rawLength) { return raw_.Room(rawLength) != nullptr; }

 private:
  // The stored bytes of the block: mapped, or read into the buffer; null when that fails.
  const std::uint8_t* Stored(std::uint64_t offset, std::uint32_t storedSize, BlockRead& out);
  void Unmap();

  int fd_;
  std::uint64_t fileSize_;
  SpareBuffer stored_, raw_;
  bool map_ = false;
  void* mapped_ = nullptr;
  std::size_t mappedLength_ = 0;
};

}  // namespace KivRkf
