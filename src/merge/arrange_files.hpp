// Natural ordering of input paths (--arrange-files). A path names a numbered file of a
// family when, before the last ".mox" found anywhere in it, it ends in decimal digits
// that do not make up the whole name: "run10.mox" is member 10 of family "run", and so is
// "run10.mox.bak". "12.mox", "b.mox" and "run2.MOX" belong to no family.
//
// Order: every path keeps its slot in the list, except that the members of each family
// (same stem, same extension, non-empty digits) are redistributed over the slots that
// the family occupies, in ascending number; members of equal number keep their
// command-line order.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace MoxMerge {

inline constexpr std::uint64_t kUnparsedNumber = std::numeric_limits<std::uint64_t>::max();

struct FileEntry {
  std::string path;                        // the input path, unchanged
  std::string extension;                   // always ".mox"
  std::string stem;                        // path before the extension, less its digits
  std::string digits;                      // trailing digits cut from the stem, or empty
  std::uint64_t number = kUnparsedNumber;  // value of digits (all bits set on overflow)
  std::uint64_t position = 0;              // 0-based index in the input list
};

FileEntry MakeFileEntry(const std::string& path, std::uint64_t position);

// The same paths, each once, in natural order. Never fails; empty gives empty.
std::vector<std::string> ArrangeFiles(const std::vector<std::string>& paths);

}  // namespace MoxMerge
