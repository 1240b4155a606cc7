// The block table: streams, offsets, and the index content's encoding.
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
  buffers_.clear();
  buffers_.resize(blocks_.size());
  names_.clear();
  for (std::uint64_t b = 0; b < blocks_.size(); ++b)
    LimiterFor(blocks_[b].name).blocks.push_back(b);
}

}  // namespace KivRkf
