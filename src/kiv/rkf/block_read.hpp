// One verified read of a stored block from a file, for the readers that check blocks apart
// from a stream (the check of copied blocks, the check of a whole file): the stored bytes,
// which must lie inside the file, are read into a buffer kept from block to block and, for
// a compressed block, inflated into another, and the framing says how the block stands
// (zlib.hpp). The loader decides a framing by the same InflateFraming.
#pragma once

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
  // measureLonger: see InflateFraming (for reports).
  BlockRead Read(std::uint64_t offset, std::uint32_t storedSize, bool zlib,
                 bool measureLonger = false);

 private:
  int fd_;
  std::uint64_t fileSize_;
  SpareBuffer stored_, raw_;
};

}  // namespace KivRkf
