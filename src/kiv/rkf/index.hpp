// KivRkf::Index: the table of blocks of a container file, grouped into named streams.
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
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/background_write.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/spare_buffers.hpp"

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

struct BlockInfo {
  std::uint8_t serial = 0;
  std::string name;
  std::uint64_t offset = 0;
  std::uint32_t storedSize = 0;
  std::uint8_t flags = 0;
  std::uint8_t reserved = 0;
  bool frozen = false;
  bool loaded = false;
  // The size the block stands for came from its length field and was not yet checked by
  // inflating it.
  bool sizeUnchecked = false;
  std::uint32_t frozenLength = 0;
};

struct BlockSizeLimiter {
  std::vector<std::uint64_t> blocks;
  std::uint32_t limit = kDefaultStreamLimit;
};

// The stream limit of a new name: KORVANE_MAX_MOX_BLOCK_SIZE, or 209715200.
std::uint32_t StreamLimitFromEnvironment();
bool IsSpecialName(const std::string& name, const std::string& special);

class Index {
 public:
  Index() = default;
  // Waits for the blocks still being written (their results are dropped).
  ~Index() { DropPendingWrite(); }
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // ---- Writing side ----
  std::uint64_t AddBlock(const std::string& name);
  std::uint64_t CreateBlock(const std::string& name);
  std::uint32_t AddEmptyBlocks(std::uint32_t n);
  std::uint64_t GetWritingBlockIndex(const std::string& name);
  // The block that takes the next value of the stream (raises when it is frozen).
  Block& WritingBlock(const std::string& name, bool typed = true);

  template <class T>
  void Put(const std::string& name, const T& value) {
    WritingBlock(name).Put(value);
  }
  void Put(const std::string& name, const void* bytes, std::uint32_t count) {
    WritingBlock(name, false).Put(bytes, count);
  }

