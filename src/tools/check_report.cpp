#include "tools/check_report.hpp"

#include <nlohmann/json.hpp>

#include "kiv/util/display_text.hpp"

namespace MoxTools {

using Kiv::Util::Quoted;

namespace {

std::string Count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

nlohmann::ordered_json FindingsJson(const std::vector<Finding>& findings) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Finding& f : findings) list.push_back({{"where", f.where}, {"what", f.what}});
  return list;
}

}  // namespace

std::string CheckReport::Summary(bool strict) const {
  std::string text = file + (Sound(strict) ? ": sound" : ": damaged") + "; checked " +
                     Count(blocks, "block", "blocks") + ", " + Count(nodes, "node", "nodes") +
                     ", " + Count(arrays, "array", "arrays") + ", " +
                     Count(nodeSetRecords, "node-set record", "node-set records") + ", " +
                     Count(historyRecords, "history record", "history records") + ", " +
                     Count(viewPoints, "view point", "view points") + "; " +
                     Count(unreferencedHeavyBytes, "byte", "bytes") +
                     " of heavy data unreferenced; " +
                     Count(problems.size(), "problem", "problems") + ", " +
                     Count(warnings.size(), "warning", "warnings");
  return text;
}

void PrintCheckReport(const CheckReport& report, bool strict, std::ostream& out) {
  for (const Finding& f : report.problems) out << "problem: " << f.where << ": " << f.what << "\n";
  for (const Finding& f : report.warnings) out << "warning: " << f.where << ": " << f.what << "\n";
  out << report.Summary(strict) << "\n";
}

nlohmann::ordered_json CheckReportJson(const CheckReport& report, bool strict) {
  return {{"file", report.file},
          {"sound", report.Sound(strict)},
          {"problems", FindingsJson(report.problems)},
          {"warnings", FindingsJson(report.warnings)},
          {"unreferencedHeavyBytes", report.unreferencedHeavyBytes},
          {"summary", report.Summary(strict)}};
}

std::string SectionWhere(const std::string& section) {
  return "section " + Quoted(section);
}

std::string BlockWhere(const std::string& section, std::size_t nth, std::uint64_t block) {
  return SectionWhere(section) + " block " + std::to_string(nth) + " (block " +
         std::to_string(block) + " of the file)";
}

std::string NodeWhere(std::uint32_t id, const std::string& name) {
  return "node " + std::to_string(id) + " " + Quoted(name);
}

std::string ArrayWhere(std::uint32_t id, const std::string& nodeName, std::size_t index,
                       const std::string& arrayName) {
  return NodeWhere(id, nodeName) + " array " + std::to_string(index) + " " + Quoted(arrayName);
}

}  // namespace MoxTools
