#include "tools/node_set_check.hpp"

namespace MoxTools {

namespace {

// kind is "name" or "member"; end is where the last offset must stand, told as endText.
void CheckOffsets(const std::vector<std::uint32_t>& offsets, std::uint32_t count,
                  const std::string& kind, std::uint64_t end, const std::string& endText,
                  std::vector<std::string>& faults) {
  if (offsets.size() != std::uint64_t{count} + 1) {
    faults.push_back("it has " + std::to_string(offsets.size()) + " " + kind + " offsets for " +
                     std::to_string(count) + " sets (" + std::to_string(std::uint64_t{count} + 1) +
                     " expected)");
    return;
  }
  if (offsets.front() != 0)
    faults.push_back("its first " + kind + " offset is " + std::to_string(offsets.front()) +
                     ", not 0");
  for (std::size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] < offsets[i - 1]) {
      faults.push_back("its " + kind + " offsets decrease at entry " + std::to_string(i) + " (" +
                       std::to_string(offsets[i - 1]) + ", then " + std::to_string(offsets[i]) +
                       ")");
      break;
    }
  if (offsets.back() != end)
    faults.push_back("its last " + kind + " offset is " + std::to_string(offsets.back()) +
                     ", but " + endText);
}

}  // namespace

std::vector<std::string> NodeSetListFaults(const KivMox::NodeSetLists& lists, std::uint32_t count) {
  std::vector<std::string> faults;
  CheckOffsets(lists.nameOffsets, count, "name", lists.names.size(),
               "the joined names have " + std::to_string(lists.names.size()) + " bytes", faults);
  if (lists.firsts.size() != lists.seconds.size())
    faults.push_back("its member lists hold " + std::to_string(lists.firsts.size()) +
                     " first and " + std::to_string(lists.seconds.size()) + " second values");
  CheckOffsets(lists.memberOffsets, count, "member", lists.firsts.size(),
               "the member lists hold " + std::to_string(lists.firsts.size()) + " values", faults);
  return faults;
}

}  // namespace MoxTools
