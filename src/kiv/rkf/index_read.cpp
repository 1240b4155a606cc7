// The block table of a container file, reading side. The table is read from the
// primary index and then from the chain of index blocks (the last block of the table,
// while it is an index block not yet read). Blocks are loaded from the file and
// decompressed the first time a reader reaches them. Every size taken from the table is
// checked against the length of the file before anything is allocated or read.
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "kiv/log/log_manager.hpp"
#include "kiv/rkf/index.hpp"
#include "kiv/rkf/zlib.hpp"

namespace KivRkf {

namespace {
const char* const kReadTable = "KivRkf::Index::ReadIndexBufferFromFileStream";
const char* const kReading = "KivRkf::Index::GetReadingBlockIndex";
// serial, name count, storedSize, flags, reserved: the fewest bytes of one record.
constexpr std::uint32_t kMinRecordSize = 1 + 4 + 4 + 1 + 1;
// DEFLATE inflates at most 1032:1, plus the fixed bytes of a tiny stream.
constexpr std::uint64_t kMaxInflation = 1032;
constexpr std::uint64_t kInflationSlack = 1024;
// How often, on average, each block may be loaded; sound readers load a block once or
// twice (the two passes over the heavy data).
constexpr std::uint64_t kLoadsPerBlock = 4;

// The bytes loading block info costs at most: its stored bytes and what they inflate to.
std::uint64_t LoadCost(const BlockInfo& info) {
  const std::uint64_t stored = info.storedSize;
  return (info.flags & kFlagZlib) ? stored + kMaxInflation * stored + kInflationSlack : stored;
}

std::uint64_t FileSize(std::FILE* stream) {
  struct stat st;
  if (!stream || fstat(fileno(stream), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}
}  // namespace

void Index::CheckFileRange(std::FILE* stream, std::uint64_t offset, std::uint64_t size) const {
  std::uint64_t fileSize = FileSize(stream ? stream : stream_);
  KIV_CHECK(offset <= fileSize && size <= fileSize - offset, ReadError, "Unable to read from file",
            "KivRkf::Block::Read");
}

void Index::DecodeIndexContent(Block& block, std::FILE* stream) {
  std::uint32_t n = 0;
  block.Get(n);
  CheckCount(block, n, kMinRecordSize);
  // A table never describes more blocks than the file has bytes.
  KIV_CHECK(blocks_.size() + n <= FileSize(stream ? stream : stream_) + kPrimaryBlocks, ReadError,
            "The block index is damaged", kReadTable);
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

void Index::ReadIndexBufferFromFileStream(std::FILE* stream, std::uint32_t length) {
  KIV_LOG_INFO(kReadTable, "Reading index block ... ");
  if (!stream_) stream_ = stream;
  off_t here = ftello(stream);
  KIV_CHECK(here >= 0, ReadError, "Unable to read from file", kReadTable);
  headerSize_ = static_cast<std::uint64_t>(here);
  CheckFileRange(stream, headerSize_, length);
  Block primary;
  primary.Read(stream, length);
  indexBufferSize_ = length;
  primary.SetPosition(std::uint32_t{0});
  blocks_.clear();
  DecodeIndexContent(primary, stream);
  std::vector<bool> chainRead;
  while (!blocks_.empty() && IsSpecialName(blocks_.back().name, kIndexBlockName)) {
    std::uint64_t b = blocks_.size() - 1;
    if (chainRead.size() <= b) chainRead.resize(b + 1, false);
    if (chainRead[b]) break;
    chainRead[b] = true;
    const BlockInfo& info = blocks_[b];
    CheckFileRange(stream, info.offset, info.storedSize);
    KIV_CHECK(fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) == 0, ReadError,
              "Unable to read from file", kReadTable);
    Block chained;
    chained.Read(stream, info.storedSize);
    if (info.flags & kFlagZlib) {
      BlockZlibUnCompressor uncompress;
      uncompress(chained);
    }
    chained.SetPosition(std::uint32_t{0});
    if (chained.Size() < 4) break;
    DecodeIndexContent(chained, stream);
  }
  buffers_.clear();
  buffers_.resize(blocks_.size());
  names_.clear();
  claims_.clear();
  loadBudget_ = 0;
  for (const BlockInfo& info : blocks_) {
    const std::uint64_t cost = kLoadsPerBlock * LoadCost(info);
    loadBudget_ = loadBudget_ > ~std::uint64_t{0} - cost ? ~std::uint64_t{0} : loadBudget_ + cost;
  }
  for (std::uint64_t b = 0; b < blocks_.size(); ++b)
    LimiterFor(blocks_[b].name).blocks.push_back(b);
  KIV_LOG_INFO(kReadTable, "Index block read. ");
}

void Index::LoadBlock(std::uint64_t b, std::FILE* stream) {
  BlockInfo& info = blocks_[b];
  ComputeOffset(b);
  CheckFileRange(stream, info.offset, info.storedSize);
  KIV_CHECK(LoadCost(info) <= loadBudget_, ReadError,
            "The records of the file send the reader back and forth between its blocks",
            "KivRkf::Index::LoadBlock");
  loadBudget_ -= LoadCost(info);
  KIV_CHECK(fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) == 0, ReadError,
            "Unable to read from file", "KivRkf::Block::Read");
  Block& buffer = buffers_[b];
  // A block read before, or passed over, already stands for a number of bytes, and readers
  // have counted positions with it.
  const std::uint32_t recorded = buffer.Size();
  buffer.Clear();
  buffer.Read(stream, info.storedSize);
  if (info.flags & kFlagZlib) {
    BlockZlibUnCompressor uncompress;
    uncompress(buffer, spares_.raw);
  }
  KIV_CHECK(recorded == 0 || buffer.Size() == recorded, ReadError, "Unable to decompress block",
            "KivRkf::Index::LoadBlock");
  info.loaded = true;
  info.sizeUnchecked = false;
  buffer.SetPosition(std::uint32_t{0});
}

void Index::RecordPassedOver(std::uint64_t b, std::FILE* stream) {
  BlockInfo& info = blocks_[b];
  ComputeOffset(b);
  CheckFileRange(stream, info.offset, info.storedSize);
  if (!(info.flags & kFlagZlib)) {
    buffers_[b].RecordOnly(info.storedSize);
    return;
  }
  std::uint8_t first4[4] = {};
  std::optional<std::uint32_t> length;
  if (info.storedSize >= sizeof first4 &&
      fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) == 0 &&
      std::fread(first4, 1, sizeof first4, stream) == sizeof first4)
    length = FramedLength(first4, info.storedSize);
  // A length that cannot be true, or none: the block is loaded, which reports the damage.
  if (!length || *length == 0) {
    LoadBlock(b, stream);
    return;
  }
  buffers_[b].RecordOnly(*length);
  info.sizeUnchecked = true;
}

void Index::CheckRecordedSizes(const std::string& skip) {
  for (std::uint64_t b = 0; b < blocks_.size(); ++b) {
    BlockInfo& info = blocks_[b];
    if (!info.sizeUnchecked || (!skip.empty() && info.name == skip)) continue;
    LoadBlock(b, stream_);
    Retire(b);
  }
  spares_.raw.Clear();
}

std::uint64_t Index::GetReadingBlockIndex(const std::string& name, std::FILE* stream) {
  auto it = names_.find(name);
  if (it == names_.end()) KIV_RAISE(ElementNotFound, nullptr, kReading);
  const auto& list = it->second.blocks;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::uint64_t b = list[i];
    Block& buffer = buffers_[b];
    // Never reached, or reached again from its start after a seek back.
    if (!blocks_[b].loaded && (buffer.Size() == 0 || buffer.Position() < buffer.Size()))
      LoadBlock(b, stream);
    if (buffer.Position() != buffer.Size() || i + 1 == list.size()) return b;
    if (blocks_[b].loaded) Retire(b);
  }
  KIV_RAISE(ElementNotFound, nullptr, kReading);
}

