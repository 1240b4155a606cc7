// KivRkf::Index: the block index of a container file, the one type the rest of the code
// uses. It owns three parts, each with its own state: the block table (block_table.hpp:
// records, streams, offsets and the index content's layout), the stream writer
// (stream_writer.hpp) and the stream reader (stream_reader.hpp), and offers their
// operations, typed Put and Get by stream name above all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/stream_reader.hpp"
#include "kiv/rkf/stream_writer.hpp"

namespace KivRkf {

class Index {
 public:
  Index() = default;
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // ---- Block table ----
  std::uint64_t AddBlock(const std::string& name) { return table_.AddBlock(name); }
  std::uint64_t CreateBlock(const std::string& name) { return table_.CreateBlock(name); }
  std::uint32_t AddEmptyBlocks(std::uint32_t n) { return table_.AddEmptyBlocks(n); }
  std::uint64_t GetSize(const std::string& name) const { return table_.GetSize(name); }
  void SetBlockFlags(const std::string& name, std::uint8_t flags) {
    table_.SetBlockFlags(name, flags);
  }
  BlockSizeLimiter& GetBlockSizeLimiter(const std::string& name) {
    return table_.GetBlockSizeLimiter(name);
  }
  // The stream's blocks and limit, made with the limit from the environment when new.
  BlockSizeLimiter& LimiterFor(const std::string& name) { return table_.LimiterFor(name); }
  const std::vector<BlockInfo>& Blocks() const { return table_.Blocks(); }
  Block& Buffer(std::uint64_t b) { return table_.Buffer(b); }
  const std::map<std::string, BlockSizeLimiter>& Names() const { return table_.Names(); }
  bool HasName(const std::string& name) const { return table_.HasName(name); }
  std::uint64_t HeaderSize() const { return table_.HeaderSize(); }
  std::uint64_t IndexBufferSize() const { return table_.IndexBufferSize(); }
  void SetHeaderSize(std::uint64_t size) { table_.SetHeaderSize(size); }
  std::uint64_t BlockOffset(std::uint64_t b) const { return table_.BlockOffset(b); }

  // ---- Writing side ----
  std::uint64_t GetWritingBlockIndex(const std::string& name) {
    return writer_.GetWritingBlockIndex(name);
  }
  // The block that takes the next value of the stream (raises when it is frozen).
  Block& WritingBlock(const std::string& name, bool typed = true) {
    return writer_.WritingBlock(name, typed);
  }
  template <class T>
  void Put(const std::string& name, const T& value) {
    WritingBlock(name).Put(value);
  }
  void Put(const std::string& name, const void* bytes, std::uint32_t count) {
    WritingBlock(name, false).Put(bytes, count);
  }
  // Writes every full block of a streaming stream. Each goes to the file on a thread of its
  // own (BackgroundWrite) while the caller fills the next; two may be compressed side by
  // side, and the next block of the stream then waits for the first of them to take over
  // its buffer. The file stream is not to be used by anyone else until the next call of an
  // Index write function that waits for them, or until FinishPendingWrite.
  void FlushFrozen(std::FILE* stream) { writer_.FlushFrozen(stream); }
  // Waits for the blocks being written in the background and takes their results in
  // order (raising the first failure); DropPendingWrite waits without raising, before the
  // file is closed.
  void FinishPendingWrite() { writer_.FinishPendingWrite(); }
  void DropPendingWrite() noexcept { writer_.DropPendingWrite(); }
  // How many blocks may be compressed and written in the background at once.
  static constexpr std::size_t kWritesInFlight = StreamWriter::kWritesInFlight;
  void WriteBufferToFileStream(std::uint64_t b, std::FILE* stream) {
    writer_.WriteBufferToFileStream(b, stream);
  }
  void WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream) {
    writer_.WriteIndexBufferToFileStream(b, stream);
  }
  void WriteAllBuffersToFileStream(std::FILE* stream) {
    writer_.WriteAllBuffersToFileStream(stream);
  }
  using Adopted = StreamWriter::Adopted;
  // Copies a compressed block of another file (descriptor from) to the end of the stream as
  // it is stored, without inflating it; see StreamWriter::AdoptBlock.
  Adopted AdoptBlock(const std::string& name, int from, std::uint64_t fromOffset,
                     std::uint32_t storedSize, std::uint32_t rawLength, std::FILE* stream) {
    return writer_.AdoptBlock(name, from, fromOffset, storedSize, rawLength, stream);
  }

