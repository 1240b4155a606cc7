// KivRkf::BackgroundWrite: one full block of a streaming stream, compressed and written
// to the file on a thread of its own while the caller fills the next block. Deflating is
// by far the largest cost of writing a large stream; with it beside the reading,
// inflating and copying that fill the next block, a merge takes about as long as
// deflating alone. Two blocks may be compressed side by side; WriteTurns makes them reach
// the file one after the other, each right after the one before.
//
// The thread owns the block's bytes, the packed spare and, during its turn, the file
// stream: the caller touches none of them until Wait or Finish. Nothing on the thread
// raises or logs: the caller publishes the block's records from Reached and the result,
// and Finish raises what went wrong, with the texts of the writer on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "kiv/rkf/block.hpp"
#include "kiv/rkf/spare_buffers.hpp"

namespace KivRkf {

// Starts the disk writes of bytes just written instead of leaving them all to the fsync at
// the end of a save: a large output then reaches the disk while later blocks are being
// compressed or copied. A hint only; the fsync reports what failed.
void StartWriteBack(std::FILE* stream, std::uint64_t offset, std::uint32_t n);

// The order in which blocks reach the file: every write takes a ticket, waits for the
// writes of the tickets before it, and learns where the last of them ended.
class WriteTurns {
 public:
  std::uint64_t Take();
  // Waits until every earlier ticket is done; gives the end offset of the last write and
  // whether any earlier write failed.
  std::uint64_t WaitFor(std::uint64_t ticket, bool& failedBefore);
  // Ends the turn of ticket: its bytes end at end (unused when it failed).
  void Done(std::uint64_t ticket, std::uint64_t end, bool failed);

 private:
  std::mutex mutex_;
  std::condition_variable turnChanged_;
  std::uint64_t nextTicket_ = 0;
  std::uint64_t turn_ = 0;
  std::uint64_t end_ = 0;
  bool failed_ = false;
};

// Where a block goes: at a fixed offset, or the given gap after the end of the write of
// the ticket before it (a block compressed while the one before it still is).
struct WritePlace {
  std::uint64_t offset = 0;
  bool afterPrevious = false;
  WriteTurns* turns = nullptr;  // none: written at once, at offset
  std::uint64_t ticket = 0;
};

class BackgroundWrite {
 public:
  struct Done {
    std::uint32_t storedSize = 0;  // the bytes written (the compressed framing when zlib)
    std::uint64_t offset = 0;      // where they were written
    SpareBuffers spares;           // the raw and packed buffers, for the next blocks
  };

  // How the block's bytes reach the file: stored as they are, compressed first, or
  // already compressed (the framing was made beforehand).
  enum class Form { Stored, Compress, Packed };

  // Starts writing block at offset of stream; packed is the buffer a compression may write
  // into. Without ownThread (or when no thread can be had) the work is done before the
  // constructor returns: the synchronous write is the same code.
  BackgroundWrite(Block block, Form form, std::uint64_t offset, std::FILE* stream,
                  SpareBuffer packed, bool ownThread = true)
      : BackgroundWrite(std::move(block), form, WritePlace{offset}, stream, std::move(packed),
                        ownThread) {}
  BackgroundWrite(Block block, Form form, WritePlace place, std::FILE* stream, SpareBuffer packed,
                  bool ownThread = true);
  BackgroundWrite(const BackgroundWrite&) = delete;
  BackgroundWrite& operator=(const BackgroundWrite&) = delete;
  // Waits for the thread; a result not taken with Finish is dropped.
  ~BackgroundWrite();

  // How far the write went, for the records the caller publishes: valid once Wait (or
  // Finish) returned, whether or not the write succeeded.
  struct Progress {
    std::optional<std::uint32_t> compressedSize;  // the framing's size, once compressed
    std::optional<std::uint64_t> offset;          // where the bytes go, once placed
    bool positionFailed = false;                  // seeking to offset failed
  };

  // Waits for the thread.
  void Wait();
  const Progress& Reached() const { return progress_; }
  // Waits for the thread and hands over the result, or raises its failure.
  Done Finish();

 private:
  enum class Failure { None, NoMemory, Compression, Position, Write };
  void Run(std::FILE* stream);
  void Compress();
  void WriteAt(std::uint64_t offset, std::FILE* stream);

  Block block_;
  Form form_;
  WritePlace place_;
  std::uint64_t offset_ = 0;
  SpareBuffers spares_;
  Failure failure_ = Failure::None;
  Progress progress_;
  std::thread thread_;
};

}  // namespace KivRkf
