// KivRkf::IndexReader: the container reader. It reads the block table from the primary
// index and the chain of index blocks, then serves reads by stream name, loading and
// decompressing each block the first time a reader reaches it. Every size taken from the
// table is checked against the length of the file before anything is allocated or read,
// and a load budget keeps records that send the reader back and forth from inflating
// blocks again and again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/spare_buffers.hpp"

namespace KivRkf {

// One block of a stream as stored: where its raw bytes start in the stream, how many
// there are, and where its stored bytes lie in the file.
struct StoredBlock {
  std::uint64_t block = 0;
  std::uint64_t position = 0;
  std::uint32_t rawLength = 0;
  std::uint64_t offset = 0;
  std::uint32_t storedSize = 0;
  std::uint8_t flags = 0;
};

// A file that ends before the blocks its table describes.
struct FileCut {
  std::uint64_t fileSize = 0;
  // Where the last block of the table ends. When an index block runs past the end of the
  // file, the blocks it describes are unknown: the table ends there or later.
  std::uint64_t tableEnd = 0;
  bool endKnown = true;
  // The first block, in file order, that does not end within the file.
  std::uint64_t firstBlockPast = 0;
  // "its block table ends at byte N, the file has M bytes".
  std::string Describe() const;
};

// What the reader knows of a block besides its record.
struct BlockReadState {
  // Its bytes are in memory.
  bool loaded = false;
  // The size the block stands for came from its length field and was not yet checked by
  // inflating it.
  bool sizeUnchecked = false;
  // The block was loaded whole at least once: its stored bytes read and, when compressed,
  // inflated to exactly the length they declare.
  bool inflated = false;
  // A compressed block whose zlib stream gave fewer bytes than its length field declares
  // when it was loaded (the loader takes it as it is): the two lengths; both 0 otherwise.
  std::uint32_t declaredLength = 0, streamLength = 0;
  // How many times its stored bytes were inflated.
  std::uint32_t inflations = 0;
};

class IndexReader {
 public:
  IndexReader() = default;
  IndexReader(const IndexReader&) = delete;
  IndexReader& operator=(const IndexReader&) = delete;

  // The open file the reader loads blocks from (every size read from the table is checked
  // against its length); null while it is closed.
  void SetStream(std::FILE* stream) { stream_ = stream; }
  // The stream stands just after the primary index's length field. A table whose blocks
  // run past the end of the file is read as far as the file holds its index blocks, and
  // the cut is kept (Cut) for the caller to refuse or report.
  void ReadIndexBufferFromFileStream(std::FILE* stream, std::uint32_t length);
  // Set by the last table read when the file ends before its blocks do.
  const std::optional<FileCut>& Cut() const { return cut_; }
  const BlockTable& Table() const { return table_; }
  bool HasName(const std::string& name) const { return table_.HasName(name); }
  const BlockReadState& ReadState(std::uint64_t b) const { return state_[b]; }

  // Reads the next value of the stream, loading blocks from the file when there is one
  // open. A missing stream (code 5) reads as nothing and leaves the destination
  // unchanged; every other failure passes to the caller.
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
  // Per stream the table does not have, how many reads asked for it and got nothing.
  const std::map<std::string, std::uint64_t>& MissingReads() const { return missingReads_; }
  void SetReadingPosition(const std::string& name, std::uint64_t position);
  // The stream byte position at which the next value of the stream is read (0 for a
  // stream that does not exist).
  std::uint64_t ReadingPosition(const std::string& name) const;
  // The bytes the stream can still deliver, when that is known without loading more
  // blocks: the rest of the current block and every later block that is loaded or not
  // compressed. Empty when a later compressed block has not been loaded yet.
  std::optional<std::uint64_t> KnownBytesLeft(const std::string& name);
  // Reads and inflates ahead the blocks of every stream but skip, in table order, while
  // their bytes stay within limit: a load of one of them takes its bytes instead of
  // reading the file (each is inflated once either way). Reading ahead stops at the first
  // block that it cannot read or inflate; that block's load reads it and reports the
  // damage. For a file opened ahead on another thread, before its reader is used. Returns
  // the bytes read ahead (raw or stored per block, whichever is larger).
  std::uint64_t Preload(const std::string& skip, std::uint64_t limit);
  // Frees the bytes of every loaded block of the stream; they are read from the file again
  // when a later SetReadingPosition needs them.
  void ReleaseLoadedBlocks(const std::string& name);
  // Notes that bytes [position, position + size) of the stream were read into one record.
  // Fails with code 9 when some of them were read into another record before: in a sound
  // file no two records share bytes, and records that did would let a small file stand
  // for any amount of data.
  void ClaimRange(const std::string& name, std::uint64_t position, std::uint64_t size);

  // The blocks of the stream in order; a block never reached is passed over (its raw
  // length taken from its length field, to be checked later).
  std::vector<StoredBlock> DescribeStream(const std::string& name);
  // Inflates (and frees again) every block whose size was taken from its length field
  // and never checked, so that a length field that lies fails the read instead of
  // shifting every later position; the stream named skip is left for later.
  void CheckRecordedSizes(const std::string& skip = {});
  // How many times blocks of the stream were inflated so far.
  std::uint64_t Inflations(const std::string& name) const;
  // Notes that block b was inflated and found to hold the bytes its records say.
  void MarkSizeChecked(std::uint64_t b) { state_[b].sizeUnchecked = false; }

 private:
  std::uint64_t CreateBlock(const std::string& name);
  void LoadBlock(std::uint64_t b);
  // Gives a block that was never loaded the record of a block passed over, from its
  // uncompressed length: a compressed block declares it in its first four bytes, so it is
  // not inflated (a reader that seeks past it needs only its size).
  void RecordPassedOver(std::uint64_t b);
  // The block the stream is read from, loaded from the file when one is open.
  std::uint64_t GetReadingBlockIndex(const std::string& name);
  // Used up and left behind: the block's buffer goes to the next block loaded.
  void Retire(std::uint64_t b);
  void CheckFileRange(std::FILE* stream, std::uint64_t offset, std::uint64_t size) const;
  std::optional<FileCut> FindCut(std::uint64_t fileSize, bool endKnown) const;

  // A block read and inflated ahead (Preload), with the lengths of a short stream.
  struct Preloaded {
    Block bytes;
    bool inflated = false;
    std::uint32_t declaredLength = 0, streamLength = 0;
  };

  BlockTable table_;
  std::vector<BlockReadState> state_;
  std::map<std::uint64_t, Preloaded> preloaded_;
  std::FILE* stream_ = nullptr;
  // Per stream, the byte ranges read into records (ClaimRange): start -> end.
  std::map<std::string, std::map<std::uint64_t, std::uint64_t>> claims_;
  std::map<std::string, std::uint64_t> missingReads_;
  // The bytes LoadBlock may still read and inflate: four times what all blocks of the
  // table can hold. No limit until a table is read.
  std::uint64_t loadBudget_ = ~std::uint64_t{0};
  // The buffer of the last block used up, for the next block inflated.
  SpareBuffer spare_;
  std::optional<FileCut> cut_;
};

}  // namespace KivRkf
