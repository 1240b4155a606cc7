// What moxinfo --check found in a file: problems (damage: what a reader refuses or what
// loses data) and warnings (what the readers accept but a user should know), each with
// where it lies, and counts of what was checked; printed as text or as one JSON document.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace MoxTools {

struct Finding {
  std::string where, what;
};

struct CheckReport {
  std::string file;
  std::vector<Finding> problems, warnings;
  std::uint64_t blocks = 0, nodes = 0, arrays = 0, nodeSetRecords = 0, historyRecords = 0,
                viewPoints = 0;
  // Bytes of sound "Heavy Data" blocks that no record references (a merge that adopts its
  // inputs' blocks keeps their node sets' bytes there): neither damage nor a loss, counted.
  std::uint64_t unreferencedHeavyBytes = 0;

  void Problem(std::string where, std::string what) {
    problems.push_back({std::move(where), std::move(what)});
  }
  void Warning(std::string where, std::string what) {
    warnings.push_back({std::move(where), std::move(what)});
  }
  // Sound: no problem, and with strict no warning either.
  bool Sound(bool strict) const { return problems.empty() && (!strict || warnings.empty()); }
  // "<file>: sound; checked 24 blocks, ...; 0 bytes of heavy data unreferenced; 0 problems,
  // 1 warning" or "<file>: damaged; checked ...".
  std::string Summary(bool strict) const;
};

// One line per problem ("problem: <where>: <what>"), per warning ("warning: ..."), then the
// summary line.
void PrintCheckReport(const CheckReport& report, bool strict, std::ostream& out);
// {"file", "sound", "problems": [{"where", "what"}], "warnings": [...],
//  "unreferencedHeavyBytes", "summary"}.
nlohmann::ordered_json CheckReportJson(const CheckReport& report, bool strict);

// Places in a file, as reports name them (texts from the file through Quoted).
std::string SectionWhere(const std::string& section);
std::string BlockWhere(const std::string& section, std::size_t nth, std::uint64_t block);
std::string NodeWhere(std::uint32_t id, const std::string& name);
std::string ArrayWhere(std::uint32_t id, const std::string& nodeName, std::size_t index,
                       const std::string& arrayName);

}  // namespace MoxTools
