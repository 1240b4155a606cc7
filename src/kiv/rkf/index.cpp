// The block table of a container file, writing side.
//
//   primary index   u32 count 20, then the records of blocks 0..19 (stored at offset 12
//                   with its own u32 length field, 2784)
//   index blocks    block 19, 219, 419, ...: u32 count 200, then the records of the 200
//                   blocks that follow; stored like any block, without a length field
//
// A stream takes blocks from the pool of unassigned blocks in increasing order; when the
// pool runs dry its last block becomes an index block and 200 new blocks fill the pool.
// Blocks are placed one after the other in number order.
#include "kiv/rkf/index.hpp"

#include <algorithm>
#include <string>

#include "kiv/log/log_manager.hpp"
#include "kiv/rkf/env.hpp"
#include "kiv/rkf/zlib.hpp"

namespace KivRkf {

const std::string kEmptyBlockName = std::string("\x0B") + "Empty Block ";
const std::string kIndexBlockName = std::string("\x0B") + "Index Block ";

namespace {
const char* const kPut = "KivRkf::Index::Put";
std::string Num(std::uint64_t v) {
  return std::to_string(v);
}
}  // namespace

std::uint32_t StreamLimitFromEnvironment() {
  auto v = ReadEnvU32("KORVANE_MAX_MOX_BLOCK_SIZE");
  return (v && *v < 0xFFFFFFFFu) ? *v : kDefaultStreamLimit;
}

bool IsSpecialName(const std::string& name, const std::string& special) {
  return name.size() >= special.size() && name.compare(0, special.size(), special) == 0;
}

BlockSizeLimiter& Index::LimiterFor(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) {
    BlockSizeLimiter limiter;
    limiter.limit = StreamLimitFromEnvironment();
    it = names_.emplace(name, std::move(limiter)).first;
  }
  return it->second;
}

BlockSizeLimiter& Index::GetBlockSizeLimiter(const std::string& name) {
  auto it = names_.find(name);
  if (it == names_.end()) KIV_RAISE(ElementNotFound, nullptr, "KivRkf::Index::GetBlockSizeLimiter");
  return it->second;
}

std::uint64_t Index::CreateBlock(const std::string& name) {
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

std::uint32_t Index::AddEmptyBlocks(std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) CreateBlock(kEmptyBlockName);
  auto& pool = LimiterFor(kEmptyBlockName).blocks;
  std::reverse(pool.begin(), pool.end());
  return 4 + kIndexRecordSize * n;
}

