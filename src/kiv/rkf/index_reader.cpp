// The container reader. The table is read from the primary index and then from the chain
// of index blocks (the last block of the table, while it is an index block not yet read).
#include "kiv/rkf/index_reader.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "kiv/log/log_manager.hpp"
#include "kiv/log/raise.hpp"
#include "kiv/rkf/zlib.hpp"

namespace KivRkf {

namespace {
const char* const kReadTable = "KivRkf::Index::ReadIndexBufferFromFileStream";
const char* const kReading = "KivRkf::Index::GetReadingBlockIndex";
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

bool InFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

// Inflates a compressed block's stored bytes in place (into spare, when given and large
// enough). A sound stream shorter than its length field sets declared and stream to the two
// lengths; they are left as they are otherwise.
void InflateStored(Block& bytes, SpareBuffer* spare, std::uint32_t& declared,
                   std::uint32_t& stream) {
  BlockZlibUnCompressor uncompress;
  if (spare)
    uncompress(bytes, *spare);
  else
    uncompress(bytes);
  if (uncompress.Last().state == Framing::State::Shorter) {
    declared = uncompress.Last().declared;
    stream = bytes.Size();
  }
}
}  // namespace

std::string FileCut::Describe() const {
  return "its block table ends at byte " + std::to_string(tableEnd) +
         (endKnown ? "" : " or later") + ", the file has " + std::to_string(fileSize) + " bytes";
}

void IndexReader::CheckFileRange(std::FILE* stream, std::uint64_t offset,
                                 std::uint64_t size) const {
  KIV_CHECK(InFile(offset, size, FileSize(stream)), ReadError, "Unable to read from file",
            "KivRkf::Block::Read");
}

std::uint64_t IndexReader::CreateBlock(const std::string& name) {
  state_.emplace_back();
  return table_.CreateBlock(name);
}

void IndexReader::ReadIndexBufferFromFileStream(std::FILE* stream, std::uint32_t length) {
  KIV_LOG_INFO(kReadTable, "Reading index block ... ");
  if (!stream_) stream_ = stream;
  off_t here = ftello(stream);
  KIV_CHECK(here >= 0, ReadError, "Unable to read from file", kReadTable);
  table_.SetHeaderSize(static_cast<std::uint64_t>(here));
  CheckFileRange(stream, table_.HeaderSize(), length);
  Block primary;
  primary.Read(stream, length);
  table_.SetIndexBufferSize(length);
  primary.SetPosition(std::uint32_t{0});
  table_.Clear();
  state_.clear();
  cut_.reset();
  // A table never describes more blocks than the file has bytes.
  const std::uint64_t fileSize = FileSize(stream);
  const std::uint64_t maxBlocks = fileSize + kPrimaryBlocks;
  table_.DecodeIndexContent(primary, maxBlocks);
  std::vector<bool> chainRead;
  bool endKnown = true;
  while (!table_.Blocks().empty() && IsSpecialName(table_.Blocks().back().name, kIndexBlockName)) {
    std::uint64_t b = table_.Blocks().size() - 1;
    if (chainRead.size() <= b) chainRead.resize(b + 1, false);
    if (chainRead[b]) break;
    chainRead[b] = true;
    const BlockInfo& info = table_.Blocks()[b];
    // The file ends before this index block: the table is known up to here.
    if (!InFile(info.offset, info.storedSize, fileSize)) {
      endKnown = false;
      break;
    }
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
    table_.DecodeIndexContent(chained, maxBlocks);
  }
  table_.IndexStreams();
  state_.resize(table_.Blocks().size());
  cut_ = FindCut(fileSize, endKnown);
  claims_.clear();
  loadBudget_ = 0;
  for (const BlockInfo& info : table_.Blocks()) {
    const std::uint64_t cost = kLoadsPerBlock * LoadCost(info);
    loadBudget_ = loadBudget_ > ~std::uint64_t{0} - cost ? ~std::uint64_t{0} : loadBudget_ + cost;
  }
  KIV_LOG_INFO(kReadTable, "Index block read. ");
}

std::optional<FileCut> IndexReader::FindCut(std::uint64_t fileSize, bool endKnown) const {
  const std::vector<BlockInfo>& blocks = table_.Blocks();
  // Offsets add up from the end of the primary index, so the last block ends last.
  const std::uint64_t end = blocks.empty() ? table_.HeaderSize() + table_.IndexBufferSize()
                                           : blocks.back().offset + blocks.back().storedSize;
  if (end <= fileSize) return std::nullopt;
  std::uint64_t first = 0;
  while (first + 1 < blocks.size() &&
         InFile(blocks[first].offset, blocks[first].storedSize, fileSize))
    ++first;
  return FileCut{fileSize, end, endKnown, first};
}

void IndexReader::LoadBlock(std::uint64_t b) {
  const BlockInfo& info = table_.Blocks()[b];
  BlockReadState& state = state_[b];
  table_.ComputeOffset(b);
  CheckFileRange(stream_, info.offset, info.storedSize);
  KIV_CHECK(LoadCost(info) <= loadBudget_, ReadError,
            "The records of the file send the reader back and forth between its blocks",
            "KivRkf::Index::LoadBlock");
  loadBudget_ -= LoadCost(info);
  Block& buffer = table_.Buffer(b);
  // A block read before, or passed over, already stands for a number of bytes, and readers
  // have counted positions with it.
  const std::uint32_t recorded = buffer.Size();
  state.declaredLength = state.streamLength = 0;
  if (auto ahead = preloaded_.find(b); ahead != preloaded_.end()) {
    buffer = std::move(ahead->second.bytes);
    if (ahead->second.inflated) ++state.inflations;
    state.declaredLength = ahead->second.declaredLength;
    state.streamLength = ahead->second.streamLength;
    preloaded_.erase(ahead);
  } else {
    KIV_CHECK(fseeko(stream_, static_cast<off_t>(info.offset), SEEK_SET) == 0, ReadError,
              "Unable to read from file", "KivRkf::Block::Read");
    buffer.Clear();
    buffer.Read(stream_, info.storedSize);
    if (info.flags & kFlagZlib) {
      InflateStored(buffer, &spare_, state.declaredLength, state.streamLength);
      ++state.inflations;
    }
  }
  KIV_CHECK(recorded == 0 || buffer.Size() == recorded, ReadError, "Unable to decompress block",
            "KivRkf::Index::LoadBlock");
  state.loaded = true;
  state.sizeUnchecked = false;
  state.inflated = true;
  buffer.SetPosition(std::uint32_t{0});
}

std::uint64_t IndexReader::Inflations(const std::string& name) const {
  auto it = table_.Names().find(name);
  std::uint64_t count = 0;
  if (it != table_.Names().end())
    for (std::uint64_t b : it->second.blocks) count += state_[b].inflations;
  return count;
}

void IndexReader::RecordPassedOver(std::uint64_t b) {
  const BlockInfo& info = table_.Blocks()[b];
  table_.ComputeOffset(b);
  CheckFileRange(stream_, info.offset, info.storedSize);
  if (!(info.flags & kFlagZlib)) {
    table_.Buffer(b).RecordOnly(info.storedSize);
    return;
  }
  std::uint8_t first4[4] = {};
  std::optional<std::uint32_t> length;
  if (info.storedSize >= sizeof first4 &&
      fseeko(stream_, static_cast<off_t>(info.offset), SEEK_SET) == 0 &&
      std::fread(first4, 1, sizeof first4, stream_) == sizeof first4)
    length = FramedLength(first4, info.storedSize);
  // A length that cannot be true, or none: the block is loaded, which reports the damage.
  if (!length || *length == 0) {
    LoadBlock(b);
    return;
  }
  table_.Buffer(b).RecordOnly(*length);
  state_[b].sizeUnchecked = true;
}

void IndexReader::CheckRecordedSizes(const std::string& skip) {
  for (std::uint64_t b = 0; b < table_.Blocks().size(); ++b) {
    if (!state_[b].sizeUnchecked || (!skip.empty() && table_.Blocks()[b].name == skip)) continue;
    LoadBlock(b);
    Retire(b);
  }
  spare_.Clear();
}

std::vector<StoredBlock> IndexReader::DescribeStream(const std::string& name) {
  std::vector<StoredBlock> described;
  auto it = table_.Names().find(name);
  if (it == table_.Names().end()) return described;
  std::uint64_t position = 0;
  for (std::uint64_t b : it->second.blocks) {
    if (table_.Buffer(b).Size() == 0 && !state_[b].loaded) RecordPassedOver(b);
    const BlockInfo& info = table_.Blocks()[b];
    const std::uint32_t raw = table_.Buffer(b).Size();
    described.push_back({b, position, raw, info.offset, info.storedSize, info.flags});
    position += raw;
  }
  return described;
}

std::uint64_t IndexReader::GetReadingBlockIndex(const std::string& name) {
  auto it = table_.Names().find(name);
  if (it == table_.Names().end()) KIV_RAISE(ElementNotFound, nullptr, kReading);
  const auto& list = it->second.blocks;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::uint64_t b = list[i];
    Block& buffer = table_.Buffer(b);
    // Without a file, only the bytes in memory are read.
    if (!stream_) {
      if (buffer.Position() != buffer.Size()) return b;
      continue;
    }
    // Never reached, or reached again from its start after a seek back.
    if (!state_[b].loaded && (buffer.Size() == 0 || buffer.Position() < buffer.Size()))
      LoadBlock(b);
    if (buffer.Position() != buffer.Size() || i + 1 == list.size()) return b;
    if (state_[b].loaded) Retire(b);
  }
  KIV_RAISE(ElementNotFound, nullptr, kReading);
}

