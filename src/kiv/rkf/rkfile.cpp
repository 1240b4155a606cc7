// The container file: 8-byte magic, 4-byte version text ("1.3\0" when written here), then
// the primary index field at offset 12 and the blocks (block_table.hpp draws that part).
#include "kiv/rkf/rkfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kiv/log/log_manager.hpp"
#include "kiv/log/raise.hpp"
#include "kiv/log/record_hold.hpp"
#include "kiv/rkf/open_file_pool.hpp"

namespace KivRkf {

namespace {

constexpr long kVersionOffset = 8;
constexpr long kIndexLengthOffset = 12;
constexpr std::size_t kVersionLength = 4;

// Tenths of a version number: narrowed to single precision, widened again and nudged by
// 0.001 so that "1.3" counts 13; values outside the int range are clamped so that they
// still compare right.
int TenthsOf(double value) {
  if (std::isnan(value)) return 0;
  if (std::fabs(value) > FLT_MAX) return value > 0 ? INT_MAX : INT_MIN;
  double tenths = (static_cast<double>(static_cast<float>(value)) + 0.001) * 10.0;
  if (tenths >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (tenths <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(tenths);
}

// fopen, except that a file opened for reading is opened without waiting: a FIFO
// without a writer would otherwise block the open for ever (it is refused below, as it
// is no regular file).
std::FILE* OpenStream(const std::string& path, const char* mode) {
  if (mode[0] != 'r') return std::fopen(path.c_str(), mode);
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* stream =
      flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, mode) : nullptr;
  if (!stream) close(fd);
  return stream;
}

}  // namespace

int VersionNumber(const std::string& text) {
  return TenthsOf(std::strtod(text.c_str(), nullptr));
}

RkFile::~RkFile() {
  RkFile::CloseFile();
}

RkFile::Identity RkFile::IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev),
          static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec,
          st.st_ctim.tv_sec,
          st.st_ctim.tv_nsec};
}

std::FILE* RkFile::OpenPooled(const std::string& path, const char* mode) {
  if (pool_) pool_->MakeRoom(this);
  std::FILE* stream = OpenStream(path, mode);
  // Descriptors taken by others may leave fewer than the pool counts on.
  while (!stream && (errno == EMFILE || errno == ENFILE) && pool_ && pool_->CloseOldest(this))
    stream = OpenStream(path, mode);
  // Reads take whole blocks or a few bytes after a seek: a buffer of the C library's per
  // input would only cost memory (4 KiB each, for thousands of inputs).
  if (stream) std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

void RkFile::OpenFile(const std::string& path, const char* mode) {
  Open(path, mode, nullptr);
}

void RkFile::OpenFile(const std::string& path, const char* mode, OpenFilePool& pool) {
  Open(path, mode, &pool);
}

void RkFile::Open(const std::string& path, const char* mode, OpenFilePool* pool) {
  KIV_CHECK(!stream_ && !suspended_, Miscellaneous, "File stream is already in use",
            "KivRkf::RkFile::OpenFile");
  const std::string failed = "Unable to open file \"" + path + "\"";
  const bool reading = mode[0] == 'r';
  pool_ = reading ? pool : nullptr;
  std::FILE* stream = reading ? OpenPooled(path, mode) : OpenStream(path, mode);
  if (!stream) pool_ = nullptr;
  KIV_CHECK(stream, Miscellaneous, failed, "KivRkf::RkFile::OpenFile");
  // fopen accepts directories on this platform; only regular files are containers.
  struct stat st {};
  if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(stream);
    pool_ = nullptr;
    KIV_RAISE(Miscellaneous, failed, "KivRkf::RkFile::OpenFile");
  }
  stream_ = stream;
  if (!reading) return;
  Reader().SetStream(stream_);
  readPath_ = path;
  identity_ = IdentityOf(st);
  if (pool_) pool_->Opened(this, false);
}

bool RkFile::Use(bool pin) {
  // Only the pool closes a reading file behind its owner's back, and only under its lock:
  // once Touch finds the file gone, it is closed for good until it is opened here.
  if (readPath_.empty()) return false;
  if (pool_ && pool_->Touch(this, pin)) return pin;
  if (!suspended_) return false;
  const std::string changed = "The file \"" + readPath_ + "\" changed while it was in use";
  std::FILE* stream = OpenPooled(readPath_, "rb");
  KIV_CHECK(stream || (errno != EMFILE && errno != ENFILE), Miscellaneous,
            "Unable to open file \"" + readPath_ + "\"", "KivRkf::RkFile::EnsureOpen");
  struct stat st {};
  if (!stream || fstat(fileno(stream), &st) != 0 || !(IdentityOf(st) == identity_)) {
    if (stream) std::fclose(stream);
    KIV_RAISE(ReadError, changed, "KivRkf::RkFile::EnsureOpen");
  }
  stream_ = stream;
  suspended_ = false;
  Reader().SetStream(stream_);
  if (!pool_) return false;  // its pool went while the file was closed
  pool_->Opened(this, pin);
  return pin;
}