  std::uint64_t GetSize(const std::string& name) const;
  void SetBlockFlags(const std::string& name, std::uint8_t flags);
  // Writes every full block of a streaming stream. Each goes to the file on a thread of its
  // own (BackgroundWrite) while the caller fills the next; two may be compressed side by
  // side, and the next block of the stream then waits for the first of them to take over
  // its buffer. The file stream is not to be used by anyone else until the next call of an
  // Index write function that waits for them, or until FinishPendingWrite.
  void FlushFrozen(std::FILE* stream);
  // Waits for the blocks being written in the background and takes their results in
  // order (raising the first failure); DropPendingWrite waits without raising, before the
  // file is closed.
  void FinishPendingWrite();
  void DropPendingWrite() noexcept;
  // How many blocks may be compressed and written in the background at once.
  static constexpr std::size_t kWritesInFlight = 2;
  void WriteBufferToFileStream(std::uint64_t b, std::FILE* stream);
  void WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream);
  void WriteAllBuffersToFileStream(std::FILE* stream);

  // ---- Reading side ----
  // The stream stands just after the primary index's length field.
  void ReadIndexBufferFromFileStream(std::FILE* stream, std::uint32_t length);
  void LoadBlock(std::uint64_t b, std::FILE* stream);
  // Gives a block that was never loaded the record of a block passed over, from its
  // uncompressed length: a compressed block declares it in its first four bytes, so it is
  // not inflated (a reader that seeks past it needs only its size).
  void RecordPassedOver(std::uint64_t b, std::FILE* stream);
  // Inflates (and frees again) every block whose size was taken from its length field
  // and never checked, so that a length field that lies fails the read instead of
  // shifting every later position; the stream named skip is left for later.
  void CheckRecordedSizes(const std::string& skip = {});
  std::uint64_t GetReadingBlockIndex(const std::string& name);
  std::uint64_t GetReadingBlockIndex(const std::string& name, std::FILE* stream);

  // Reads the next value of the stream, loading blocks from the attached stream (see
  // SetStream) when there is one. A missing stream (code 5) reads as nothing and leaves
  // the destination unchanged; every other failure passes to the caller.
  template <class T>
  void Get(const std::string& name, T& destination) {
    Block* b = ReadingBlock(name);
    if (b) b->Get(destination);
  }
  void Get(const std::string& name, void* destination, std::uint32_t count) {
    Block* b = ReadingBlock(name);
    if (b) b->Get(destination, count);
  }
  // The block the next value of the stream is read from, or null when the stream does
  // not exist or is used up (the code-5 cases).
  Block* ReadingBlock(const std::string& name);

  void SetReadingPosition(const std::string& name, std::uint64_t position, std::FILE* stream);
  void SetReadingPosition(const std::string& name, std::uint64_t position) {
    SetReadingPosition(name, position, stream_);
  }
  // Frees the bytes of every loaded block of the stream; they are read from the file again
  // when a later SetReadingPosition needs them.
  void ReleaseLoadedBlocks(const std::string& name);
  BlockSizeLimiter& GetBlockSizeLimiter(const std::string& name);
  // The stream byte position at which the next value of the stream is read (0 for a
  // stream that does not exist).
  std::uint64_t ReadingPosition(const std::string& name) const;
  // Notes that bytes [position, position + size) of the stream were read into one record.
  // Fails with code 9 when some of them were read into another record before: in a sound
  // file no two records share bytes, and records that did would let a small file stand
  // for any amount of data.
  void ClaimRange(const std::string& name, std::uint64_t position, std::uint64_t size);

  // ---- Access ----
  // The open file the reading side loads blocks from, and its length in bytes (every
  // size read from the table is checked against it).
  void SetStream(std::FILE* stream, std::uint64_t fileSize) {
    stream_ = stream;
    fileSize_ = fileSize;
  }
  std::FILE* Stream() const { return stream_; }
  const std::vector<BlockInfo>& Blocks() const { return blocks_; }
  Block& Buffer(std::uint64_t b) { return buffers_[b]; }
  const std::map<std::string, BlockSizeLimiter>& Names() const { return names_; }
  bool HasName(const std::string& name) const { return names_.count(name) != 0; }
  std::uint64_t HeaderSize() const { return headerSize_; }
  std::uint64_t IndexBufferSize() const { return indexBufferSize_; }
  void SetHeaderSize(std::uint64_t size) { headerSize_ = size; }
  std::uint64_t BlockOffset(std::uint64_t b) const;

 private:
  BlockSizeLimiter& LimiterFor(const std::string& name);
  void ComputeOffset(std::uint64_t b);
  void ComputeAllOffsets();
  // Hands block b to a BackgroundWrite, on a thread of its own or on this one. A block
  // compressed beforehand (PackAhead) passes its raw length as packedFrom.
  void StartWrite(std::uint64_t b, std::FILE* stream, bool ownThread,
                  std::optional<std::uint32_t> packedFrom = std::nullopt);
  // Waits for the oldest block being written in the background and takes its result.
  void FinishOldestWrite();
  // Compresses, on this thread, the zlib blocks from first on while a block is still
  // being written on the second one; gives the raw length of each block compressed.
  std::vector<std::optional<std::uint32_t>> PackAhead(std::uint64_t first);
  void Retire(std::uint64_t b);
  void PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count) const;
  void DecodeIndexContent(Block& block, std::FILE* stream);
  void CheckFileRange(std::FILE* stream, std::uint64_t offset, std::uint64_t size) const;

  std::vector<BlockInfo> blocks_;
  std::vector<Block> buffers_;
  std::map<std::string, BlockSizeLimiter> names_;
  std::uint8_t nextSerial_ = 1;
  std::uint64_t headerSize_ = 12;
  std::uint64_t indexBufferSize_ = 0;
  std::FILE* stream_ = nullptr;
  std::uint64_t fileSize_ = 0;
  // The blocks being written in the background, oldest first, and the order in which they
  // reach the file (declared first: it outlives them).
  struct PendingWrite {
    std::unique_ptr<BackgroundWrite> job;
    std::uint64_t block = 0;
    std::uint32_t rawLength = 0;  // the block's size before compression, for its records
  };
  WriteTurns turns_;
  std::deque<PendingWrite> pending_;
  // Per stream, the byte ranges read into records (ClaimRange): start -> end.
  std::map<std::string, std::map<std::uint64_t, std::uint64_t>> claims_;
  // The bytes LoadBlock may still read and inflate: four times what all blocks of the
  // table can hold, so that records that send the reader back and forth between large
  // blocks cannot make it inflate them again and again. No limit until a table is read.
  std::uint64_t loadBudget_ = ~std::uint64_t{0};
  // Buffers of the last block written, reused by the next one (spare_buffers.hpp).
  SpareBuffers spares_;
};

}  // namespace KivRkf
