// Comparison of save histories (history_compare.hpp).
#include "diff/history_compare.hpp"

#include <algorithm>

namespace MoxDiff {

void CompareHistories(const std::vector<KivMox::GlobalInfoRecord>& left,
                      const std::vector<KivMox::GlobalInfoRecord>& right, bool versions,
                      Fields& f) {
  f.Integer("record count", left.size(), right.size());
  const std::size_t n = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < n; ++i) {
    const KivMox::GlobalInfoRecord& a = left[i];
    const KivMox::GlobalInfoRecord& b = right[i];
    const std::string p = "record " + std::to_string(i + 1) + " ";
    f.Text(p + "application name", a.applicationName, b.applicationName);
    f.Text(p + "application version", a.applicationVersion, b.applicationVersion);
    f.Text(p + "format version", a.formatVersion, b.formatVersion);
    f.Text(p + "save time", a.saveTime, b.saveTime);
    f.Text(p + "computer name", a.computerName, b.computerName);
    f.Text(p + "user name", a.userName, b.userName);
    f.Text(p + "caller text", a.callerText, b.callerText);
    if (versions) f.Text(p + "record version", a.storedVersion, b.storedVersion);
  }
}

}  // namespace MoxDiff