  // ---- Reading side ----
  // The stream stands just after the primary index's length field. A table whose blocks
  // run past the end of the file is kept as far as it reads, with the cut in Cut().
  void ReadIndexBufferFromFileStream(std::FILE* stream, std::uint32_t length) {
    reader_.ReadIndexBufferFromFileStream(stream, length);
  }
  const std::optional<FileCut>& Cut() const { return reader_.Cut(); }
  void LoadBlock(std::uint64_t b, std::FILE* stream) { reader_.LoadBlock(b, stream); }
  void RecordPassedOver(std::uint64_t b, std::FILE* stream) { reader_.RecordPassedOver(b, stream); }
  // Inflates (and frees again) every block whose size was taken from its length field
  // and never checked, so that a length field that lies fails the read instead of
  // shifting every later position; the stream named skip is left for later.
  void CheckRecordedSizes(const std::string& skip = {}) { reader_.CheckRecordedSizes(skip); }
  std::vector<StoredBlock> DescribeStream(const std::string& name) {
    return reader_.DescribeStream(name);
  }
  void MarkSizeChecked(std::uint64_t b) { reader_.MarkSizeChecked(b); }
  std::uint64_t GetReadingBlockIndex(const std::string& name) {
    return reader_.GetReadingBlockIndex(name);
  }
  std::uint64_t GetReadingBlockIndex(const std::string& name, std::FILE* stream) {
    return reader_.GetReadingBlockIndex(name, stream);
  }
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
  Block* ReadingBlock(const std::string& name) { return reader_.ReadingBlock(name); }
  // Per stream the file does not have, how many reads asked for it and got nothing.
  const std::map<std::string, std::uint64_t>& MissingReads() const {
    return reader_.MissingReads();
  }
  void SetReadingPosition(const std::string& name, std::uint64_t position, std::FILE* stream) {
    reader_.SetReadingPosition(name, position, stream);
  }
  void SetReadingPosition(const std::string& name, std::uint64_t position) {
    reader_.SetReadingPosition(name, position, reader_.Stream());
  }
  // Frees the bytes of every loaded block of the stream; they are read from the file again
  // when a later SetReadingPosition needs them.
  void ReleaseLoadedBlocks(const std::string& name) { reader_.ReleaseLoadedBlocks(name); }
  // The stream byte position at which the next value of the stream is read (0 for a
  // stream that does not exist).
  std::uint64_t ReadingPosition(const std::string& name) const {
    return reader_.ReadingPosition(name);
  }
  // The bytes the stream can still deliver without loading more blocks, when known.
  std::optional<std::uint64_t> KnownBytesLeft(const std::string& name) {
    return reader_.KnownBytesLeft(name);
  }
  // Notes that bytes [position, position + size) of the stream were read into one record.
  // Fails with code 9 when some of them were read into another record before: in a sound
  // file no two records share bytes, and records that did would let a small file stand
  // for any amount of data.
  void ClaimRange(const std::string& name, std::uint64_t position, std::uint64_t size) {
    reader_.ClaimRange(name, position, size);
  }
  const std::map<std::uint64_t, std::uint64_t>* ClaimedRanges(const std::string& name) const {
    return reader_.ClaimedRanges(name);
  }
  // The open file the reading side loads blocks from (every size read from the table is
  // checked against its length).
  void SetStream(std::FILE* stream) { reader_.SetStream(stream); }
  std::FILE* Stream() const { return reader_.Stream(); }

 private:
  // Declared first: the writer and the reader refer to it.
  BlockTable table_;
  StreamReader reader_{table_};
  // Destroyed first: it waits for the blocks still being written.
  StreamWriter writer_{table_};
};

}  // namespace KivRkf
