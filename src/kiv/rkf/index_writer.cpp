// The container writer.
//
//   primary index   u32 count 20, then the records of blocks 0..19 (stored at offset 12
//                   with its own u32 length field, 2784)
//   index blocks    block 19, 219, 419, ...: u32 count 200, then the records of the 200
//                   blocks that follow; stored like any block, without a length field
//
// Blocks are placed one after the other in number order.
#include "kiv/rkf/index_writer.hpp"

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

std::uint64_t IndexWriter::GetWritingBlockIndex(const std::string& name) {
  const BlockTable& table = builder_.Table();
  auto it = table.Names().find(name);
  if (it != table.Names().end() && !it->second.blocks.empty()) {
    std::uint64_t b = it->second.blocks.back();
    if (!builder_.Frozen(b) && table.Buffer(b).Size() < it->second.limit) return b;
  }
  return builder_.AddBlock(name);
}

Block& IndexWriter::WritingBlock(const std::string& name, bool typed) {
  std::uint64_t b = GetWritingBlockIndex(name);
  if (builder_.Frozen(b)) {
    if (typed) KIV_RAISE(Miscellaneous, "Attempt to write into a frozen block", kPut);
    KIV_RAISE(ElementNotFound, nullptr, kPut);
  }
  BlockTable& table = builder_.Table();
  Block& block = table.Buffer(b);
  if (!block.HasBuffer() && block.Size() == 0) {
    // Both buffers of the stream are being written: the new block waits for the older one.
    if (!spares_.raw.Holds() && pending_.size() >= kWritesInFlight &&
        table.Blocks()[pending_.front().block].name == name)
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

void IndexWriter::WriteIndexBufferToFileStream(std::uint64_t b, std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteIndexBufferToFileStream";
  FinishPendingWrite();
  KIV_LOG_INFO(method, "Writing index buffer " + Num(b) + " to stream.");
  BlockTable& table = builder_.Table();
  BlockInfo& info = table.Blocks()[b];
  Block& buffer = table.Buffer(b);
  buffer.Clear();
  builder_.PutIndexContent(buffer, b + 1, kBlocksPerIndexBlock);
  info.storedSize = buffer.Size();
  table.ComputeAllOffsets();
  builder_.Freeze(b, buffer.Size());
  if (fseeko(stream, static_cast<off_t>(info.offset), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  buffer.Write(stream, false);
  buffer.Release();
  KIV_LOG_INFO(method, "Index buffer " + Num(b) + " written to stream.");
}

void IndexWriter::FlushFrozen(std::FILE* stream) {
  const char* method = "KivRkf::Index::FlushFrozen";
  KIV_LOG_INFO(method, "Flushing frozen blocks ... ");
  const BlockTable& table = builder_.Table();
  for (const auto& [name, limiter] : table.Names()) {
    if (IsSpecialName(name, kEmptyBlockName) || IsSpecialName(name, kIndexBlockName)) continue;
    for (std::uint64_t b : limiter.blocks) {
      if (builder_.Frozen(b) || !(builder_.Flags(b) & kFlagStreaming) ||
          table.Buffer(b).Size() < limiter.limit)
        continue;
      for (std::uint64_t k = 0; k < b; ++k)
        if (!builder_.Frozen(k) && !IsSpecialName(table.Blocks()[k].name, kIndexBlockName))
          KIV_RAISE(NotImplemented, nullptr, method);
      StartWrite(b, stream, true);
    }
  }
  KIV_LOG_INFO(method, "Frozen blocks flushed. ");
}

bool IndexWriter::AllBlocksFrozen() {
  const auto& blocks = builder_.Table().Blocks();
  // Blocks never thaw, so the blocks before firstUnfrozen_ need no second look. Blocks still
  // in the empty pool come after every block in use.
  while (firstUnfrozen_ < blocks.size() &&
         (builder_.Frozen(firstUnfrozen_) ||
          IsSpecialName(blocks[firstUnfrozen_].name, kIndexBlockName)))
    ++firstUnfrozen_;
  return firstUnfrozen_ == blocks.size() ||
         IsSpecialName(blocks[firstUnfrozen_].name, kEmptyBlockName);
}

void IndexWriter::StartWrite(std::uint64_t b, std::FILE* stream, bool ownThread,
                             std::optional<std::uint32_t> packedFrom) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  if (!ownThread)
    FinishPendingWrite();
  else if (pending_.size() >= kWritesInFlight)
    FinishOldestWrite();
  BlockTable& table = builder_.Table();
  if (builder_.Frozen(b) || (!pending_.empty() && pending_.back().block >= b)) {
    // The records of the blocks before it come first.
    FinishPendingWrite();
    KIV_LOG_INFO(method, "Writing buffer " + Num(b) + " to stream.");
    KIV_RAISE(MisMatch, nullptr, method);
  }
  // The block's records are published when its result is taken (FinishOldestWrite).
  const std::uint32_t n = packedFrom ? *packedFrom : table.Buffer(b).Size();
  const std::uint8_t flags = builder_.Flags(b);
  // A streaming block is frozen at its raw length now; its stored size is known once it is
  // written, and the block lies at the sum of the stored sizes before it: right after a
  // block still being written (and the blocks between, all written), or where the table
  // puts it.
  if (flags & kFlagStreaming) builder_.Freeze(b, n);
  WritePlace place;
  if (!pending_.empty()) {
    const std::uint64_t last = pending_.back().block;
    place.afterPrevious = true;
    for (std::uint64_t k = last + 1; k < b; ++k) place.offset += table.Blocks()[k].storedSize;
  } else {
    table.ComputeAllOffsets();
    place.offset = table.Blocks()[b].offset;
  }
  SpareBuffer packed = std::move(spares_.packed);
  spares_.packed.Clear();
  const BackgroundWrite::Form form = packedFrom            ? BackgroundWrite::Form::Packed
                                     : (flags & kFlagZlib) ? BackgroundWrite::Form::Compress
                                                           : BackgroundWrite::Form::Stored;
  place.turns = &turns_;
  place.ticket = turns_.Take();
  try {
    auto job = std::make_unique<BackgroundWrite>(std::move(table.Buffer(b)), form, place, stream,
                                                 std::move(packed), ownThread);
    pending_.push_back({std::move(job), b, n});
  } catch (...) {
    // A turn never taken would hold up every later write.
    turns_.Done(place.ticket, 0, true);
    throw;
  }
}

std::vector<std::optional<std::uint32_t>> IndexWriter::PackAhead(std::uint64_t first) {
  const BlockTable& table = builder_.Table();
  std::vector<std::optional<std::uint32_t>> packedFrom(table.Blocks().size());
  if (pending_.empty()) return packedFrom;
  BlockZlibCompressor compress(6);
  for (std::uint64_t b = first; b < table.Blocks().size(); ++b) {
    const std::uint32_t n = table.Buffer(b).Size();
    if (builder_.Frozen(b) || !(builder_.Flags(b) & kFlagZlib) ||
        IsSpecialName(table.Blocks()[b].name, kIndexBlockName))
      continue;
    // Its own packed buffer: the spare is with the block being written.
    BlockZlibCompressor::RaiseFor(compress.Pack(builder_.Table().Buffer(b), nullptr));
    packedFrom[b] = n;
  }
  return packedFrom;
}

void IndexWriter::FinishPendingWrite() {
  while (!pending_.empty()) FinishOldestWrite();
}

void IndexWriter::DropPendingWrite() noexcept {
  // Oldest first: a later block waits for the turn of the one before it.
  while (!pending_.empty()) pending_.pop_front();
}

void IndexWriter::FinishOldestWrite() {
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
  BlockTable& table = builder_.Table();
  BlockInfo& info = table.Blocks()[b];
  info.storedSize = done.storedSize;
  // The bytes are gone; the block keeps the record of what was written.
  table.Buffer(b).RecordOnly(done.storedSize);
  table.ComputeAllOffsets();
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

IndexWriter::Adopted IndexWriter::AdoptBlock(const std::string& name, int from,
                                             std::uint64_t fromOffset, std::uint32_t storedSize,
                                             std::uint32_t rawLength, std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteBufferToFileStream";
  FinishPendingWrite();
  BlockTable& table = builder_.Table();
  const BlockSizeLimiter& limiter = table.LimiterFor(name);
  KIV_CHECK(limiter.blocks.empty() || builder_.Frozen(limiter.blocks.back()), MisMatch, nullptr,
            method);
  // The copy goes to the end of the file: every block before it must be written already,
  // as for blocks flushed early.
  KIV_CHECK(AllBlocksFrozen(), NotImplemented, nullptr, "KivRkf::Index::FlushFrozen");
  Adopted adopted;
  adopted.position = builder_.GetSize(name);
  adopted.block = builder_.AddBlock(name);
  builder_.Freeze(adopted.block, rawLength);
  builder_.ResetFlags(adopted.block, kFlagZlib | kFlagStreaming);
  BlockInfo& info = table.Blocks()[adopted.block];
  info.storedSize = storedSize;
  info.reserved = 0;
  table.Buffer(adopted.block).RecordOnly(storedSize);
  // Every block before it is written: offsets before offsetsFrom_ stand.
  if (offsetsFrom_ > adopted.block) offsetsFrom_ = 0;
  for (; offsetsFrom_ <= adopted.block; ++offsetsFrom_) table.ComputeOffset(offsetsFrom_);
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

void IndexWriter::WriteAllBuffersToFileStream(std::FILE* stream) {
  const char* method = "KivRkf::Index::WriteAllBuffersToFileStream";
  KIV_LOG_INFO(method, "Writing all buffers to file stream ...");
  BlockTable& table = builder_.Table();
  if (table.Blocks().empty()) builder_.AddPrimaryBlocks();
  std::uint64_t first = 0;
  while (first < table.Blocks().size() &&
         (builder_.Frozen(first) || IsSpecialName(table.Blocks()[first].name, kIndexBlockName)))
    ++first;
  // The blocks left (a streaming stream's last, partial block above all) are compressed
  // while the second thread still writes the full block before them, not after it.
  const std::vector<std::optional<std::uint32_t>> packedFrom = PackAhead(first);
  FinishPendingWrite();
  for (std::uint64_t b = first; b < table.Blocks().size(); ++b) {
    StartWrite(b, stream, false, packedFrom[b]);
    FinishPendingWrite();
  }
  Block primary;
  builder_.PutIndexContent(primary, 0, kPrimaryBlocks);
  if (fseeko(stream, static_cast<off_t>(table.HeaderSize()), SEEK_SET) != 0)
    KIV_RAISE(WriteError, "Saving the buffer failed", method);
  primary.Write(stream, true);
  auto it = table.Names().find(kIndexBlockName);
  if (it != table.Names().end())
    for (std::uint64_t b : it->second.blocks) WriteIndexBufferToFileStream(b, stream);
  KIV_LOG_INFO(method, "All buffers to file stream written.");
}

}  // namespace KivRkf
