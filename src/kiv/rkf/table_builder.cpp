// The block table as a writer builds it: the pool, index blocks, stream sizes and flags.
#include "kiv/rkf/table_builder.hpp"

#include <algorithm>

#include "kiv/log/raise.hpp"

namespace KivRkf {

std::uint64_t TableBuilder::CreateBlock(const std::string& name) {
  state_.push_back({false, 0, flagCalls_});
  return table_.CreateBlock(name);
}

std::uint32_t TableBuilder::AddEmptyBlocks(std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) CreateBlock(kEmptyBlockName);
  auto& pool = table_.LimiterFor(kEmptyBlockName).blocks;
  std::reverse(pool.begin(), pool.end());
  return 4 + kIndexRecordSize * n;
}

void TableBuilder::AddPrimaryBlocks() {
  table_.SetIndexBufferSize(AddEmptyBlocks(kPrimaryBlocks) + 4);
}

void TableBuilder::Assign(std::uint64_t b, const std::string& name) {
  SettleFlags(b);
  table_.Blocks()[b].name = name;
}

std::uint64_t TableBuilder::AddBlock(const std::string& name) {
  if (name == kEmptyBlockName) return CreateBlock(name);
  auto& names = table_.Names();
  auto pool = names.find(kEmptyBlockName);
  if (pool == names.end())
    AddPrimaryBlocks();
  else if (pool->second.blocks.empty())
    KIV_RAISE(MisMatch, "This point should not be reached", "KivRkf::Index::AddBlock");
  table_.LimiterFor(name);
  auto& free = names.at(kEmptyBlockName).blocks;
  std::uint64_t e = free.back();
  free.pop_back();
  if (free.empty()) {
    // The last block of the pool becomes the index block of the next 200 blocks.
    std::uint32_t length = AddEmptyBlocks(kBlocksPerIndexBlock);
    auto it = names.find(kIndexBlockName);
    if (it == names.end()) {
      BlockSizeLimiter limiter;
      limiter.limit = length;
      it = names.emplace(kIndexBlockName, std::move(limiter)).first;
    }
    it->second.blocks.push_back(e);
    Assign(e, kIndexBlockName);
    SetBlockFlags(kIndexBlockName, kFlagStreaming);
    PutIndexContent(table_.Buffer(e), e + 1, kBlocksPerIndexBlock);
    table_.Blocks()[e].storedSize = table_.Buffer(e).Size();
    table_.ComputeOffset(e);
    auto& refilled = names.at(kEmptyBlockName).blocks;
    e = refilled.back();
    refilled.pop_back();
  }
  names.at(name).blocks.push_back(e);
  Assign(e, name);
  return e;
}

std::uint64_t TableBuilder::GetSize(const std::string& name) const {
  auto it = table_.Names().find(name);
  if (it == table_.Names().end()) return 0;
  const std::vector<std::uint64_t>& blocks = it->second.blocks;
  // Frozen blocks keep their length: the leading frozen ones are summed once (a stream of
  // thousands of blocks is asked its size after every block it takes).
  FrozenPrefix& prefix = frozenPrefix_[name];
  if (prefix.blocks > blocks.size() || IsSpecialName(name, kIndexBlockName)) prefix = {};
  while (prefix.blocks < blocks.size() && state_[blocks[prefix.blocks]].frozen &&
         !IsSpecialName(name, kIndexBlockName))
    prefix.bytes += state_[blocks[prefix.blocks++]].frozenLength;
  std::uint64_t total = prefix.bytes;
  for (std::size_t k = prefix.blocks; k < blocks.size(); ++k) {
    const std::uint64_t b = blocks[k];
    total += state_[b].frozen ? state_[b].frozenLength : table_.Buffer(b).Position();
  }
  return total;
}

void TableBuilder::SetBlockFlags(const std::string& name, std::uint8_t flags) {
  ++flagCalls_;
  std::array<std::uint64_t, 8>& setAt = bitSetAt_[name];
  for (unsigned bit = 0; bit < 8; ++bit)
    if (flags & (1u << bit)) setAt[bit] = flagCalls_;
}

std::uint8_t TableBuilder::Flags(std::uint64_t b) const {
  const BlockInfo& info = table_.Blocks()[b];
  std::uint8_t flags = info.flags;
  auto it = bitSetAt_.find(info.name);
  if (it != bitSetAt_.end())
    for (unsigned bit = 0; bit < 8; ++bit)
      if (it->second[bit] > state_[b].flagsAsOf) flags |= std::uint8_t(1u << bit);
  return flags;
}

void TableBuilder::SettleFlags(std::uint64_t b) {
  table_.Blocks()[b].flags = Flags(b);
  state_[b].flagsAsOf = flagCalls_;
}

void TableBuilder::ResetFlags(std::uint64_t b, std::uint8_t flags) {
  table_.Blocks()[b].flags = flags;
  state_[b].flagsAsOf = flagCalls_;
}

void TableBuilder::PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count) {
  for (std::uint64_t b = first; b < first + count; ++b) SettleFlags(b);
  table_.PutIndexContent(block, first, count);
}

}  // namespace KivRkf
