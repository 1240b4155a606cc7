// The block table: streams, the pool of unassigned blocks, index blocks, offsets, and the
// index content's encoding.
#include "kiv/rkf/block_table.hpp"

#include <algorithm>
#include <cstring>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/encoding.hpp"
#include "kiv/rkf/env.hpp"

namespace KivRkf {

const std::string kEmptyBlockName = std::string("\x0B") + "Empty Block ";
const std::string kIndexBlockName = std::string("\x0B") + "Index Block ";

namespace {
// serial, name count, storedSize, flags, reserved: the fewest bytes of one record.
constexpr std::uint32_t kMinRecordSize = 1 + 4 + 4 + 1 + 1;
}  // namespace

std::uint32_t StreamLimitFromEnvironment() {
  auto v = ReadEnvU32("KORVANE_MAX_MOX_BLOCK_SIZE");
  return (v && *v < 0xFFFFFFFFu) ? *v : kDefaultStreamLimit;
}

bool IsSpecialName(const std::string& name, const std::string& special) {
  return name.size() >= special.size() && name.compare(0, special.size(), special) == 0;
}

BlockSizeLimiter& BlockTable::LimiterFor(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) {
    BlockSizeLimiter limiter;
    limiter.limit = StreamLimitFromEnvironment();
    it = names_.emplace(name, std::move(limiter)).first;
  }
  return it->second;
}

BlockSizeLimiter& BlockTable::GetBlockSizeLimiter(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) KIV_RAISE(ElementNotFound, nullptr, "KivRkf::Index::GetBlockSizeLimiter");
  return it->second;
}

std::uint64_t BlockTable::CreateBlock(const std::string& name) {
  BlockInfo info;
  info.serial = nextSerial_;
  info.name = name;
  blocks_.push_back(std::move(info));
  buffers_.emplace_back();
  std::uint64_t b = blocks_.size() - 1;
  LimiterFor(name).blocks.push_back(b);
  ++nextSerial_;
  return b;
}

std::uint32_t BlockTable::AddEmptyBlocks(std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) CreateBlock(kEmptyBlockName);
  auto& pool = LimiterFor(kEmptyBlockName).blocks;
  std::reverse(pool.begin(), pool.end());
  return 4 + kIndexRecordSize * n;
}

std::uint64_t BlockTable::AddBlock(const std::string& name) {
  if (name == kEmptyBlockName) return CreateBlock(name);
  auto pool = names_.find(kEmptyBlockName);
  if (pool == names_.end())
    indexBufferSize_ = AddEmptyBlocks(kPrimaryBlocks) + 4;
  else if (pool->second.blocks.empty())
    KIV_RAISE(MisMatch, "This point should not be reached", "KivRkf::Index::AddBlock");
  LimiterFor(name);
  auto& free = names_.at(kEmptyBlockName).blocks;
  std::uint64_t e = free.back();
  free.pop_back();
  if (free.empty()) {
    // The last block of the pool becomes the index block of the next 200 blocks.
    std::uint32_t length = AddEmptyBlocks(kBlocksPerIndexBlock);
    auto it = names_.find(kIndexBlockName);
    if (it == names_.end()) {
      BlockSizeLimiter limiter;
      limiter.limit = length;
      it = names_.emplace(kIndexBlockName, std::move(limiter)).first;
    }
    it->second.blocks.push_back(e);
    blocks_[e].name = kIndexBlockName;
    SetBlockFlags(kIndexBlockName, kFlagStreaming);
    PutIndexContent(buffers_[e], e + 1, kBlocksPerIndexBlock);
    blocks_[e].storedSize = buffers_[e].Size();
    ComputeOffset(e);
    auto& refilled = names_.at(kEmptyBlockName).blocks;
    e = refilled.back();
    refilled.pop_back();
  }
  names_.at(name).blocks.push_back(e);
  blocks_[e].name = name;
  return e;
}

std::uint64_t BlockTable::GetSize(const std::string& name) const {
  auto it = names_.find(name);
  if (it == names_.end()) return 0;
  const std::vector<std::uint64_t>& blocks = it->second.blocks;
  // Frozen blocks keep their length: the leading frozen ones are summed once (a stream of
  // thousands of blocks is asked its size after every block it takes).
  FrozenPrefix& prefix = frozenPrefix_[name];
  if (prefix.blocks > blocks.size() || IsSpecialName(name, kIndexBlockName)) prefix = {};
  while (prefix.blocks < blocks.size() && blocks_[blocks[prefix.blocks]].frozen &&
         !IsSpecialName(name, kIndexBlockName))
    prefix.bytes += blocks_[blocks[prefix.blocks++]].frozenLength;
  std::uint64_t total = prefix.bytes;
  for (std::size_t k = prefix.blocks; k < blocks.size(); ++k) {
    const std::uint64_t b = blocks[k];
    total += blocks_[b].frozen ? blocks_[b].frozenLength : buffers_[b].Position();
  }
  return total;
}

void BlockTable::SetBlockFlags(const std::string& name, std::uint8_t flags) {
  for (auto& info : blocks_)
    if (info.name == name) info.flags |= flags;
}

void BlockTable::ComputeOffset(std::uint64_t b) {
  blocks_[b].offset =
      b == 0 ? headerSize_ + indexBufferSize_ : blocks_[b - 1].offset + blocks_[b - 1].storedSize;
}

void BlockTable::ComputeAllOffsets() {
  for (std::uint64_t b = 0; b < blocks_.size(); ++b) ComputeOffset(b);
}

void BlockTable::PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count) const {
  block.Put(static_cast<std::uint32_t>(count));
  for (std::uint64_t i = first; i < first + count; ++i) {
    const BlockInfo& info = blocks_[i];
    std::uint8_t name[128] = {};
    std::memcpy(name, info.name.data(), std::min<std::size_t>(info.name.size(), 128));
    block.Put(info.serial);
    block.Put(std::uint32_t{128});
    block.Put(name, 128);
    block.Put(info.storedSize);
    block.Put(info.flags);
    block.Put(info.reserved);
  }
}

void BlockTable::DecodeIndexContent(Block& block, std::uint64_t maxBlocks) {
  std::uint32_t n = 0;
  block.Get(n);
  CheckCount(block, n, kMinRecordSize);
  KIV_CHECK(blocks_.size() + n <= maxBlocks, ReadError, "The block index is damaged",
            "KivRkf::Index::ReadIndexBufferFromFileStream");
  std::uint64_t first = blocks_.size();
  for (std::uint32_t i = 0; i < n; ++i) {
    BlockInfo info;
    block.Get(info.serial);
    block.Get(info.name);
    block.Get(info.storedSize);
    block.Get(info.flags);
    block.Get(info.reserved);
    blocks_.push_back(std::move(info));
  }
  for (std::uint64_t b = first; b < blocks_.size(); ++b) ComputeOffset(b);
}

void BlockTable::IndexStreams() {
  frozenPrefix_.clear();
  buffers_.clear();
  buffers_.resize(blocks_.size());
  names_.clear();
  for (std::uint64_t b = 0; b < blocks_.size(); ++b)
    LimiterFor(blocks_[b].name).blocks.push_back(b);
}

}  // namespace KivRkf
