// The writing side of the block table.
//
//   primary index   u32 count 20, then the records of blocks 0..19 (stored at offset 12
//                   with its own u32 length field, 2784)
//   index blocks    block 19, 219, 419, ...: u32 count 200, then the records of the 200
//                   blocks that follow; stored like any block, without a length field
//
// Blocks are placed one after the other in number order.
#include "kiv/rkf/stream_writer.hpp"

#include <algorithm>
#include <string>

#include "kiv/log/log_manager.hpp"
#include "kiv/log/raise.hpp"
#include "kiv/rkf/range_copy.hpp"
#include "kiv/rkf/zlib.hpp"

namespace KivRkf {

namespace {
const char* const kPut = "KivRkf::Index::Put";
std::string Num(std::uint64_t v) {
  return std::to_string(v);
}

// The records of block b reaching the file, as far as its write went; the record that it
// was written follows once the write is done.
void LogBlockWrite(std::uint64_t b, std::uint32_t rawLength, std::optional<std::uint32_t> stored,
                   std::optional<std::uint64_t> offset, bool positionFailed) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  KIV_LOG_INFO(method, "Writing buffer " + Num(b) + " to stream.");
  if (rawLength != 0) KIV_LOG_INFO(method, "Buffer length: " + Num(rawLength));
  if (stored) KIV_LOG_INFO(method, "Buffer length after transformations: " + Num(*stored));
  if (offset) KIV_LOG_INFO(method, "Writing buffer at position: " + Num(*offset));
  if (positionFailed) KIV_LOG_INFO(method, "File positioning failed");
}
}  // namespace

std::uint64_t StreamWriter::GetWritingBlockIndex(const std::string& name) {
  auto it = table_.Names().find(name);
  if (it != table_.Names().end() && !it->second.blocks.empty()) {
    std::uint64_t b = it->second.blocks.back();
    if (!table_.Blocks()[b].frozen && table_.Buffer(b).Size() < it->second.limit) return b;
  }
  return table_.AddBlock(name);
}