void IndexReader::Retire(std::uint64_t b) {
  // Used up and left behind: the next block loaded inflates into its buffer, so reading a
  // stream takes no fresh memory per block. Its size stays as the record of what it held.
  table_.Buffer(b).SetPosition(table_.Buffer(b).Size());
  std::uint64_t capacity = 0;
  MallocBuffer buffer = table_.Buffer(b).HandOver(capacity);
  spare_.Keep(std::move(buffer), capacity);
  state_[b].loaded = false;
}

Block* IndexReader::ReadingBlock(const std::string& name) {
  try {
    return &table_.Buffer(GetReadingBlockIndex(name));
  } catch (const Kiv::Util::Exception& e) {
    if (e.GetCode() != Kiv::Util::ErrorCode::ElementNotFound) throw;
    if (!table_.HasName(name)) ++missingReads_[name];
    return nullptr;
  }
}

void IndexReader::SetReadingPosition(const std::string& name, std::uint64_t position) {
  if (!table_.HasName(name)) CreateBlock(name);
  const auto& list = table_.Names().at(name).blocks;
  std::uint64_t r = position;
  std::uint64_t chosen = 0;
  bool found = false;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::uint64_t b = list[i];
    Block& buffer = table_.Buffer(b);
    if (buffer.Size() == 0 && !state_[b].loaded) RecordPassedOver(b);
    if (r < buffer.Size() || i + 1 == list.size()) {
      chosen = b;
      found = true;
      break;
    }
    r -= buffer.Size();
    // Passed over: used up, and its buffer left for the next block loaded.
    buffer.SetPosition(buffer.Size());
    if (state_[b].loaded) Retire(b);
  }
  if (!found) chosen = CreateBlock(name);
  if (!state_[chosen].loaded) LoadBlock(chosen);
  table_.Buffer(chosen).SetPosition(r);
  // Reading on from here takes every later block from its start, also one that an earlier
  // seek passed over or left part read.
  const auto& blocks = table_.Names().at(name).blocks;
  for (auto it = std::find(blocks.begin(), blocks.end(), chosen) + 1; it < blocks.end(); ++it)
    table_.Buffer(*it).SetPosition(std::uint32_t{0});
}

