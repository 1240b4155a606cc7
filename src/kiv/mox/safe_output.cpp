#include "kiv/mox/safe_output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "kiv/log/raise.hpp"
#include "kiv/util/interrupts.hpp"

namespace KivMox {

namespace {

const char* const kSave = "KivMox::Tree::Save";

// The temporary file of the save under way, for the signal handler: set while the
// interrupt signals are blocked, cleared before the string it points to goes away.
std::atomic<const char*> pendingTemporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void RemovePendingAndRaise(int signal) {
  if (const char* path = pendingTemporary.load()) unlink(path);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  sigaction(signal, &defaults, nullptr);
  // Pending while this handler runs; it ends the process with the signal on return.
  raise(signal);
}

// Follows symbolic links from path to the file they finally name (which need not exist).
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink(path.c_str(), buf.data(), PATH_MAX);
    if (n <= 0) return path;
    std::string target(buf.data(), std::size_t(n));
    path = target[0] == '/' ? target : DirectoryOf(path) + "/" + target;
  }
  return path;
}

bool IsDevice(const struct stat& st) {
  return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
}

[[noreturn]] void RaiseOpenFailure(const std::string& path, int error) {
  KIV_RAISE(Miscellaneous, "Unable to open file \"" + path + "\": " + std::strerror(error), kSave);
}

// A new file's mode: the usual 0666 under the umask.
mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::size_t NameLimit(const std::string& directory) {
  const long limit = pathconf(directory.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

std::string TemporaryName(const std::string& name, std::size_t limit) {
  static const std::string kSuffix = ".moxsave-XXXXXX";
  std::size_t keep = name.size();
  if (1 + keep + kSuffix.size() > limit) {
    keep = limit > 1 + kSuffix.size() ? limit - 1 - kSuffix.size() : 0;
    // Not inside a UTF-8 sequence: continuation bytes are 10xxxxxx.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  }
  return "." + name.substr(0, keep) + kSuffix;
}

void InstallInterruptCleanup() {
  for (int signal : Kiv::Util::kInterruptSignals) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndRaise;
    sigemptyset(&action.sa_mask);
    for (int other : Kiv::Util::kInterruptSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

void SafeOutput::CheckTarget(const std::string& path, bool readBack) {
  struct stat st;
  if (stat(FollowLinks(path).c_str(), &st) != 0) return;
  KIV_CHECK(!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode), Miscellaneous,
            "Unable to write to \"" + path +
                "\": a FIFO or a socket cannot hold a Mox file, which is written with seeks",
            kSave);
  KIV_CHECK(
      !readBack || !IsDevice(st), Miscellaneous,
      "Unable to write to \"" + path + "\": a device cannot be read back to add the view points",
      kSave);
}

SafeOutput::SafeOutput(const std::string& path, const std::vector<FileIdentity>& inputs,
                       bool followLinks)
    : path_(path), target_(followLinks ? FollowLinks(path) : path) {
  if (followLinks) CheckTarget(path, false);
  struct stat st;
  const bool exists = (followLinks ? stat(target_.c_str(), &st) : lstat(target_.c_str(), &st)) == 0;
  replacesLink_ = exists && S_ISLNK(st.st_mode);
  if (exists && IsDevice(st)) {
    mode_ = Mode::Device;
    fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) RaiseOpenFailure(path, errno);
    return;
  }
  std::string name =
      target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
  const std::string directory = DirectoryOf(target_);
  std::string pattern = directory + "/" + TemporaryName(name, NameLimit(directory));
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  {
    // The handler must know the file from the moment it exists.
    Kiv::Util::InterruptsBlocked blocked;
    fd_ = mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      temporary_ = buf.data();
      pendingTemporary.store(temporary_.c_str());
      return;
    }
  }
  const int error = errno;
  const FileIdentity self{exists ? st.st_dev : 0, exists ? st.st_ino : 0};
  const bool isInput = std::find(inputs.begin(), inputs.end(), self) != inputs.end();
  if ((error != EACCES && error != EPERM) || !exists || !S_ISREG(st.st_mode) || isInput ||
      access(target_.c_str(), W_OK) != 0)
    RaiseOpenFailure(path, error);
  // No file may be created beside the output, but the output itself may be written.
  mode_ = Mode::InPlace;
  fd_ = open(target_.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
  if (fd_ < 0) RaiseOpenFailure(path, errno);
}

SafeOutput::~SafeOutput() {
  if (fd_ >= 0) close(fd_);
  if (mode_ != Mode::Replace || committed_ || temporary_.empty()) return;
  unlink(temporary_.c_str());
  pendingTemporary.store(nullptr);
}

std::FILE* SafeOutput::TakeStream() {
  std::FILE* stream = fdopen(fd_, mode_ == Mode::Device ? "wb" : "wb+");
  if (!stream) RaiseOpenFailure(path_, errno);
  fd_ = -1;
  return stream;
}

void SafeOutput::Finish(std::FILE* stream) {
  bool written = std::fflush(stream) == 0 && !std::ferror(stream);
  // A device is written as it stands: a null device refuses fsync.
  if (written && mode_ != Mode::Device) written = fsync(fileno(stream)) == 0;
  if (written && mode_ == Mode::Replace) {
    // A replaced file keeps its mode; a new one gets the usual mode under the umask.
    struct stat st;
    const bool replaced = !replacesLink_ && stat(target_.c_str(), &st) == 0;
    written = fchmod(fileno(stream), replaced ? st.st_mode & 07777 : NewFileMode()) == 0;
  }
  KIV_CHECK(written, WriteError, "Unable to write to file", kSave);
}

void SafeOutput::Commit() {
  if (mode_ != Mode::Replace) {
    committed_ = true;
    return;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0)
    KIV_RAISE(WriteError, "Unable to write to file \"" + target_ + "\": " + std::strerror(errno),
              kSave);
  committed_ = true;
  pendingTemporary.store(nullptr);
  // The new name is durable only once the directory is synced.
  const std::string directory = DirectoryOf(target_);
  const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int error = dir < 0 ? errno : 0;
  if (dir >= 0 && fsync(dir) != 0) error = errno;
  if (dir >= 0) close(dir);
  KIV_CHECK(error == 0 || error == EINVAL, WriteError,
            "Unable to sync directory \"" + directory + "\": " + std::strerror(error) + "; \"" +
                target_ + "\" is complete but may not survive a power loss",
            kSave);
}

}  // namespace KivMox
