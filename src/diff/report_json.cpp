// The JSON report of a comparison (report_json.hpp).
#include "diff/report_json.hpp"

#include <charconv>
#include <cmath>

#include "diff/fields.hpp"
#include "diff/report_text.hpp"

namespace MoxDiff {

namespace {

using json = nlohmann::ordered_json;

json DifferencesJson(const std::vector<Difference>& differences) {
  json list = json::array();
  for (const Difference& d : differences)
    list.push_back({{"field", d.field}, {"left", d.left}, {"right", d.right}});
  return list;
}

// A float as the number its shortest text reads as (so 0.1f is 0.1, not its double).
json WordJson(std::uint32_t word, bool integers) {
  if (integers) return static_cast<std::int32_t>(word);
  const float value = FloatOf(word);
  if (!std::isfinite(value)) return WordText(word, false);
  const std::string text = FloatText(value);
  double number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

json StatisticJson(double value) {
  if (std::isinf(value)) return "inf";
  return value;
}

json ArrayJson(const ArrayValueDiff& a) {
  json first = json::array();
  for (const ValuePlace& p : a.first)
    first.push_back({{"index", p.index},
                     {"left", WordJson(p.left, a.integers)},
                     {"right", WordJson(p.right, a.integers)}});
  return {{"index", a.index},
          {"name", a.name},
          {"integers", a.integers},
          {"compared", a.compared},
          {"differing", a.differing},
          {"largestAbsolute", StatisticJson(a.largestAbsolute)},
          {"largestRelative", StatisticJson(a.largestRelative)},
          {"first", std::move(first)}};
}

json IdJson(std::uint32_t id) {
  return id ? json(id) : json(nullptr);
}

}  // namespace

json ReportJson(const DiffResult& result) {
  json nodes = json::array();
  for (const NodeDiff& node : result.nodes) {
    json arrays = json::array();
    for (const ArrayValueDiff& a : node.arrays) arrays.push_back(ArrayJson(a));
    nodes.push_back({{"path", node.path},
                     {"leftId", IdJson(node.leftId)},
                     {"rightId", IdJson(node.rightId)},
                     {"name", node.name},
                     {"differences", DifferencesJson(node.differences)},
                     {"arrays", std::move(arrays)}});
  }
  json doc = {{"left", {{"file", result.leftFile}, {"root", result.leftRoot}}},
              {"right", {{"file", result.rightFile}, {"root", result.rightRoot}}},
              {"equal", result.Equal()},
              {"container", DifferencesJson(result.container)}};
  doc["nodes"] = std::move(nodes);
  doc["history"] = result.historyCompared ? DifferencesJson(result.history) : json(nullptr);
  doc["viewPoints"] =
      result.viewPointsCompared ? DifferencesJson(result.viewPoints) : json(nullptr);
  doc["summary"] = {{"differences", result.DifferenceCount()},
                    {"nodesWithDifferences", result.nodes.size()},
                    {"nodePairs", result.nodePairs},
                    {"arrayPairs", result.arrayPairs},
                    {"valuesCompared", result.valuesCompared}};
  return doc;
}

}  // namespace MoxDiff
