// Natural ordering of input paths: splitting a path into stem, digits and number, and
// sorting each numbered family within the slots it occupies.
#include "merge/arrange_files.hpp"

#include <algorithm>
#include <locale>
#include <map>
#include <sstream>
#include <utility>

namespace MoxMerge {

namespace {

const char kExtension[] = ".mox";
const char kDigits[] = "0123456789";

// The value of a run of decimal digits as a stream extraction gives it: the largest
// unsigned 64-bit value when it does not fit.
std::uint64_t ParseNumber(const std::string& digits) {
  std::istringstream in(digits);
  in.imbue(std::locale::classic());
  std::uint64_t value = kUnparsedNumber;
  in >> value;
  return value;
}

}  // namespace

FileEntry MakeFileEntry(const std::string& path, std::uint64_t position) {
  FileEntry entry;
  entry.path = path;
  entry.extension = kExtension;
  entry.stem = path;
  entry.position = position;

  std::size_t found = entry.stem.rfind(entry.extension);
  if (found != std::string::npos) entry.stem.resize(found);
  if (entry.stem.empty()) return entry;

  std::size_t lastNonDigit = entry.stem.find_last_not_of(kDigits);
  if (lastNonDigit == std::string::npos) return entry;  // all digits: not split

  std::size_t cut = lastNonDigit + 1;
  entry.digits = entry.stem.substr(cut);
  entry.stem.resize(cut);
  if (!entry.digits.empty()) entry.number = ParseNumber(entry.digits);
  return entry;
}

std::vector<std::string> ArrangeFiles(const std::vector<std::string>& paths) {
  std::vector<FileEntry> entries;
  entries.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) entries.push_back(MakeFileEntry(paths[i], i));

  // Slots of each family, in ascending order (the entries are visited in list order).
  std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> families;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].digits.empty()) continue;
    families[{entries[i].stem, entries[i].extension}].push_back(i);
  }

  std::vector<std::string> result = paths;
  for (const auto& [key, slots] : families) {
    std::vector<std::size_t> members = slots;
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
      return entries[a].number < entries[b].number;
    });
    for (std::size_t k = 0; k < slots.size(); ++k) result[slots[k]] = entries[members[k]].path;
  }
  return result;
}

}  // namespace MoxMerge
