// KivRkf::BlockTable: the records of a container's blocks, grouped into named streams: the
// format that the container writer (index_writer.hpp) builds and the container reader
// (index_reader.hpp) reads, each over a table of its own.
//
//   file offset 12     u32 length of the primary index content (2784)
//   file offset 16     primary index: u32 count 20, then 20 records of 139 bytes
//   file offset 2800   block 0, block 1, ... each storedSize bytes, nothing between
//
// Block 19 is an index block describing blocks 20..219; block 219 describes 220..419,
// and so on: every 200th block after the primary index is the next index block.
// Index record (139 bytes): u8 serial, u32 name length (128), 128 name bytes padded
// with zeros, u32 storedSize, u8 flags (bit 0 zlib, bit 5 streaming), u8 reserved.
// Offsets are not stored: block i starts where block i - 1 ends.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

// Both special names are 13 bytes: 0x0B, eleven characters and a blank.
extern const std::string kEmptyBlockName;
extern const std::string kIndexBlockName;

inline constexpr std::uint8_t kFlagZlib = 1;
inline constexpr std::uint8_t kFlagStreaming = 32;
inline constexpr std::uint32_t kIndexRecordSize = 139;
inline constexpr std::uint32_t kPrimaryBlocks = 20;
inline constexpr std::uint32_t kBlocksPerIndexBlock = 200;
inline constexpr std::uint32_t kDefaultStreamLimit = 209715200;

// A block's index record, and where the block lies in the file.
struct BlockInfo {
  std::uint8_t serial = 0;
  std::string name;
  std::uint64_t offset = 0;
  std::uint32_t storedSize = 0;
  std::uint8_t flags = 0;
  std::uint8_t reserved = 0;
};

struct BlockSizeLimiter {
  std::vector<std::uint64_t> blocks;
  std::uint32_t limit = kDefaultStreamLimit;
};

// The stream limit of a new name: KORVANE_MAX_MOX_BLOCK_SIZE, or 209715200.
std::uint32_t StreamLimitFromEnvironment();
bool IsSpecialName(const std::string& name, const std::string& special);

class BlockTable {
 public:
  // A new block of the stream at the end of the table.
  std::uint64_t CreateBlock(const std::string& name);
  // The stream's blocks and limit, made with the limit from the environment when new.
  BlockSizeLimiter& LimiterFor(const std::string& name);

  void ComputeOffset(std::uint64_t b);
  void ComputeAllOffsets();

  // The index content: u32 count, then the records of blocks first .. first + count - 1.
  void PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count) const;
  // Appends the records of an index content to the table; the table never grows past
  // maxBlocks (a count beyond it is damage).
  void DecodeIndexContent(Block& block, std::uint64_t maxBlocks);
  // Once a table is read: an empty buffer for every block, the streams in block order.
  void IndexStreams();
  void Clear() { blocks_.clear(); }

  std::vector<BlockInfo>& Blocks() { return blocks_; }
  const std::vector<BlockInfo>& Blocks() const { return blocks_; }
  Block& Buffer(std::uint64_t b) { return buffers_[b]; }
  const Block& Buffer(std::uint64_t b) const { return buffers_[b]; }
  std::map<std::string, BlockSizeLimiter>& Names() { return names_; }
  const std::map<std::string, BlockSizeLimiter>& Names() const { return names_; }
  bool HasName(const std::string& name) const { return names_.count(name) != 0; }
  std::uint64_t HeaderSize() const { return headerSize_; }
  void SetHeaderSize(std::uint64_t size) { headerSize_ = size; }
  std::uint64_t IndexBufferSize() const { return indexBufferSize_; }
  void SetIndexBufferSize(std::uint64_t size) { indexBufferSize_ = size; }

 private:
  std::vector<BlockInfo> blocks_;
  std::vector<Block> buffers_;
  std::map<std::string, BlockSizeLimiter> names_;
  std::uint8_t nextSerial_ = 1;
  std::uint64_t headerSize_ = 12;
  std::uint64_t indexBufferSize_ = 0;
};

}  // namespace KivRkf