Block& StreamWriter::WritingBlock(const std::string& name, bool typed) {
  std::uint64_t b = GetWritingBlockIndex(name);
  if (table_.Blocks()[b].frozen) {
    if (typed) KIV_RAISE(Miscellaneous, "Attempt to write into a frozen block", kPut);
    KIV_RAISE(ElementNotFound, nullptr, kPut);
  }
  Block& block = table_.Buffer(b);
  if (!block.HasBuffer() && block.Size() == 0) {
    // Both buffers of the stream are being written: the new block waits for the older one.
    if (!spares_.raw.Holds() && pending_.size() >= kWritesInFlight &&
        table_.Blocks()[pending_.front().block].name == name)
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

void StreamWriter::WriteBufferToFileStream(std::uint64_t b, std::FILE* stream) {
  StartWrite(b, stream, false);
  FinishPendingWrite();
}

void StreamWriter::WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteIndexBufferToFileStream";
  FinishPendingWrite();
  KIV_LOG_INFO(method, "Writing index buffer " + Num(b) + " to stream.");
  BlockInfo& info = table_.Blocks()[b];
  Block& buffer = table_.Buffer(b);
  if (info.frozen) {
    info.frozen = false;
    if (!info.loaded) {
      buffer.Clear();
      info.loaded = true;
    }
  }
  buffer.Clear();
  table_.PutIndexContent(buffer, b + 1, kBlocksPerIndexBlock);
  info.storedSize = buffer.Size();
  table_.ComputeAllOffsets();
  info.frozen = true;
  if (fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  buffer.Write(stream, false);
  buffer.Release();
  KIV_LOG_INFO(method, "Index buffer " + Num(b) + " written to stream.");
}

void StreamWriter::FlushFrozen(std::FILE* stream) {
  const char* method = "KivRkf::Index::FlushFrozen";
  KIV_LOG_INFO(method, "Flushing frozen blocks ... ");
  for (auto& [name, limiter] : table_.Names()) {
    if (IsSpecialName(name, kEmptyBlockName) || IsSpecialName(name, kIndexBlockName)) continue;
    for (std::uint64_t b : limiter.blocks) {
      const BlockInfo& info = table_.Blocks()[b];
      if (info.frozen || !(info.flags & kFlagStreaming) || table_.Buffer(b).Size() < limiter.limit)
        continue;
      for (std::uint64_t k = 0; k < b; ++k)
        if (!table_.Blocks()[k].frozen && !IsSpecialName(table_.Blocks()[k].name, kIndexBlockName))
          KIV_RAISE(NotImplemented, nullptr, method);
      StartWrite(b, stream, true);
    }
  }
  KIV_LOG_INFO(method, "Frozen blocks flushed. ");
}

bool StreamWriter::AllBlocksFrozen() {
  const auto& blocks = table_.Blocks();
  // Blocks never thaw, so the blocks before firstUnfrozen_ need no second look (unless the
  // table was read anew). Blocks still in the empty pool come after every block in use.
  if (firstUnfrozen_ > blocks.size()) firstUnfrozen_ = 0;
  while (firstUnfrozen_ < blocks.size() &&
         (blocks[firstUnfrozen_].frozen ||
          IsSpecialName(blocks[firstUnfrozen_].name, kIndexBlockName)))
    ++firstUnfrozen_;
  return firstUnfrozen_ == blocks.size() ||
         IsSpecialName(blocks[firstUnfrozen_].name, kEmptyBlockName);
}

void StreamWriter::StartWrite(std::uint64_t b, std::FILE* stream, bool ownThread,
                              std::optional<std::uint32_t> packedFrom) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  if (!ownThread)
    FinishPendingWrite();
  else if (pending_.size() >= kWritesInFlight)
    FinishOldestWrite();
  BlockInfo& info = table_.Blocks()[b];
  if (info.frozen || (!pending_.empty() && pending_.back().block >= b)) {
    // The records of the blocks before it come first.
    FinishPendingWrite();
    KIV_LOG_INFO(method, "Writing buffer " + Num(b) + " to stream.");
    KIV_RAISE(MisMatch, nullptr, method);
  }
  // The block's records are published when its result is taken (FinishOldestWrite).
  const std::uint32_t n = packedFrom ? *packedFrom : table_.Buffer(b).Size();
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
    for (std::uint64_t k = last + 1; k < b; ++k) place.offset += table_.Blocks()[k].storedSize;
  } else {
    table_.ComputeAllOffsets();
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
    auto job = std::make_unique<BackgroundWrite>(std::move(table_.Buffer(b)), form, place, stream,
                                                 std::move(packed), ownThread);
    pending_.push_back({std::move(job), b, n});
  } catch (...) {
    // A turn never taken would hold up every later write.
    turns_.Done(place.ticket, 0, true);
    throw;
  }
}

std::vector<std::optional<std::uint32_t>> StreamWriter::PackAhead(std::uint64_t first) {
  std::vector<std::optional<std::uint32_t>> packedFrom(table_.Blocks().size());
  if (pending_.empty()) return packedFrom;
  BlockZlibCompressor compress(6);
  for (std::uint64_t b = first; b < table_.Blocks().size(); ++b) {
    const BlockInfo& info = table_.Blocks()[b];
    const std::uint32_t n = table_.Buffer(b).Size();
    if (info.frozen || !(info.flags & kFlagZlib) || IsSpecialName(info.name, kIndexBlockName))
      continue;
    // Its own packed buffer: the spare is with the block being written.
    BlockZlibCompressor::RaiseFor(compress.Pack(table_.Buffer(b), nullptr));
    packedFrom[b] = n;
  }
  return packedFrom;
}

void StreamWriter::FinishPendingWrite() {
  while (!pending_.empty()) FinishOldestWrite();
}

void StreamWriter::DropPendingWrite() noexcept {
  // Oldest first: a later block waits for the turn of the one before it.
  while (!pending_.empty()) pending_.pop_front();
}