std::uint64_t IndexReader::Preload(const std::string& skip, std::uint64_t limit) {
  if (!stream_) return 0;
  const std::uint64_t fileSize = FileSize(stream_);
  std::uint64_t taken = 0;
  for (std::uint64_t b = 0; b < table_.Blocks().size(); ++b) {
    const BlockInfo& info = table_.Blocks()[b];
    // The table's own index blocks were read with the table; empty blocks hold nothing.
    if (info.name == skip || info.name == kIndexBlockName || info.storedSize == 0 ||
        state_[b].loaded || preloaded_.count(b))
      continue;
    table_.ComputeOffset(b);
    if (!InFile(info.offset, info.storedSize, fileSize) || taken + info.storedSize > limit ||
        fseeko(stream_, static_cast<off_t>(info.offset), SEEK_SET) != 0)
      return taken;
    Preloaded ahead;
    try {
      ahead.bytes.Read(stream_, info.storedSize);
      if (info.flags & kFlagZlib) {
        // The length field bounds what inflating allocates.
        const std::optional<std::uint32_t> length =
            info.storedSize >= 4 ? FramedLength(ahead.bytes.Data(), info.storedSize) : std::nullopt;
        if (!length || taken + *length > limit) return taken;
        InflateStored(ahead.bytes, nullptr, ahead.declaredLength, ahead.streamLength);
        ahead.inflated = true;
      }
    } catch (...) {
      return taken;  // the load reads the block again and reports what is wrong with it
    }
    taken += std::max<std::uint64_t>(info.storedSize, ahead.bytes.Size());
    ahead.bytes.SetPosition(std::uint32_t{0});
    preloaded_.emplace(b, std::move(ahead));
  }
  return taken;
}

