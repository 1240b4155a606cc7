// KivRkf::OpenFilePool: the container files open for reading, most recently used first.
// A merge keeps every input until the output is written, and may have more inputs than
// the process may open files. The pool keeps at most Capacity() of them open: opening or
// using one more closes the least recently used, which RkFile::EnsureOpen opens again by
// its path (with its block table and reading state kept) when it is needed.
//
// The program owns its pools and hands one to the files it opens for reading
// (RkFile::OpenFile); a pool may be shared by threads that read its files. A file in use
// (pinned: being read, or copied from by the kernel) is never chosen for closing; when
// every open file is in use, one more is opened beyond the capacity rather than one closed
// under its user. A pool outlives its files; one that goes first lets its files go, and
// they stay as they are (open, or closed until they are read again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace KivRkf {

class RkFile;

class OpenFilePool {
 public:
  // The descriptors left to everything else: the standard streams, the log, the output
  // and its temporary copies, and whatever the runtime keeps open.
  static constexpr std::size_t kReserved = 16;

  // capacity: as SetCapacity.
  explicit OpenFilePool(std::size_t capacity = 0);
  ~OpenFilePool();
  OpenFilePool(const OpenFilePool&) = delete;
  OpenFilePool& operator=(const OpenFilePool&) = delete;

  // How many reading files may be open at once: the soft open-file limit less kReserved
  // (at least 1), unless set.
  std::size_t Capacity() const;
  // Sets the capacity (0: from the limit again); returns the one set before (0 when none).
  std::size_t SetCapacity(std::size_t capacity);
  std::size_t OpenCount() const;

  // Whether file is open and in use by someone now.
  bool InUse(const RkFile* file) const;

  // The RkFile side. Opened: file was opened and is used now (pinned once more with pin);
  // it belongs to the pool until Closed.
  // Touch: when file is open, makes it the most recently used (and pins it with pin) and
  // returns true; false when the pool does not hold it open. Unpin undoes one pin.
  void Opened(RkFile* file, bool pin);
  bool Touch(RkFile* file, bool pin);
  void Unpin(const RkFile* file);
  // file is closed or forgotten, and leaves the pool: it must not be in use.
  void Closed(RkFile* file);
  // Closes the least recently used files other than keep, and not in use, until one more
  // may be opened.
  void MakeRoom(const RkFile* keep);
  // Closes the least recently used file other than keep, and not in use; false when there
  // is none.
  bool CloseOldest(const RkFile* keep);
  // Closes every file not in use, the most recently opened first: the C library finds each
  // stream it closes at the head of its list of open streams then, where closing thousands
  // in any other order costs time that grows with the square of their number. For the end
  // of a merge, before the inputs go.
  void CloseAllNewestFirst();

 private:
  struct Held {
    std::list<RkFile*>::iterator at;
    std::size_t uses = 0;
    std::uint64_t opened = 0;  // order of opening
  };
  std::size_t CapacityLocked() const;
  bool CloseOldestLocked(const RkFile* keep);

  mutable std::mutex mutex_;
  std::list<RkFile*> open_;  // most recently used first
  std::unordered_map<const RkFile*, Held> held_;
  std::unordered_set<RkFile*> members_;  // open or closed by the pool
  std::optional<std::size_t> capacity_;
  std::uint64_t openings_ = 0;
};

// Keeps a file opened for reading open while it is read: opens it again when its pool
// closed it, and pins it until the end of the scope. A null file, and one in no pool, is
// left alone.
class FileInUse {
 public:
  explicit FileInUse(RkFile* file);
  ~FileInUse();
  FileInUse(const FileInUse&) = delete;
  FileInUse& operator=(const FileInUse&) = delete;

 private:
  RkFile* file_;
  OpenFilePool* pool_ = nullptr;  // set when pinned
};

// Raises the soft open-file limit to the hard one, or to what the system allows when
// that is lower. A limit that cannot be raised stays as it is.
void RaiseOpenFileLimit();

}  // namespace KivRkf
