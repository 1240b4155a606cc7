#include "merge/file_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kiv/rkf/range_copy.hpp"

namespace MoxMerge {

bool CopyFile(const std::string& source, const std::string& destination) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  int out = open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    close(in);
    return false;
  }
  // By the kernel where it can (no bytes through this process), else in chunks.
  bool ok = KivRkf::CopyRange(in, 0, out, 0, static_cast<std::uint64_t>(st.st_size)) ==
            KivRkf::CopyOutcome::Done;
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) unlink(destination.c_str());
  return ok;
}

}  // namespace MoxMerge
