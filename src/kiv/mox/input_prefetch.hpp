// KivMox::InputPrefetch: the later inputs of a merge opened ahead, in order, on a thread of
// their own while the tree loads the ones before: each file is opened in the pool, its
// version checked, its block table read and the blocks of its light sections read and
// inflated, so that its load finds them in memory. The load takes the file (Take) in the
// order of the paths given, and publishes the table's records where a load without
// prefetching would have read it (RkFile::SetIndexReadAhead): the trace log reads as it
// does without prefetching. A file that fails to open or to read ahead is given up with
// every record of it: its load opens it as any other and reports what is wrong. At most
// kAhead files wait to be taken, with at most kLightBytes of light blocks among them (and
// one file more being prepared); the prefetch stops, and its thread ends, when it is
// destroyed, before the pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace KivRkf {
class OpenFilePool;
class RkFile;
}  // namespace KivRkf

namespace KivMox {

class InputPrefetch {
 public:
  static constexpr std::size_t kAhead = 64;
  // Light blocks read ahead (raw or stored, whichever is larger) per file, and at most
  // among the files waiting.
  static constexpr std::uint64_t kLightBytes = 32ull << 20;

  InputPrefetch(std::vector<std::string> paths, KivRkf::OpenFilePool& pool);
  ~InputPrefetch();
  InputPrefetch(const InputPrefetch&) = delete;
  InputPrefetch& operator=(const InputPrefetch&) = delete;

  // The file opened ahead for path when path is the next one of the paths not taken yet,
  // waiting for it if need be; null when path is not next or its prefetch was given up (the
  // caller opens it). The file is open in the pool, and the most recently used.
  std::shared_ptr<KivRkf::RkFile> Take(const std::string& path);
  // How many files Take gave out.
  std::size_t Given() const { return given_; }

 private:
  struct Prepared {
    std::shared_ptr<KivRkf::RkFile> file;
    std::uint64_t bytes = 0;  // its light blocks read ahead
  };
  void Run();
  void RunAll();
  Prepared Prepare(const std::string& path);

  const std::vector<std::string> paths_;
  KivRkf::OpenFilePool& pool_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Prepared> waiting_;  // prepared, in order, for the paths from taken_ on
  std::size_t taken_ = 0;         // paths taken (or passed over) so far
  std::uint64_t waitingBytes_ = 0;
  std::size_t given_ = 0;
  bool stop_ = false;
  bool finished_ = false;  // the thread ended
  // Who sleeps on changed_, so that the other wakes it only then.
  bool takerWaits_ = false, preparerWaits_ = false;
  std::thread thread_;
};

}  // namespace KivMox
