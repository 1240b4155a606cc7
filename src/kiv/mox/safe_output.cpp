#include "kiv/mox/safe_output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "kiv/log/raise.hpp"

namespace KivMox {

namespace {

const char* const kSave = "KivMox::Tree::Save";

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

}  // namespace

SafeOutput::SafeOutput(const std::string& path) : target_(FollowLinks(path)) {
  std::string name = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
  std::string pattern = DirectoryOf(target_) + "/." + name + ".moxsave-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0)
    KIV_RAISE(Miscellaneous, "Unable to open file \"" + path + "\": " + std::strerror(errno), kSave);
  close(fd);
  temporary_ = buf.data();
}

SafeOutput::~SafeOutput() {
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
}

void SafeOutput::Commit() {
  // A replaced file keeps its mode; a new one gets the usual mode under the umask.
  struct stat st;
  mode_t mode;
  if (stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  chmod(temporary_.c_str(), mode);
  if (rename(temporary_.c_str(), target_.c_str()) != 0)
    KIV_RAISE(WriteError,
              "Unable to write to file \"" + target_ + "\": " + std::strerror(errno), kSave);
  committed_ = true;
}

}  // namespace KivMox
