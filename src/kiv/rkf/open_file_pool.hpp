// KivRkf::OpenFilePool: the container files open for reading, most recently used first.
// A merge keeps every input until the output is written, and may have more inputs than
// the process may open files. The pool keeps at most Capacity() of them open: opening or
// using one more closes the least recently used, which RkFile::EnsureOpen opens again by
// its path (with its block table and reading state kept) when it is needed.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace KivRkf {

class RkFile;

class OpenFilePool {
 public:
  // The descriptors left to everything else: the standard streams, the log, the output
  // and its temporary copies, and whatever the runtime keeps open.
  static constexpr std::size_t kReserved = 16;

  static OpenFilePool& Instance();

  // How many reading files may be open at once: the soft open-file limit less kReserved
  // (at least 1), unless set.
  std::size_t Capacity() const;
  // Sets the capacity (0: from the limit again); returns the one set before (0 when none).
  std::size_t SetCapacity(std::size_t capacity);
  std::size_t OpenCount() const;

  // The RkFile side: file is open and used now / is closed or forgotten.
  void Opened(RkFile* file);
  void Closed(RkFile* file);
  // Closes the least recently used files other than keep until one more may be opened.
  void MakeRoom(const RkFile* keep);
  // Closes the least recently used file other than keep; false when there is none.
  bool CloseOldest(const RkFile* keep);

 private:
  OpenFilePool() = default;
  std::size_t CapacityLocked() const;
  bool CloseOldestLocked(const RkFile* keep);

  mutable std::mutex mutex_;
  std::list<RkFile*> open_;
  std::unordered_map<const RkFile*, std::list<RkFile*>::iterator> where_;
  std::optional<std::size_t> capacity_;
};

// Raises the soft open-file limit to the hard one, or to what the system allows when
// that is lower. A limit that cannot be raised stays as it is.
void RaiseOpenFileLimit();

}  // namespace KivRkf
