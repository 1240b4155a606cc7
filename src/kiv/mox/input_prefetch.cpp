#include "kiv/mox/input_prefetch.hpp"

#include "kiv/log/record_hold.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

InputPrefetch::InputPrefetch(std::vector<std::string> paths, KivRkf::OpenFilePool& pool)
    : paths_(std::move(paths)), pool_(pool) {
  if (!paths_.empty()) thread_ = std::thread([this] { Run(); });
}

InputPrefetch::~InputPrefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  // Files nobody took were never opened as far as the log knows.
  Kiv::Log::RecordHold hold;
  waiting_.clear();
}

void InputPrefetch::Run() {
  // This thread publishes nothing: what it reads ahead is published by the loads.
  Kiv::Log::RecordHold hold;
  try {
    RunAll();
  } catch (...) {
    // Out of memory for the queue, say: the inputs not prepared are opened by their loads.
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void InputPrefetch::RunAll() {
  for (std::size_t i = 0; i < paths_.size(); ++i) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto room = [&] {
        return stop_ || waiting_.empty() ||
               (waiting_.size() < kAhead && waitingBytes_ < kLightBytes);
      };
      preparerWaits_ = !room();
      changed_.wait(lock, room);
      preparerWaits_ = false;
      if (stop_) return;
    }
    Prepared prepared = Prepare(paths_[i]);
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waitingBytes_ += prepared.bytes;
      waiting_.push_back(std::move(prepared));
      wake = takerWaits_;
    }
    if (wake) changed_.notify_all();
  }
}

InputPrefetch::Prepared InputPrefetch::Prepare(const std::string& path) {
  // Every record of this thread is held: those of the table go to the file, the rest (of a
  // failure, or of the closing of a file given up) are dropped.
  Kiv::Log::RecordHold hold;
  // The pool keeps room for the file the loading thread reads, which it never closes then.
  if (pool_.OpenCount() + 2 > pool_.Capacity()) return {};
  std::shared_ptr<KivRkf::RkFile> file;
  try {
    file = std::make_shared<KivRkf::RkFile>();
    file->OpenFile(path, "rb", pool_);
    const KivRkf::FileInUse inUse(file.get());  // no other open closes it while it is read
    bool wide = false;
    if (!file->IsContainerFile()) return {};
    file->CheckSupport(file->ReadVersion(), wide);
    file->ReadIndex();
    std::vector<Kiv::Util::LogRecord> records = hold.Take();
    const std::uint64_t bytes = file->Reader().Preload(kHeavyData, kLightBytes);
    file->SetIndexReadAhead(std::move(records));
    return {std::move(file), bytes};
  } catch (...) {
    return {};
  }
}

std::shared_ptr<KivRkf::RkFile> InputPrefetch::Take(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ >= paths_.size() || paths_[taken_] != path) return nullptr;
  takerWaits_ = waiting_.empty();
  changed_.wait(lock, [&] { return !waiting_.empty() || finished_; });
  takerWaits_ = false;
  if (waiting_.empty()) {  // the thread ended early: this and later inputs open themselves
    ++taken_;
    return nullptr;
  }
  Prepared prepared = std::move(waiting_.front());
  waiting_.pop_front();
  waitingBytes_ -= prepared.bytes;
  ++taken_;
  const bool wake = preparerWaits_;
  lock.unlock();
  if (wake) changed_.notify_all();
  std::shared_ptr<KivRkf::RkFile> file = std::move(prepared.file);
  // Made the most recently used, the pool closes it last; one closed already is given up.
  if (file && !pool_.Touch(file.get(), false)) {
    Kiv::Log::RecordHold hold;
    file.reset();
  }
  given_ += file != nullptr;
  return file;
}

}  // namespace KivMox