void IndexReader::ReleaseLoadedBlocks(const std::string& name) {
  auto it = table_.Names().find(name);
  if (it == table_.Names().end()) return;
  for (std::uint64_t b : it->second.blocks) preloaded_.erase(b);
  for (std::uint64_t b : it->second.blocks)
    if (state_[b].loaded) Retire(b);
  // A stream set aside keeps no buffer at all.
  spare_.Clear();
}

std::uint64_t IndexReader::ReadingPosition(const std::string& name) const {
  auto it = table_.Names().find(name);
  if (it == table_.Names().end()) return 0;
  // Blocks before the one being read are used up (or were released by a reposition);
  // a block not loaded yet is read from its start.
  std::uint64_t before = 0;
  for (std::uint64_t b : it->second.blocks) {
    const Block& buffer = table_.Buffer(b);
    if (buffer.Size() == 0 && !state_[b].loaded) return before;
    if (buffer.Position() != buffer.Size()) return before + buffer.Position();
    before += buffer.Size();
  }
  return before;
}

std::optional<std::uint64_t> IndexReader::KnownBytesLeft(const std::string& name) {
  Block* current = ReadingBlock(name);
  if (!current) return 0;
  std::uint64_t left = 0;
  bool after = false;
  for (std::uint64_t b : table_.Names().at(name).blocks) {
    Block& buffer = table_.Buffer(b);
    if (&buffer == current) {
      after = true;
      left += buffer.Remaining();
    } else if (!after) {
      continue;
    } else if (state_[b].loaded || buffer.Size() != 0) {
      left += buffer.Remaining();
    } else if (table_.Blocks()[b].flags & kFlagZlib) {
      return std::nullopt;
    } else {
      left += table_.Blocks()[b].storedSize;
    }
  }
  return left;
}

void IndexReader::ClaimRange(const std::string& name, std::uint64_t position, std::uint64_t size) {
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
