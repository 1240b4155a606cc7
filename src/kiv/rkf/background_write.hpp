// KivRkf::BackgroundWrite: one full block of a streaming stream, compressed and written
// to the file on a second thread while the caller fills the next block. Deflating is by
// far the largest cost of writing a large stream; with it beside the reading, inflating
// and copying that fill the next block, a merge takes about as long as deflating alone.
//
// The thread owns the block's bytes, the packed spare and, until Finish, the file stream:
// the caller touches none of them in between. Nothing on the thread raises or logs;
// Finish raises what went wrong, with the texts of the writer on the caller's thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <thread>

#include "kiv/rkf/block.hpp"
#include "kiv/rkf/spare_buffers.hpp"

namespace KivRkf {

class BackgroundWrite {
 public:
  struct Done {
    std::uint32_t storedSize = 0;  // the bytes written (the compressed framing when zlib)
    SpareBuffers spares;           // the raw and packed buffers, for the next blocks
  };

  // How the block's bytes reach the file: stored as they are, compressed first, or
  // already compressed (the framing was made beforehand).
  enum class Form { Stored, Compress, Packed };

  // Starts writing block at offset of stream; packed is the buffer a compression may write
  // into. Without ownThread (or when no thread can be had) the work is done before the
  // constructor returns: the synchronous write is the same code.
  BackgroundWrite(Block block, Form form, std::uint64_t offset, std::FILE* stream,
                  SpareBuffer packed, bool ownThread = true);
  BackgroundWrite(const BackgroundWrite&) = delete;
  BackgroundWrite& operator=(const BackgroundWrite&) = delete;
  // Waits for the thread; a result not taken with Finish is dropped.
  ~BackgroundWrite();

  // Waits for the thread and hands over the result, or raises its failure.
  Done Finish();

 private:
  enum class Failure { None, NoMemory, Compression, Position, Write };
  void Run(std::uint64_t offset, std::FILE* stream);

  Block block_;
  Form form_;
  SpareBuffers spares_;
  Failure failure_ = Failure::None;
  std::thread thread_;
};

}  // namespace KivRkf
