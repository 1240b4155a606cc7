// Copying a range of bytes from one open file to another without a buffer of the range's
// size: by the kernel (copy_file_range) where the two files allow it, else by pread and
// pwrite in chunks of a few MiB. File offsets of both descriptors are left as they are.
#pragma once

#include <cstdint>

namespace KivRkf {

enum class CopyOutcome { Done, ReadFailed, WriteFailed };

// Copies size bytes at fromOffset of from to toOffset of to. ReadFailed: the source failed
// or ended before size bytes; WriteFailed: the destination failed (a full disk, a file
// size limit). Either leaves the destination partly written.
CopyOutcome CopyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                      std::uint64_t size);

// CopyRange, raising code 9 "Unable to read from file" or code 10 "Unable to write to file".
void CopyRangeOrRaise(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                      std::uint64_t size);

// Whether CopyRange tries the kernel copy first (true by default). Tests switch it off to
// take the pread/pwrite path that serves files the kernel cannot copy between.
void SetKernelCopy(bool enabled);

}  // namespace KivRkf
