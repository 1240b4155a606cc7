// KivRkf::RkFile: a container file on disk, one C stream and its block index.
//
//   offset 0   8 bytes  magic 89 52 4B 46 0D 0A 1A 0A
//   offset 8   4 bytes  version text, zero padded ("1.3\0" when written here)
//   offset 12  the primary index field, then the blocks (block_table.hpp)
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"
#include "kiv/util/log_record.hpp"

namespace KivRkf {

class OpenFilePool;

inline constexpr std::uint8_t kMagic[8] = {0x89, 0x52, 0x4B, 0x46, 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr const char* kWrittenVersion = "1.3";

// A version text as a number of tenths: "1.3" -> 13, "0.6" -> 6; text that does not
// convert gives 0.
int VersionNumber(const std::string& text);

// What ReadIndex does with a file that ends before the blocks its table describes.
enum class OnCut {
  Refuse,  // raise code 9 naming the file and both lengths
  Keep,    // keep the table as read; Reader().Cut() tells where the file ends
};

class RkFile {
 public:
  RkFile() = default;
  virtual ~RkFile();
  RkFile(const RkFile&) = delete;
  RkFile& operator=(const RkFile&) = delete;

  virtual void CloseFile();
  // Opens path with the C library's mode text ("rb", "wb+"). A file opened for reading
  // stays open until it is closed.
  void OpenFile(const std::string& path, const char* mode);
  // A file opened for reading joins pool, which may close it again while it is not used;
  // EnsureOpen opens it again before its reader reads from it. The pool is to outlive the
  // file (or at least its reading).
  void OpenFile(const std::string& path, const char* mode, OpenFilePool& pool);
  // Takes a stream opened for writing (a file or a device); CloseFile closes it.
  void AttachStream(std::FILE* stream);
  // Opens a file the pool closed again, by its path, keeping the block table and what was
  // read. Raises code 9 when the file on disk is no longer the one opened first (another
  // device, inode, size, modification or status-change time). Without a pin another
  // thread's file may close it at once: readers that share the pool use FileInUse.
  void EnsureOpen() { Use(false); }
  // EnsureOpen; with pin, the pool also keeps the file open until OpenFilePool::Unpin.
  // True when it was pinned (a file opened for reading in a pool).
  bool Use(bool pin);
  // The pool the file was opened in, or null.
  OpenFilePool* Pool() const { return pool_; }
  bool IsContainerFile();
  // The version text at offset 8, up to the first zero byte (at most 4 characters).
  std::string ReadVersion();
  // Raises code 2 for versions above 1.3; wide is set for versions above 0.6.
  void CheckSupport(const std::string& version, bool& wide);
  // Reads the block table; a cut file is refused (or kept, see OnCut) before any block of
  // it is read. Bytes after the last block are allowed.
  void ReadIndex(OnCut onCut = OnCut::Refuse);
  // Reads the table when it is still empty.
  void EnsureIndex();
  // For a file whose table was read ahead on another thread, with the records that reading
  // published there held (Kiv::Log::RecordHold): the next EnsureIndex publishes them in
  // place of reading the table, so the log shows them where the reading would have.
  void SetIndexReadAhead(std::vector<Kiv::Util::LogRecord> records);
  void SetBlockFlags(const std::string& name, std::uint8_t flags) {
    Writer().SetBlockFlags(name, flags);
  }
  // Writes the magic and "1.3" at the start of a file opened for writing.
  void WriteHeader();

  std::FILE* Stream() const { return stream_; }
  // The reader of a file opened for reading, and the writer of a file written: each made
  // when first asked for, and kept when the file is closed.
  IndexReader& Reader();
  IndexWriter& Writer();
  bool IsOpen() const { return stream_ != nullptr; }

 private:
  friend class OpenFilePool;
  // What tells a file on disk from a replaced or changed one.
  struct Identity {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
    bool operator==(const Identity&) const = default;
  };
  static Identity IdentityOf(const struct stat& st);
  // Closes the stream of a file opened for reading; the reader keeps its state.
  void Suspend();
  void Open(const std::string& path, const char* mode, OpenFilePool* pool);
  // Opens path for reading, closing files of the pool while descriptors run out.
  std::FILE* OpenPooled(const std::string& path, const char* mode);

  std::FILE* stream_ = nullptr;
  OpenFilePool* pool_ = nullptr;
  std::unique_ptr<IndexReader> reader_;
  std::unique_ptr<IndexWriter> writer_;
  // Set while the file is open for reading, or closed by the pool.
  std::string readPath_;
  Identity identity_;
  bool suspended_ = false;
  std::optional<std::vector<Kiv::Util::LogRecord>> indexRecords_;
};

}  // namespace KivRkf