void StreamWriter::FinishOldestWrite() {
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
  LogBlockWrite(b, rawLength, reached.compressedSize, reached.offset, reached.positionFailed);
  BackgroundWrite::Done done = job->Finish();
  BlockInfo& info = table_.Blocks()[b];
  info.storedSize = done.storedSize;
  // The bytes are gone; the block keeps the record of what was written.
  table_.Buffer(b).RecordOnly(done.storedSize);
  table_.ComputeAllOffsets();
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

StreamWriter::Adopted StreamWriter::AdoptBlock(const std::string& name, int from,
                                               std::uint64_t fromOffset, std::uint32_t storedSize,
                                               std::uint32_t rawLength, std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  FinishPendingWrite();
  const BlockSizeLimiter& limiter = table_.LimiterFor(name);
  KIV_CHECK(limiter.blocks.empty() || table_.Blocks()[limiter.blocks.back()].frozen, MisMatch,
            nullptr, method);
  // The copy goes to the end of the file: every block before it must be written already,
  // as for blocks flushed early.
  KIV_CHECK(AllBlocksFrozen(), NotImplemented, nullptr, "KivRkf::Index::FlushFrozen");
  Adopted adopted;
  adopted.position = table_.GetSize(name);
  adopted.block = table_.AddBlock(name);
  BlockInfo& info = table_.Blocks()[adopted.block];
  info.frozen = true;
  info.frozenLength = rawLength;
  info.storedSize = storedSize;
  info.flags = kFlagZlib | kFlagStreaming;
  info.reserved = 0;
  table_.Buffer(adopted.block).RecordOnly(storedSize);
  // Every block before it is written: offsets before offsetsFrom_ stand.
  if (offsetsFrom_ > adopted.block) offsetsFrom_ = 0;
  for (; offsetsFrom_ <= adopted.block; ++offsetsFrom_) table_.ComputeOffset(offsetsFrom_);
  adopted.offset = info.offset;
  LogBlockWrite(adopted.block, rawLength, storedSize, adopted.offset, false);
  // The stream's own buffer goes to the file first: the copy writes past it.
  KIV_CHECK(std::fflush(stream) == 0, WriteError, "Unable to write to file",
            "KivRkf::Block::Write");
  CopyRangeOrRaise(from, fromOffset, fileno(stream), adopted.offset, storedSize);
  StartWriteBack(stream, adopted.offset, storedSize);
  KIV_LOG_INFO(method, "Buffer " + Num(adopted.block) + " written to stream.");
  return adopted;
}

void StreamWriter::WriteAllBuffersToFileStream(std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteAllBuffersToFileStream";
  KIV_LOG_INFO(method, "Writing all buffers to file stream ...");
  if (table_.Blocks().empty()) table_.SetIndexBufferSize(table_.AddEmptyBlocks(kPrimaryBlocks) + 4);
  std::uint64_t first = 0;
  while (first < table_.Blocks().size() &&
         (table_.Blocks()[first].frozen ||
          IsSpecialName(table_.Blocks()[first].name, kIndexBlockName)))
    ++first;
  // The blocks left (a streaming stream's last, partial block above all) are compressed
  // while the second thread still writes the full block before them, not after it.
  const std::vector<std::optional<std::uint32_t>> packedFrom = PackAhead(first);
  FinishPendingWrite();
  for (std::uint64_t b = first; b < table_.Blocks().size(); ++b) {
    StartWrite(b, stream, false, packedFrom[b]);
    FinishPendingWrite();
  }
  Block primary;
  table_.PutIndexContent(primary, 0, kPrimaryBlocks);
  if (fseeko(stream, static_cast<off_t>(table_.HeaderSize()), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  primary.Write(stream, true);
  auto it = table_.Names().find(kIndexBlockName);
  if (it != table_.Names().end())
    for (std::uint64_t b : it->second.blocks) WriteIndexBufferToFileStream(b, stream);
  KIV_LOG_INFO(method, "All buffers to file stream written.");
}

}  // namespace KivRkf