void Index::Retire(std::uint64_t b) {
  // Used up and left behind: the next block loaded inflates into its buffer, so reading a
  // stream takes no fresh memory per block. Its size stays as the record of what it held.
  buffers_[b].SetPosition(buffers_[b].Size());
  std::uint64_t capacity = 0;
  MallocBuffer buffer = buffers_[b].HandOver(capacity);
  spares_.raw.Keep(std::move(buffer), capacity);
  blocks_[b].loaded = false;
}

std::uint64_t Index::GetReadingBlockIndex(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) KIV_RAISE(ElementNotFound, nullptr, kReading);
  for (std::uint64_t b : it->second.blocks)
    if (buffers_[b].Position() != buffers_[b].Size()) return b;
  KIV_RAISE(ElementNotFound, nullptr, kReading);
}

Block* Index::ReadingBlock(const std::string& name) {
  try {
    std::uint64_t b = stream_ ? GetReadingBlockIndex(name, stream_) : GetReadingBlockIndex(name);
    return &buffers_[b];
  } catch (const Kiv::Util::Exception& e) {
    if (e.GetCode() == Kiv::Util::ErrorCode::ElementNotFound) return nullptr;
    throw;
  }
}

void Index::SetReadingPosition(const std::string& name, std::uint64_t position, std::FILE* stream) {
  if (names_.find(name) == names_.end()) CreateBlock(name);
  const auto& list = names_.at(name).blocks;
  std::uint64_t r = position;
  std::uint64_t chosen = 0;
  bool found = false;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::uint64_t b = list[i];
    Block& buffer = buffers_[b];
    if (buffer.Size() == 0 && !blocks_[b].loaded) RecordPassedOver(b, stream);
    if (r < buffer.Size() || i + 1 == list.size()) {
      chosen = b;
      found = true;
      break;
    }
    r -= buffer.Size();
    // Passed over: used up, and its buffer left for the next block loaded.
    buffer.SetPosition(buffer.Size());
    if (blocks_[b].loaded) Retire(b);
  }
  if (!found) chosen = CreateBlock(name);
  if (!blocks_[chosen].loaded) LoadBlock(chosen, stream);
  buffers_[chosen].SetPosition(r);
  // Reading on from here takes every later block from its start, also one that an earlier
  // seek passed over or left part read.
  const auto& blocks = names_.at(name).blocks;
  for (auto it = std::find(blocks.begin(), blocks.end(), chosen) + 1; it < blocks.end(); ++it)
    buffers_[*it].SetPosition(std::uint32_t{0});
}

