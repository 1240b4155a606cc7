// The blocks of a container as a check reads them: each block's stored bytes read from the
// file and inflated once, into buffers that are reused from block to block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kiv/rkf/block.hpp"

namespace KivRkf {
struct BlockInfo;
}

namespace MoxInfo {

struct InflatedBlock {
  // Empty when the block is sound; else what is wrong with it.
  std::string problem;
  // The damage is a length field that lies: every later position of the stream is shifted.
  bool lengthLies = false;
  // The block's bytes as its streams read them (valid until the next Inflate).
  const std::uint8_t* raw = nullptr;
  std::uint32_t length = 0;
  // The length the block declares (its length field, or its stored size when it is stored
  // as it is); zero when it declares none that it could hold.
  std::uint32_t declared = 0;
};

// A buffer that grows as asked and is kept for the next use; large ones get huge pages
// (a 200 MiB block filled into fresh small pages spends more time in page faults than in
// inflating).
class ScratchBuffer {
 public:
  // Room for size bytes (content undefined), or null when memory runs out.
  std::uint8_t* Room(std::uint64_t size);

 private:
  KivRkf::MallocBuffer data_;
  std::uint64_t capacity_ = 0;
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
  ScratchBuffer stored_, raw_;
};

}  // namespace MoxInfo
