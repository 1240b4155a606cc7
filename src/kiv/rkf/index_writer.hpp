// KivRkf::IndexWriter: the container writer. Values go by stream name into the last block
// of their stream until it reaches the stream's limit; full blocks of a streaming stream
// are compressed and written while the next one fills (BackgroundWrite), and the blocks
// left, the primary index and the index blocks are written at the end. The table it
// builds is table_builder.hpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiv/rkf/background_write.hpp"
#include "kiv/rkf/spare_buffers.hpp"
#include "kiv/rkf/table_builder.hpp"

namespace KivRkf {

class IndexWriter {
 public:
  IndexWriter() = default;
  // Waits for the blocks still being written (their results are dropped).
  ~IndexWriter() { DropPendingWrite(); }
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  template <class T>
  void Put(const std::string& name, const T& value) {
    WritingBlock(name).Put(value);
  }
  void Put(const std::string& name, const void* bytes, std::uint32_t count) {
    WritingBlock(name, false).Put(bytes, count);
  }
  // The block that takes the next value of the stream (raises when it is frozen).
  Block& WritingBlock(const std::string& name, bool typed = true);
  // The bytes written to the stream so far.
  std::uint64_t GetSize(const std::string& name) const { return builder_.GetSize(name); }
  // ORs flags into every block the stream has now; blocks it takes later start with none,
  // so a writer sets a stream's flags again before the final write.
  void SetBlockFlags(const std::string& name, std::uint8_t flags) {
    builder_.SetBlockFlags(name, flags);
  }
  // The stream's block size limit (taken from the environment when the stream is new).
  std::uint32_t StreamLimit(const std::string& name) {
    return builder_.Table().LimiterFor(name).limit;
  }
  // Writes every full block of a streaming stream. Each goes to the file on a thread of its
  // own (BackgroundWrite) while the caller fills the next; two may be compressed side by
  // side, and the next block of the stream then waits for the first of them to take over
  // its buffer. The file stream is not to be used by anyone else until the next call of a
  // write function here that waits for them, or until DropPendingWrite.
  void FlushFrozen(std::FILE* stream);
  // A compressed block of another file, copied to the end of the stream as it is stored
  // (range_copy.hpp): its record is that of a streaming zlib block written and frozen at
  // rawLength. The stream's last block must be frozen (or the stream new), and so must every
  // other block but the index blocks: the copy lands at the end of the file.
  struct Adopted {
    std::uint64_t block = 0;
    std::uint64_t offset = 0;    // where its bytes lie in the file
    std::uint64_t position = 0;  // where its raw bytes start in the stream
  };
  Adopted AdoptBlock(const std::string& name, int from, std::uint64_t fromOffset,
                     std::uint32_t storedSize, std::uint32_t rawLength, std::FILE* stream);
  // Writes the blocks left, then the primary index and the index blocks.
  void WriteAllBuffersToFileStream(std::FILE* stream);
  // Waits for the blocks being written in the background without raising, before the file
  // is closed.
  void DropPendingWrite() noexcept;

  // The table as built so far. The flags of a record are brought up to date when the
  // record is written (TableBuilder::Flags gives them before).
  const BlockTable& Table() const { return builder_.Table(); }

 private:
  // How many blocks may be compressed and written in the background at once.
  static constexpr std::size_t kWritesInFlight = 2;

  std::uint64_t GetWritingBlockIndex(const std::string& name);
  void WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream);
  // Hands block b to a BackgroundWrite, on a thread of its own or on this one. A block
  // compressed beforehand (PackAhead) passes its raw length as packedFrom.
  void StartWrite(std::uint64_t b, std::FILE* stream, bool ownThread,
                  std::optional<std::uint32_t> packedFrom = std::nullopt);
  // Waits for the blocks being written in the background and takes their results in
  // order (raising the first failure).
  void FinishPendingWrite();
  // Waits for the oldest block being written in the background, takes its result and
  // publishes its records.
  void FinishOldestWrite();
  // Compresses, on this thread, the zlib blocks from first on while a block is still
  // being written on the second one; gives the raw length of each block compressed.
  std::vector<std::optional<std::uint32_t>> PackAhead(std::uint64_t first);
  // Whether every block in use but the index blocks is frozen (written or adopted).
  bool AllBlocksFrozen();

  TableBuilder builder_;
  // The blocks being written in the background, oldest first, and the order in which they
  // reach the file (declared first: it outlives them).
  struct PendingWrite {
    std::unique_ptr<BackgroundWrite> job;
    std::uint64_t block = 0;
    std::uint32_t rawLength = 0;  // the block's size before compression, for its records
  };
  WriteTurns turns_;
  std::deque<PendingWrite> pending_;
  // Buffers of the last block written, reused by the next one (spare_buffers.hpp).
  SpareBuffers spares_;
  // No block below it is unfrozen (AllBlocksFrozen).
  std::size_t firstUnfrozen_ = 0;
  // The blocks before it have their final offsets (AdoptBlock).
  std::uint64_t offsetsFrom_ = 0;
};

}  // namespace KivRkf