void Index::ReleaseLoadedBlocks(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) return;
  for (std::uint64_t b : it->second.blocks)
    if (blocks_[b].loaded) Retire(b);
  // A stream set aside keeps no buffer at all.
  spares_.raw.Clear();
}

std::uint64_t Index::ReadingPosition(const std::string& name) const {
  auto it = names_.find(name);
  if (it == names_.end()) return 0;
  // Blocks before the one being read are used up (or were released by a reposition);
  // a block not loaded yet is read from its start.
  std::uint64_t before = 0;
  for (std::uint64_t b : it->second.blocks) {
    const Block& buffer = buffers_[b];
    if (buffer.Size() == 0 && !blocks_[b].loaded) return before;
    if (buffer.Position() != buffer.Size()) return before + buffer.Position();
    before += buffer.Size();
  }
  return before;
}

void Index::ClaimRange(const std::string& name, std::uint64_t position, std::uint64_t size) {
  const char* method = "KivRkf::Index::ClaimRange";
  if (size == 0) return;
  const std::string shared = "Two records share bytes of \"" + name + "\"";
  KIV_CHECK(position <= ~std::uint64_t{0} - size, ReadError, shared, method);
  const std::uint64_t end = position + size;
  auto& ranges = claims_[name];
  const auto next = ranges.lower_bound(position);
  const bool overlaps = (next != ranges.end() && next->first < end) ||
                        (next != ranges.begin() && std::prev(next)->second > position);
  KIV_CHECK(!overlaps, ReadError, shared, method);
  ranges.emplace(position, end);
}

}  // namespace KivRkf
