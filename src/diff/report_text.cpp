// The human report of a comparison (report_text.hpp).
#include "diff/report_text.hpp"

#include <charconv>
#include <cmath>

#include "diff/fields.hpp"
#include "kiv/util/display_text.hpp"

namespace MoxDiff {

namespace {

std::string IdText(std::uint32_t id) {
  return id ? std::to_string(id) : "-";
}

void PrintDifferences(const std::vector<Difference>& differences, std::ostream& out) {
  for (const Difference& d : differences)
    out << "  " << d.field << ": " << d.left << " | " << d.right << '\n';
}

void PrintArray(const ArrayValueDiff& a, std::ostream& out) {
  out << "  array " << a.index << " \"" << a.name << "\" values: " << a.differing << " of "
      << a.compared << " differ, largest difference " << StatisticText(a.largestAbsolute)
      << " (relative " << StatisticText(a.largestRelative) << ")\n";
  for (const ValuePlace& place : a.first)
    out << "    " << place.index << ": " << WordText(place.left, a.integers) << ' '
        << WordText(place.right, a.integers) << '\n';
}

void PrintSection(const char* heading, const std::vector<Difference>& differences,
                  std::ostream& out) {
  if (differences.empty()) return;
  out << heading << ":\n";
  PrintDifferences(differences, out);
}

}  // namespace

std::string WordText(std::uint32_t word, bool integers) {
  if (integers) return std::to_string(static_cast<std::int32_t>(word));
  return FloatText(FloatOf(word));
}

std::string StatisticText(double value) {
  if (std::isinf(value)) return "inf";
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

std::string SummaryLine(const DiffResult& result) {
  const std::uint64_t n = result.DifferenceCount();
  std::string line = "Summary: ";
  line += n == 0 ? "equal" : std::to_string(n) + (n == 1 ? " difference" : " differences");
  line += " (" + std::to_string(result.nodePairs) + " node pairs, " +
          std::to_string(result.arrayPairs) + " array pairs, " +
          std::to_string(result.valuesCompared) + " values compared";
  if (!result.historyCompared && !result.viewPointsCompared)
    line += "; history and view points not compared";
  else if (!result.historyCompared)
    line += "; history not compared";
  else if (!result.viewPointsCompared)
    line += "; view points not compared";
  return line + ")";
}

void PrintReport(const DiffResult& result, bool brief, std::ostream& out) {
  if (!brief) {
    PrintSection("Container", result.container, out);
    for (const NodeDiff& node : result.nodes) {
      out << "Node " << node.path << " (left " << IdText(node.leftId) << ", right "
          << IdText(node.rightId) << ") \"" << node.name << "\":\n";
      PrintDifferences(node.differences, out);
      for (const ArrayValueDiff& a : node.arrays) PrintArray(a, out);
    }
    PrintSection("History", result.history, out);
    PrintSection("View points", result.viewPoints, out);
  }
  out << SummaryLine(result) << '\n';
}

}  // namespace MoxDiff
