// KivRkf::CopiedBlockCheck: zlib blocks copied into a file as they were stored, checked
// from the bytes as they stand in that file, on worker threads, while the caller copies
// the next ones. Each block is read and inflated once, into buffers that its worker
// reuses; it must declare its raw length in its length field, its zlib stream (with its
// checksum) must inflate to exactly that many bytes, and every run a record takes from it
// must end within them. A copy cut short, an input that changed under the copy or a block
// damaged in its input all fail here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kiv/rkf/block_read.hpp"

namespace KivRkf {

// Bytes of a checked block that its check hands on: the raw bytes [offset, offset + size)
// of the block, copied out while the block is inflated anyway.
struct CheckedBytes {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::string bytes;  // filled by the check; left empty when the range runs past the block
};

class CopiedBlockCheck {
 public:
  // The bytes a worker may hold at once (a block's stored and raw bytes) over all workers.
  static constexpr std::uint64_t kMemoryBound = std::uint64_t{608} << 20;
  // As many workers as there are cores, and as the memory bound allows for blocks of up to
  // largestBlock bytes (stored and raw together); at least one.
  static unsigned Workers(std::uint64_t largestBlock);

  // Reads blocks from fd (which stays open until Finish, and which nobody else changes) with
  // the given number of workers, for blocks of up to largestRaw raw bytes: each worker
  // maps the stored bytes and inflates into one buffer of that size.
  CopiedBlockCheck(int fd, unsigned workers, std::uint32_t largestRaw = 0);
  // Stops the workers; results not taken are dropped.
  ~CopiedBlockCheck();
  CopiedBlockCheck(const CopiedBlockCheck&) = delete;
  CopiedBlockCheck& operator=(const CopiedBlockCheck&) = delete;

  // Queues the block stored at offset; runsEnd is the end of the last run taken from it.
  // The ranges of keep, when given, are copied out of the block once it is found sound;
  // keep must stay in place until Finish.
  void Add(std::uint64_t offset, std::uint32_t storedSize, std::uint32_t rawLength,
           std::uint64_t runsEnd, std::vector<CheckedBytes>* keep = nullptr);
  // Waits for every block queued; raises code 9 "Unable to decompress block" when one
  // failed, code 0 when a worker found no memory.
  void Finish();

 private:
  struct Job {
    std::uint64_t offset = 0;
    std::uint32_t storedSize = 0;
    std::uint32_t rawLength = 0;
    std::uint64_t runsEnd = 0;
    std::vector<CheckedBytes>* keep = nullptr;
  };
  enum class Failure { None, Damage, NoMemory };
  void Work();
  Failure Check(const Job& job, BlockReader& reader) const;

  int fd_;
  std::uint32_t largestRaw_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::size_t busy_ = 0;
  bool stopping_ = false;
  Failure failure_ = Failure::None;
  std::vector<std::thread> workers_;
};

}  // namespace KivRkf