std::uint64_t Index::AddBlock(const std::string& name) {
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

std::uint64_t Index::GetWritingBlockIndex(const std::string& name) {
  auto it = names_.find(name);
  if (it != names_.end() && !it->second.blocks.empty()) {
    std::uint64_t b = it->second.blocks.back();
    if (!blocks_[b].frozen && buffers_[b].Size() < it->second.limit) return b;
  }
  return AddBlock(name);
}

Block& Index::WritingBlock(const std::string& name, bool typed) {
  std::uint64_t b = GetWritingBlockIndex(name);
  if (blocks_[b].frozen) {
    if (typed) KIV_RAISE(Miscellaneous, "Attempt to write into a frozen block", kPut);
    KIV_RAISE(ElementNotFound, nullptr, kPut);
  }
  Block& block = buffers_[b];
  if (!block.HasBuffer() && block.Size() == 0) {
    // Both buffers of the stream are being written: the new block waits for the older one.
    if (!spares_.raw.Holds() && pending_.size() >= kWritesInFlight &&
        blocks_[pending_.front().block].name == name)
      FinishOldestWrite();
    // The next block of a stream fills the buffer of the block written before it.
    if (spares_.raw.Holds() && spares_.rawStream == name) {
      std::uint64_t capacity = 0;
      MallocBuffer buffer = spares_.raw.Take(0, capacity);
      block.Adopt(std::move(buffer), 0, capacity);
    }
  }
  return block;
}

std::uint64_t Index::GetSize(const std::string& name) const {
  auto it = names_.find(name);
  if (it == names_.end()) return 0;
  std::uint64_t total = 0;
  for (std::uint64_t b : it->second.blocks)
    total += blocks_[b].frozen ? blocks_[b].frozenLength : buffers_[b].Position();
  return total;
}

void Index::SetBlockFlags(const std::string& name, std::uint8_t flags) {
  for (auto& info : blocks_)
    if (info.name == name) info.flags |= flags;
}

void Index::ComputeOffset(std::uint64_t b) {
  blocks_[b].offset =
      b == 0 ? headerSize_ + indexBufferSize_ : blocks_[b - 1].offset + blocks_[b - 1].storedSize;
}

void Index::ComputeAllOffsets() {
  for (std::uint64_t b = 0; b < blocks_.size(); ++b) ComputeOffset(b);
}

std::uint64_t Index::BlockOffset(std::uint64_t b) const {
  return blocks_.at(b).offset;
}

void Index::PutIndexContent(Block& block, std::uint64_t first, std::uint64_t count) const {
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

void Index::WriteBufferToFileStream(std::uint64_t b, std::FILE* stream) {
  StartWrite(b, stream, false);
  FinishPendingWrite();
}

void Index::WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteIndexBufferToFileStream";
  FinishPendingWrite();
  KIV_LOG_INFO(method, "Writing index buffer " + Num(b) + " to stream.");
  BlockInfo& info = blocks_[b];
  Block& buffer = buffers_[b];
  if (info.frozen) {
    info.frozen = false;
    if (!info.loaded) {
      buffer.Clear();
      info.loaded = true;
    }
  }
  buffer.Clear();
  PutIndexContent(buffer, b + 1, kBlocksPerIndexBlock);
  info.storedSize = buffer.Size();
  ComputeAllOffsets();
  info.frozen = true;
  if (fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  buffer.Write(stream, false);
  buffer.Release();
  KIV_LOG_INFO(method, "Index buffer " + Num(b) + " written to stream.");
}

void Index::FlushFrozen(std::FILE* stream) {
  const char* method = "KivRkf::Index::FlushFrozen";
  KIV_LOG_INFO(method, "Flushing frozen blocks ... ");
  for (auto& [name, limiter] : names_) {
    if (IsSpecialName(name, kEmptyBlockName) || IsSpecialName(name, kIndexBlockName)) continue;
    for (std::uint64_t b : limiter.blocks) {
      const BlockInfo& info = blocks_[b];
      if (info.frozen || !(info.flags & kFlagStreaming) || buffers_[b].Size() < limiter.limit)
        continue;
      for (std::uint64_t k = 0; k < b; ++k)
        if (!blocks_[k].frozen && !IsSpecialName(blocks_[k].name, kIndexBlockName))
          KIV_RAISE(NotImplemented, nullptr, method);
      StartWrite(b, stream, true);
    }
  }
  KIV_LOG_INFO(method, "Frozen blocks flushed. ");
}

void Index::StartWrite(std::uint64_t b, std::FILE* stream, bool ownThread,
                       std::optional<std::uint32_t> packedFrom) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  if (!ownThread)
    FinishPendingWrite();
  else if (pending_.size() >= kWritesInFlight)
    FinishOldestWrite();
  BlockInfo& info = blocks_[b];
  if (info.frozen || (!pending_.empty() && pending_.back().block >= b)) {
    // The records of the blocks before it come first.
    FinishPendingWrite();
    KIV_LOG_INFO(method, "Writing buffer " + Num(b) + " to stream.");
    KIV_RAISE(MisMatch, nullptr, method);
  }
  // The block's records are published when its result is taken (FinishOldestWrite).
  const std::uint32_t n = packedFrom ? *packedFrom : buffers_[b].Size();
  // A streaming block is frozen at its raw length now; its stored size is known once it is
  // written, and the block lies at the sum of the stored sizes before it: right after a
  // block still being written (and the blocks between, all written), or where the table
  // puts it.
  if (info.flags & kFlagStreaming) {
    info.frozen = true;
    info.frozenLength = n;
  }
  WritePlace place;
  if (!pending_.empty()) {
    const std::uint64_t last = pending_.back().block;
    place.afterPrevious = true;
    for (std::uint64_t k = last + 1; k < b; ++k) place.offset += blocks_[k].storedSize;
  } else {
    ComputeAllOffsets();
    place.offset = info.offset;
  }
  SpareBuffer packed = std::move(spares_.packed);
  spares_.packed.Clear();
  const BackgroundWrite::Form form = packedFrom                 ? BackgroundWrite::Form::Packed
                                     : (info.flags & kFlagZlib) ? BackgroundWrite::Form::Compress
                                                                : BackgroundWrite::Form::Stored;
  place.turns = &turns_;
  place.ticket = turns_.Take();
  try {
    auto job = std::make_unique<BackgroundWrite>(std::move(buffers_[b]), form, place, stream,
                                                 std::move(packed), ownThread);
    pending_.push_back({std::move(job), b, n});
  } catch (...) {
    // A turn never taken would hold up every later write.
    turns_.Done(place.ticket, 0, true);
    throw;
  }
}

std::vector<std::optional<std::uint32_t>> Index::PackAhead(std::uint64_t first) {
  std::vector<std::optional<std::uint32_t>> packedFrom(blocks_.size());
  if (pending_.empty()) return packedFrom;
  BlockZlibCompressor compress(6);
  for (std::uint64_t b = first; b < blocks_.size(); ++b) {
    const BlockInfo& info = blocks_[b];
    const std::uint32_t n = buffers_[b].Size();
    if (info.frozen || !(info.flags & kFlagZlib) || IsSpecialName(info.name, kIndexBlockName))
      continue;
    // Its own packed buffer: the spare is with the block being written.
    BlockZlibCompressor::RaiseFor(compress.Pack(buffers_[b], nullptr));
    packedFrom[b] = n;
  }
  return packedFrom;
}

void Index::FinishPendingWrite() {
  while (!pending_.empty()) FinishOldestWrite();
}

void Index::DropPendingWrite() noexcept {
  // Oldest first: a later block waits for the turn of the one before it.
  while (!pending_.empty()) pending_.pop_front();
}

void Index::FinishOldestWrite() {
  if (pending_.empty()) return;
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  const std::unique_ptr<BackgroundWrite> job = std::move(pending_.front().job);
  const std::uint64_t b = pending_.front().block;
  const std::uint32_t rawLength = pending_.front().rawLength;
  pending_.pop_front();
  // The block's records, on this thread and in block order, with the numbers of the write:
  // as far as it went when it failed.
  job->Wait();
  const BackgroundWrite::Progress& reached = job->Reached();
  KIV_LOG_INFO(method, "Writing buffer " + Num(b) + " to stream.");
  if (rawLength != 0) KIV_LOG_INFO(method, "Buffer length: " + Num(rawLength));
  if (reached.compressedSize)
    KIV_LOG_INFO(method, "Buffer length after transformations: " + Num(*reached.compressedSize));
  if (reached.offset) KIV_LOG_INFO(method, "Writing buffer at position: " + Num(*reached.offset));
  if (reached.positionFailed) KIV_LOG_INFO(method, "File positioning failed");
  BackgroundWrite::Done done = job->Finish();
  BlockInfo& info = blocks_[b];
  info.storedSize = done.storedSize;
  // The bytes are gone; the block keeps the record of what was written.
  buffers_[b].RecordOnly(done.storedSize);
  ComputeAllOffsets();
  KIV_CHECK(info.offset == done.offset, MisMatch, "The block was written at the wrong place",
            method);
  if (done.spares.raw.Holds()) {
    spares_.raw = std::move(done.spares.raw);
    spares_.rawStream = info.name;
  }
  // The compressed spare is kept only when no other block is being compressed: beside a
  // second compressed block, the input blocks being read and the two raw buffers it would
  // push a merge's memory past a gigabyte.
  if (done.spares.packed.Holds() && pending_.empty())
    spares_.packed = std::move(done.spares.packed);
  KIV_LOG_INFO(method, "Buffer " + Num(b) + " written to stream.");
}

void Index::WriteAllBuffersToFileStream(std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteAllBuffersToFileStream";
  KIV_LOG_INFO(method, "Writing all buffers to file stream ...");
  if (blocks_.empty()) indexBufferSize_ = AddEmptyBlocks(kPrimaryBlocks) + 4;
  std::uint64_t first = 0;
  while (first < blocks_.size() &&
         (blocks_[first].frozen || IsSpecialName(blocks_[first].name, kIndexBlockName)))
    ++first;
  // The blocks left (a streaming stream's last, partial block above all) are compressed
  // while the second thread still writes the full block before them, not after it.
  const std::vector<std::optional<std::uint32_t>> packedFrom = PackAhead(first);
  FinishPendingWrite();
  for (std::uint64_t b = first; b < blocks_.size(); ++b) {
    StartWrite(b, stream, false, packedFrom[b]);
    FinishPendingWrite();
  }
  Block primary;
  PutIndexContent(primary, 0, kPrimaryBlocks);
  if (fseeko(stream, static_cast<off_t>(headerSize_), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  primary.Write(stream, true);
  auto it = names_.find(kIndexBlockName);
  if (it != names_.end())
    for (std::uint64_t b : it->second.blocks) WriteIndexBufferToFileStream(b, stream);
  KIV_LOG_INFO(method, "All buffers to file stream written.");
}

}  // namespace KivRkf
