// KivRkf::TableBuilder: the block table a container writer builds (block_table.hpp), with
// what only the writer knows of its blocks: which are frozen, and the flags set on their
// streams. A stream takes blocks from the pool of unassigned blocks in increasing order;
// when the pool runs dry its last block becomes an index block and 200 new blocks fill the
// pool.
//
// A block's record carries the flags set on its stream while the block belonged to it (a
// block keeps those set on the pool while it was in the pool). The heavy writer sets its
// stream's flags for every array, so a call does not visit the stream's blocks: it notes,
// per flag bit, the number of the last call that set the bit on the stream, and a block
// takes the bits set after the call its record was last brought up to date with.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kiv/rkf/block_table.hpp"

namespace KivRkf {

class TableBuilder {
 public:
  // The next unassigned block, given to the stream (the pool and index blocks grow here).
  std::uint64_t AddBlock(const std::string& name);
  // The blocks of the primary index, for a table that has none yet.
  void AddPrimaryBlocks();
  // The bytes written to the stream so far.
  std::uint64_t GetSize(const std::string& name) const;
  // ORs flags into the record of every block that belongs to the stream now; the cost of
  // a call does not grow with the stream's blocks.
  void SetBlockFlags(const std::string& name, std::uint8_t flags);
  // The flags of block b's record as they stand.
  std::uint8_t Flags(std::uint64_t b) const;
  // Gives block b exactly these flags, whatever was set on its stream before.
  void ResetFlags(std::uint64_t b, std::uint8_t flags);
  // The index content of blocks first .. first + count - 1, their flags as they stand.
  void PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count);
  // A frozen block holds its bytes for good (written, or adopted as it was stored).
  bool Frozen(std::uint64_t b) const { return state_[b].frozen; }
  void Freeze(std::uint64_t b, std::uint32_t length) {
    state_[b].frozen = true;
    state_[b].frozenLength = length;
  }

  BlockTable& Table() { return table_; }
  const BlockTable& Table() const { return table_; }

 private:
  std::uint64_t CreateBlock(const std::string& name);
  // n new unassigned blocks; gives the length of the index content describing them.
  std::uint32_t AddEmptyBlocks(std::uint32_t n);
  // Hands block b to the stream, its record's flags brought up to date first.
  void Assign(std::uint64_t b, const std::string& name);
  void SettleFlags(std::uint64_t b);

  BlockTable table_;
  struct BlockState {
    bool frozen = false;
    std::uint32_t frozenLength = 0;
    std::uint64_t flagsAsOf = 0;  // the last flag call its record's flags take in
  };
  std::vector<BlockState> state_;
  // The number of SetBlockFlags calls so far, and per stream and flag bit the number of the
  // last call that set the bit (0: none).
  std::uint64_t flagCalls_ = 0;
  std::map<std::string, std::array<std::uint64_t, 8>> bitSetAt_;
  // Per stream, how many of its first blocks are frozen and their lengths (GetSize).
  struct FrozenPrefix {
    std::size_t blocks = 0;
    std::uint64_t bytes = 0;
  };
  mutable std::map<std::string, FrozenPrefix> frozenPrefix_;
};

}  // namespace KivRkf
