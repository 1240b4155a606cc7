// Compressing and writing one block on a thread of its own.
#include "kiv/rkf/background_write.hpp"

#include <fcntl.h>
#include <sys/types.h>

#include <system_error>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/zlib.hpp"
#include "kiv/util/interrupts.hpp"

namespace KivRkf {

namespace {
const char* const kWrite = "KivRkf::Index::WriteBufferToFileStream";
}  // namespace

void StartWriteBack(std::FILE* stream, std::uint64_t offset, std::uint32_t n) {
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
  const int fd = fileno(stream);
  if (fd >= 0 && n != 0)
    sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
#else
  (void)stream;
  (void)offset;
  (void)n;
#endif
}

std::uint64_t WriteTurns::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nextTicket_++;
}

std::uint64_t WriteTurns::WaitFor(std::uint64_t ticket, bool& failedBefore) {
  std::unique_lock<std::mutex> lock(mutex_);
  turnChanged_.wait(lock, [&] { return turn_ == ticket; });
  failedBefore = failed_;
  return end_;
}

void WriteTurns::Done(std::uint64_t ticket, std::uint64_t end, bool failed) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (turn_ != ticket) return;
    if (failed)
      failed_ = true;
    else
      end_ = end;
    ++turn_;
  }
  turnChanged_.notify_all();
}

BackgroundWrite::BackgroundWrite(Block block, Form form, WritePlace place, std::FILE* stream,
                                 SpareBuffer packed, bool ownThread)
    : block_(std::move(block)), form_(form), place_(place) {
  spares_.packed = std::move(packed);
  if (form_ == Form::Packed) progress_.compressedSize = block_.Size();
  if (!ownThread) {
    Run(stream);
    return;
  }
  try {
    Kiv::Util::InterruptsBlocked blocked;  // the worker inherits them blocked
    thread_ = std::thread([this, stream] { Run(stream); });
  } catch (const std::system_error&) {
    Run(stream);  // no thread to be had: the work is done here and now
  }
}

BackgroundWrite::~BackgroundWrite() {
  if (thread_.joinable()) thread_.join();
}

void BackgroundWrite::Run(std::FILE* stream) {
  if (form_ == Form::Compress) Compress();
  // With turns, the file is this block's only in its turn, and a failure before it leaves
  // the file alone.
  bool failedBefore = false;
  const std::uint64_t previousEnd =
      place_.turns ? place_.turns->WaitFor(place_.ticket, failedBefore) : 0;
  offset_ = place_.afterPrevious ? previousEnd + place_.offset : place_.offset;
  if (failedBefore && failure_ == Failure::None) failure_ = Failure::Write;
  if (failure_ == Failure::None) {
    progress_.offset = offset_;
    WriteAt(offset_, stream);
  }
  if (place_.turns)
    place_.turns->Done(place_.ticket, offset_ + block_.Size(), failure_ != Failure::None);
}

void BackgroundWrite::Compress() {
  BlockZlibCompressor compress(6);
  switch (compress.Pack(block_, &spares_)) {
    case BlockZlibCompressor::Outcome::Done:
      progress_.compressedSize = block_.Size();
      break;
    case BlockZlibCompressor::Outcome::NoMemory:
      failure_ = Failure::NoMemory;
      break;
    case BlockZlibCompressor::Outcome::Failed:
      failure_ = Failure::Compression;
      break;
  }
}

void BackgroundWrite::WriteAt(std::uint64_t offset, std::FILE* stream) {
  if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) {
    failure_ = Failure::Position;
    progress_.positionFailed = true;
    return;
  }
  const std::uint32_t n = block_.Size();
  if (n != 0 && (!block_.HasBuffer() || std::fwrite(block_.Data(), 1, n, stream) != n)) {
    failure_ = Failure::Write;
    return;
  }
  StartWriteBack(stream, offset, n);
}

void BackgroundWrite::Wait() {
  if (thread_.joinable()) thread_.join();
}

BackgroundWrite::Done BackgroundWrite::Finish() {
  Wait();
  if (failure_ == Failure::NoMemory)
    BlockZlibCompressor::RaiseFor(BlockZlibCompressor::Outcome::NoMemory);
  if (failure_ == Failure::Compression)
    BlockZlibCompressor::RaiseFor(BlockZlibCompressor::Outcome::Failed);
  if (failure_ == Failure::Position) KIV_RAISE(WriteError, "Saving the buffer failed", kWrite);
  if (failure_ == Failure::Write)
    KIV_RAISE(WriteError, "Unable to write to file", "KivRkf::Block::Write");
  Done done;
  done.storedSize = block_.Size();
  done.offset = offset_;
  std::uint64_t capacity = 0;
  MallocBuffer written = block_.HandOver(capacity);
  done.spares = std::move(spares_);
  // What was written is the compressed framing (the packed spare of the next block) or,
  // for a block stored as it is, the raw bytes.
  if (form_ != Form::Stored)
    done.spares.packed.Keep(std::move(written), capacity);
  else
    done.spares.raw.Keep(std::move(written), capacity);
  return done;
}

}  // namespace KivRkf
