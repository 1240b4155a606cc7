#include "kiv/rkf/copied_block_check.hpp"

#include <algorithm>
#include <new>
#include <system_error>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/block_read.hpp"
#include "kiv/util/interrupts.hpp"

namespace KivRkf {

unsigned CopiedBlockCheck::Workers(std::uint64_t largestBlock) {
  const std::uint64_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::uint64_t byMemory = largestBlock == 0 ? cores : kMemoryBound / largestBlock;
  return static_cast<unsigned>(std::max<std::uint64_t>(1, std::min(cores, byMemory)));
}

CopiedBlockCheck::CopiedBlockCheck(int fd, unsigned workers, std::uint32_t largestRaw)
    : fd_(fd), largestRaw_(largestRaw) {
  Kiv::Util::InterruptsBlocked blocked;  // the workers inherit them blocked
  for (unsigned i = 0; i < std::max(1u, workers); ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      if (!workers_.empty()) break;  // fewer workers than asked for
      throw;
    }
  }
}

CopiedBlockCheck::~CopiedBlockCheck() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CopiedBlockCheck::Add(std::uint64_t offset, std::uint32_t storedSize, std::uint32_t rawLength,
                           std::uint64_t runsEnd, std::vector<CheckedBytes>* keep) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({offset, storedSize, rawLength, runsEnd, keep});
  }
  changed_.notify_one();
}

void CopiedBlockCheck::Finish() {
  const char* method = "KivRkf::Index::LoadBlock";
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return (queue_.empty() && busy_ == 0) || failure_ != Failure::None; });
  if (failure_ == Failure::NoMemory) KIV_RAISE(MemoryAllocation, nullptr, method);
  if (failure_ == Failure::Damage) KIV_RAISE(ReadError, "Unable to decompress block", method);
}

void CopiedBlockCheck::Work() {
  BlockReader reader(fd_);
  reader.MapStoredBytes();
  // Grown block by block, the buffer would be fresh memory again for each larger block.
  if (largestRaw_ != 0) reader.Reserve(largestRaw_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const Job job = queue_.front();
    queue_.pop_front();
    ++busy_;
    const bool failedBefore = failure_ != Failure::None;
    lock.unlock();
    const Failure failure = failedBefore ? Failure::None : Check(job, reader);
    lock.lock();
    --busy_;
    if (failure != Failure::None && failure_ == Failure::None) {
      failure_ = failure;
      queue_.clear();  // the save fails: the blocks left need no check
    }
    changed_.notify_all();
  }
}

CopiedBlockCheck::Failure CopiedBlockCheck::Check(const Job& job, BlockReader& reader) const {
  if (job.runsEnd > job.rawLength) return Failure::Damage;
  const BlockRead read = reader.Read(job.offset, job.storedSize, true);
  if (read.framing.state == Framing::State::NoMemory) return Failure::NoMemory;
  // The length the merge used is the one the block must declare and give.
  if (!read.Exact() || read.declared != job.rawLength) return Failure::Damage;
  if (job.keep) {
    try {
      for (CheckedBytes& range : *job.keep)
        if (range.offset <= read.length && range.size <= read.length - range.offset)
          range.bytes.assign(reinterpret_cast<const char*>(read.raw) + range.offset, range.size);
    } catch (const std::bad_alloc&) {
      return Failure::NoMemory;
    }
  }
  return Failure::None;
}

}  // namespace KivRkf
