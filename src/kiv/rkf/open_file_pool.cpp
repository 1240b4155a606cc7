#include "kiv/rkf/open_file_pool.hpp"

#include <algorithm>
#include <functional>
#include <vector>

#include <sys/resource.h>

#include <fstream>
#include <iterator>
#include <limits>

#include "kiv/rkf/rkfile.hpp"

namespace KivRkf {

OpenFilePool::OpenFilePool(std::size_t capacity) {
  SetCapacity(capacity);
}

OpenFilePool::~OpenFilePool() {
  std::lock_guard lock(mutex_);
  for (RkFile* file : members_) file->pool_ = nullptr;
}

std::size_t OpenFilePool::CapacityLocked() const {
  if (capacity_) return *capacity_;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= std::numeric_limits<std::size_t>::max())
    return std::numeric_limits<std::size_t>::max();
  const auto soft = static_cast<std::size_t>(limit.rlim_cur);
  return soft > kReserved + 1 ? soft - kReserved : 1;
}

std::size_t OpenFilePool::Capacity() const {
  std::lock_guard lock(mutex_);
  return CapacityLocked();
}

std::size_t OpenFilePool::SetCapacity(std::size_t capacity) {
  std::lock_guard lock(mutex_);
  const std::size_t before = capacity_.value_or(0);
  capacity_ = capacity ? std::optional(capacity) : std::nullopt;
  return before;
}

std::size_t OpenFilePool::OpenCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

bool OpenFilePool::InUse(const RkFile* file) const {
  std::lock_guard lock(mutex_);
  auto it = held_.find(file);
  return it != held_.end() && it->second.uses > 0;
}

void OpenFilePool::Opened(RkFile* file, bool pin) {
  std::lock_guard lock(mutex_);
  auto it = held_.find(file);
  if (it == held_.end()) {
    open_.push_front(file);
    it = held_.emplace(file, Held{open_.begin(), 0, ++openings_}).first;
    members_.insert(file);
  } else {
    open_.splice(open_.begin(), open_, it->second.at);
  }
  if (pin) ++it->second.uses;
}

bool OpenFilePool::Touch(RkFile* file, bool pin) {
  std::lock_guard lock(mutex_);
  auto it = held_.find(file);
  if (it == held_.end()) return false;
  open_.splice(open_.begin(), open_, it->second.at);
  if (pin) ++it->second.uses;
  return true;
}

void OpenFilePool::Unpin(const RkFile* file) {
  std::lock_guard lock(mutex_);
  if (auto it = held_.find(file); it != held_.end() && it->second.uses > 0) --it->second.uses;
}

void OpenFilePool::Closed(RkFile* file) {
  std::lock_guard lock(mutex_);
  members_.erase(file);
  if (auto it = held_.find(file); it != held_.end()) {
    open_.erase(it->second.at);
    held_.erase(it);
  }
}

void OpenFilePool::MakeRoom(const RkFile* keep) {
  std::lock_guard lock(mutex_);
  const std::size_t capacity = CapacityLocked();
  while (open_.size() >= capacity && CloseOldestLocked(keep)) {
  }
}

bool OpenFilePool::CloseOldest(const RkFile* keep) {
  std::lock_guard lock(mutex_);
  return CloseOldestLocked(keep);
}

bool OpenFilePool::CloseOldestLocked(const RkFile* keep) {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    RkFile* oldest = *it;
    if (oldest == keep) continue;
    auto held = held_.find(oldest);
    if (held->second.uses > 0) continue;
    open_.erase(held->second.at);
    held_.erase(held);
    // Under the lock: a user that finds the file gone sees it closed, never half closed.
    oldest->Suspend();
    return true;
  }
  return false;
}

void OpenFilePool::CloseAllNewestFirst() {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::uint64_t, RkFile*>> idle;
  for (const auto& entry : held_)
    if (const Held& held = entry.second; held.uses == 0) idle.emplace_back(held.opened, *held.at);
  std::sort(idle.begin(), idle.end(), std::greater<>());
  for (const auto& [opened, file] : idle) {
    auto held = held_.find(file);
    open_.erase(held->second.at);
    held_.erase(held);
    file->Suspend();
  }
}

FileInUse::FileInUse(RkFile* file) : file_(file) {
  if (file_ && file_->Use(true)) pool_ = file_->Pool();
}

FileInUse::~FileInUse() {
  if (pool_) pool_->Unpin(file_);
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t target = limit.rlim_max;
  // The kernel refuses more descriptors than fs.nr_open, whatever the hard limit says.
  unsigned long long system = 0;
  if (std::ifstream in("/proc/sys/fs/nr_open"); in >> system && system < target)
    target = static_cast<rlim_t>(system);
  if (limit.rlim_cur == RLIM_INFINITY || target <= limit.rlim_cur) return;
  limit.rlim_cur = target;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace KivRkf
