// Where a save writes. A regular output is never written in place: the save goes to a new
// temporary file with a unique name in the output's directory, which replaces the output
// path only once it is complete, synced and closed; the directory is synced after the
// rename. On any failure the temporary file is removed and a file already standing at the
// output path is left untouched. When the output path is a symbolic link, the file it
// points to is replaced and the link stays; a hard-linked output gets a new file at its
// path while its other links keep the old one.
//
// Two outputs cannot be replaced that way:
//  - a character or block device is opened and written as it stands (nothing synced,
//    nothing removed);
//  - an existing regular file that the user may write, in a directory where no file may
//    be created (EACCES, EPERM), is truncated and written in place, unless it is one of
//    the files the tree was read from. A failure then leaves it incomplete.
// A FIFO or a socket cannot hold a container (its blocks are placed by seeks): refused.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace KivMox {

// A file by device and inode.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& other) const = default;
};

class SafeOutput {
 public:
  enum class Mode { Replace, Device, InPlace };

  // Raises when path names a FIFO or a socket, or (readBack) a device, which cannot be
  // read back after it is written. Meant to run before any input is read.
  static void CheckTarget(const std::string& path, bool readBack);

  // Prepares the output; inputs are the files the tree still reads from, which are never
  // written in place. Without followLinks, a symbolic link at path is itself replaced.
  SafeOutput(const std::string& path, const std::vector<FileIdentity>& inputs = {},
             bool followLinks = true);
  ~SafeOutput();  // removes the temporary file unless Commit succeeded
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;

  Mode GetMode() const { return mode_; }
  // The stream to write the container to; the caller closes it (once Finish succeeded).
  std::FILE* TakeStream();
  // Flushes the written stream and makes it durable (except on a device); a temporary
  // file gets its final mode here. Raises code 10 on failure.
  void Finish(std::FILE* stream);
  // Renames the temporary file over the target and syncs the directory.
  void Commit();
  // The temporary file ("" unless Mode::Replace).
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  std::string path_;
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  Mode mode_ = Mode::Replace;
  bool committed_ = false;
  bool replacesLink_ = false;
};

// The longest file name that the directory takes (_PC_NAME_MAX; 255 where it cannot tell).
std::size_t NameLimit(const std::string& directory);
// The directory part of a path ("." for a bare name).
std::string DirectoryOf(const std::string& path);
// The hidden name "." + name + ".moxsave-XXXXXX" of a save's temporary file, with the copy
// of name cut (at a character boundary) so that the whole fits within limit bytes.
std::string TemporaryName(const std::string& name, std::size_t limit);

// Removes the temporary file of a save under way when SIGINT, SIGTERM or SIGHUP ends the
// process, which then ends by the signal as it would have. Signals that were ignored when
// this is called stay ignored.
void InstallInterruptCleanup();
}  // namespace KivMox