void RkFile::Suspend() {
  if (!stream_) return;
  std::fclose(stream_);
  stream_ = nullptr;
  suspended_ = true;
  Reader().SetStream(nullptr);
}

void RkFile::AttachStream(std::FILE* stream) {
  KIV_CHECK(!stream_, Miscellaneous, "File stream is already in use", "KivRkf::RkFile::OpenFile");
  stream_ = stream;
}

void RkFile::CloseFile() {
  KIV_LOG_INFO("KivRkf::RkFile::CloseFile", "Closing file ...");
  if (!readPath_.empty() && pool_) pool_->Closed(this);
  pool_ = nullptr;
  readPath_.clear();
  // A file the pool closed is still open to its readers: closing it ends it as any other.
  const bool suspended = suspended_;
  suspended_ = false;
  if (suspended && !stream_) {
    Reader().SetStream(nullptr);
    KIV_LOG_INFO("KivRkf::RkFile::CloseFile", "File closed.");
    return;
  }
  if (!stream_) return;
  // A block still being written on the second thread finishes before its stream goes.
  if (writer_) writer_->DropPendingWrite();
  std::fclose(stream_);
  stream_ = nullptr;
  if (reader_) reader_->SetStream(nullptr);
  KIV_LOG_INFO("KivRkf::RkFile::CloseFile", "File closed.");
}

bool RkFile::IsContainerFile() {
  std::uint8_t head[sizeof kMagic] = {};
  if (!stream_) return false;
  std::fseek(stream_, 0, SEEK_SET);
  if (std::fread(head, 1, sizeof head, stream_) != sizeof head) return false;
  return std::equal(std::begin(head), std::end(head), std::begin(kMagic));
}

std::string RkFile::ReadVersion() {
  char text[kVersionLength] = {};
  KIV_CHECK(stream_, ReadError, "Unable to read from file", "KivRkf::RkFile::ReadVersion");
  std::fseek(stream_, kVersionOffset, SEEK_SET);
  // A file that ends inside the field has no version; bytes that never arrived are not text.
  KIV_CHECK(std::fread(text, 1, sizeof text, stream_) == sizeof text, ReadError,
            "Unable to read from file", "KivRkf::RkFile::ReadVersion");
  return std::string(text, strnlen(text, sizeof text));
}

void RkFile::CheckSupport(const std::string& version, bool& wide) {
  const int v = VersionNumber(version);
  const int supported = VersionNumber(kWrittenVersion);
  wide = v > 6;
  if (v <= supported) return;
  KIV_RAISE(UnknownVersion,
            "This file is of mox file version " + std::to_string(v) +
                ".\nThis version of Tessara only supports mox file version upto " +
                std::to_string(supported) + ".\n",
            "KivRkf::RkFile::CheckSupport");
}

void RkFile::ReadIndex(OnCut onCut) {
  KIV_LOG_INFO("KivRkf::RkFile::ReadIndex", "Reading index positions ... ");
  KIV_CHECK(stream_, ReadError, "Unable to read from file", "KivRkf::RkFile::ReadIndex");
  std::fseek(stream_, kIndexLengthOffset, SEEK_SET);
  Block field;
  field.Read(stream_, sizeof(std::uint32_t));
  std::uint32_t length = 0;
  field.Get(length);
  Reader().ReadIndexBufferFromFileStream(stream_, length);
  const std::optional<FileCut>& cut = Reader().Cut();
  KIV_CHECK(!cut || onCut == OnCut::Keep, ReadError,
            "\"" + readPath_ + "\" is cut short: " + (cut ? cut->Describe() : std::string()),
            "KivRkf::RkFile::ReadIndex");
  KIV_LOG_INFO("KivRkf::RkFile::ReadIndex", "Index read. ");
}

void RkFile::EnsureIndex() {
  if (indexRecords_) {
    const std::vector<Kiv::Util::LogRecord> records = std::move(*indexRecords_);
    indexRecords_.reset();
    Kiv::Log::PublishHeld(records);
    return;
  }
  if (Reader().Table().Blocks().empty()) ReadIndex();
}

void RkFile::SetIndexReadAhead(std::vector<Kiv::Util::LogRecord> records) {
  indexRecords_ = std::move(records);
}

IndexReader& RkFile::Reader() {
  if (!reader_) reader_ = std::make_unique<IndexReader>();
  return *reader_;
}

IndexWriter& RkFile::Writer() {
  if (!writer_) writer_ = std::make_unique<IndexWriter>();
  return *writer_;
}

void RkFile::WriteHeader() {
  static constexpr char kVersionField[kVersionLength] = {'1', '.', '3', '\0'};
  KIV_CHECK(stream_, WriteError, "Unable to write to file", "KivRkf::RkFile::WriteHeader");
  std::fseek(stream_, 0, SEEK_SET);
  KIV_CHECK(
      std::fwrite(kMagic, 1, sizeof kMagic, stream_) == sizeof kMagic &&
          std::fwrite(kVersionField, 1, sizeof kVersionField, stream_) == sizeof kVersionField,
      WriteError, "Unable to write to file", "KivRkf::RkFile::WriteHeader");
}

}  // namespace KivRkf
