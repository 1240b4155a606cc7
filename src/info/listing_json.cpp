// JSON rendering of moxinfo's listing (listing_json.hpp).
#include "info/listing_json.hpp"

#include <cmath>

#include "kiv/util/display_text.hpp"

namespace MoxInfo {

using Kiv::Util::DisplayText;

namespace {

using nlohmann::json;

json ValueJson(double value, bool integer) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (integer) return static_cast<std::int64_t>(value);
  return value;
}

json ArrayJson(const ArrayListing& a) {
  json j = {{"index", a.index},     {"name", DisplayText(a.name)}, {"kind", a.kind},
            {"subKind", a.subKind}, {"attributes", a.attributes},  {"vibration", a.vibration}};
  if (a.linked) {
    j["linked"] = {{"node", a.linkNode}, {"array", a.linkIndex}, {"resolves", a.linkResolves}};
    return j;
  }
  j["values"] = a.valueCount;
  j["components"] = a.components;
  j["bytes"] = a.byteSize;
  if (a.minimum) j["min"] = ValueJson(*a.minimum, a.integers);
  if (a.maximum) j["max"] = ValueJson(*a.maximum, a.integers);
  if (a.nanCount) j["nan"] = a.nanCount;
  return j;
}

json EntryJson(const EntryListing& e) {
  json j = {{"id", e.id}, {"parent", e.parentId}, {"depth", e.depth}, {"reached", e.reached}};
  if (!e.hasNode) {
    j["type"] = nullptr;
    return j;
  }
  j["name"] = DisplayText(e.name);
  j["type"] = DisplayText(e.type);
  j["version"] = DisplayText(e.version);
  if (e.mergeRoot) {
    j["mergeRoot"] = *e.mergeRoot;
    j["attributes"] = e.attributes;
  }
  if (e.colour) j["colour"] = *e.colour;
  if (e.isGeometry) {
    j["arrays"] = json::array();
    for (const auto& a : e.arrays) j["arrays"].push_back(ArrayJson(a));
  }
  if (e.isNodeSets) {
    j["sets"] = json::array();
    for (const auto& s : e.sets)
      j["sets"].push_back({{"name", DisplayText(s.name)}, {"members", s.members}});
  }
  return j;
}

json HistoryJson(const KivMox::GlobalInfoRecord& r) {
  return {{"applicationName", DisplayText(r.applicationName)},
          {"applicationVersion", DisplayText(r.applicationVersion)},
          {"formatVersion", DisplayText(r.formatVersion)},
          {"saveTime", DisplayText(r.saveTime)},
          {"computerName", DisplayText(r.computerName)},
          {"userName", DisplayText(r.userName)},
          {"callerText", DisplayText(r.callerText)}};
}

json BlocksJson(const BlockListing& table) {
  json rows = json::array();
  for (const auto& r : table.rows)
    rows.push_back({{"number", r.number},
                    {"serial", r.serial},
                    {"name", BlockNameText(r.name)},
                    {"storedSize", r.storedSize},
                    {"flags", r.flags},
                    {"offset", r.offset}});
  return {{"fileSize", table.fileSize},
          {"primaryOffset", table.primaryOffset},
          {"primaryLength", table.primaryLength},
          {"rows", std::move(rows)}};
}

}  // namespace

json ListingJson(const ModelListing& listing, const BlockListing* blocks) {
  json doc = {{"file", DisplayText(listing.path)},
              {"containerVersion", DisplayText(listing.containerVersion)},
              {"entryCount", listing.entryCount}};
  json nodes = json::array(), problems = json::array();
  for (const auto& line : listing.lines) {
    if (const auto* e = std::get_if<EntryListing>(&line)) {
      nodes.push_back(EntryJson(*e));
    } else {
      const auto& p = std::get<LinkProblem>(line);
      problems.push_back({{"from", p.from},
                          {"link", MoxTools::LinkName(p.link)},
                          {"to", p.to},
                          {"problem", MoxTools::FaultName(p.fault)},
                          {"depth", p.depth}});
    }
  }
  doc["nodes"] = std::move(nodes);
  doc["linkProblems"] = std::move(problems);
  doc["history"] = json::array();
  for (const auto& r : listing.history) doc["history"].push_back(HistoryJson(r));
  if (listing.hasViewPoints) {
    json groups = json::array();
    for (const auto& g : listing.viewGroups)
      groups.push_back({{"name", DisplayText(g.name)}, {"entries", g.entries}});
    doc["viewPoints"] = {{"current", DisplayText(listing.currentViewName)},
                         {"groups", std::move(groups)},
                         {"actions", listing.actionCount}};
  } else {
    doc["viewPoints"] = nullptr;
  }
  if (blocks) doc["blocks"] = BlocksJson(*blocks);
  return doc;
}

}  // namespace MoxInfo
