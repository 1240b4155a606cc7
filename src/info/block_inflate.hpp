// The blocks of a container as a check reads them: each block's stored bytes read from the
// file and inflated once, into buffers that are reused from block to block.
#pragma once

#include <cstdint>
#include <string>

#include "kiv/rkf/read_buffer.hpp"

namespace KivRkf {
struct BlockInfo;
}

namespace MoxInfo {

struct InflatedBlock {
  // Empty when the block is sound; else what is wrong with it.
  std::string problem;
  // The damage is a length field that lies: every later position of the stream is shifted.
  bool lengthLies = false;
  // The file ends before the block does: its bytes were not read.
  bool pastEnd = false;
  // The block's bytes as its streams read them (valid until the next Inflate).
  const std::uint8_t* raw = nullptr;
  std::uint32_t length = 0;
  // The length the block declares (its length field, or its stored size when it is stored
  // as it is); zero when it declares none that it could hold.
  std::uint32_t declared = 0;
};

class BlockInflater {
 public:
  // Reads from the open descriptor of a file of fileSize bytes.
  BlockInflater(int fd, std::uint64_t fileSize) : fd_(fd), fileSize_(fileSize) {}
  // A compressed block must hold one zlib stream that inflates, checksum included, to
  // exactly the length its length field declares; a block stored as it is holds its bytes.
  InflatedBlock Inflate(const KivRkf::BlockInfo& block);

 private:
  int fd_;
  std::uint64_t fileSize_;
  KivRkf::GrowingBuffer stored_, raw_;
};

}  // namespace MoxInfo
