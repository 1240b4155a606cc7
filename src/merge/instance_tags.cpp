#include "merge/instance_tags.hpp"

#include <cstdio>
#include <set>
#include <utility>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/tree.hpp"

namespace MoxMerge {

namespace {

// The geometry nodes of a tree in ascending identifier order.
std::vector<std::pair<std::uint32_t, KivMox::Geometry*>> GeometryNodes(KivMox::Tree& tree) {
  std::vector<std::pair<std::uint32_t, KivMox::Geometry*>> nodes;
  for (auto& [id, entry] : tree.Entries())
    if (auto* geometry = KivMox::NodeAs<KivMox::Geometry>(entry.data))
      nodes.emplace_back(id, geometry);
  return nodes;
}

}  // namespace

std::string InstanceTag(const std::string& name) {
  auto p = name.rfind(kTagSeparator);
  return p == std::string::npos ? std::string() : name.substr(p + 1);
}

std::string FileSuffix(std::size_t position, bool suffix) {
  if (!suffix) return {};
  char text[24];
  std::snprintf(text, sizeof text, "F%zu", position);
  return text;
}

void TagPlain(KivMox::Tree& tree, std::size_t position, bool suffix, InstanceMap& instances) {
  instances.clear();
  const std::string fileSuffix = FileSuffix(position, suffix);
  for (auto& [id, geometry] : GeometryNodes(tree)) {
    std::set<std::string> tags;
    for (auto& array : geometry->arrays) {
      auto p = array.name.rfind(kTagSeparator);
      if (p == std::string::npos)
        array.name += kTagSeparator + fileSuffix;
      else
        array.name.insert(p + 1, fileSuffix);
      std::string tag = InstanceTag(array.name);
      if (!tag.empty()) tags.insert(tag);
    }
    std::map<std::string, std::vector<std::string>> alternatives;
    for (auto& array : geometry->arrays) {
      if (!InstanceTag(array.name).empty() || tags.empty()) continue;
      std::string before = array.name;
      array.name += *tags.begin();
      auto& list = alternatives[array.name];
      for (auto t = std::next(tags.begin()); t != tags.end(); ++t) list.push_back(before + *t);
    }
    instances[id] = std::move(alternatives);
  }
}

void TagAutoRename(KivMox::Tree& tree, std::size_t position, bool suffix, InstanceMap& instances) {
  instances.clear();
  const std::string fileSuffix = FileSuffix(position, suffix);
  for (auto& [id, geometry] : GeometryNodes(tree))
    for (auto& array : geometry->arrays)
      if (!InstanceTag(array.name).empty())
        array.name.insert(array.name.rfind(kTagSeparator) + 1, fileSuffix);
}

void LinkInstances(KivMox::Tree& base, const InstanceMap& instances) {
  for (const auto& [id, names] : instances) {
    KivMox::Geometry* geometry = KivMox::NodeAs<KivMox::Geometry>(base.GetReqNode(id).data);
    if (!geometry) continue;
    for (const auto& [name, alternatives] : names) {
      for (const auto& alternative : alternatives) {
        auto i = geometry->FindOrAddArray(alternative);
        auto j = geometry->FindOrAddArray(name);
        auto& target = geometry->arrays[i];
        const auto& source = geometry->arrays[j];
        target.kind = source.kind;
        target.vibration = source.vibration;
        target.attributes = source.attributes;
        target.linked = source.linked;
        target.linkNode = source.linkNode;
        target.linkIndex = source.linkIndex;
        if (target.linked == 0) {
          target.linked = 1;
          target.linkNode = id;
          target.linkIndex = static_cast<std::uint32_t>(j);
        }
      }
    }
  }
}

void JoinPlain(KivMox::Tree& base, KivMox::Tree& further) {
  // Array counts of the base's geometry before anything of this input is appended.
  std::map<std::uint32_t, std::uint32_t> countsBefore;
  for (auto& [id, geometry] : GeometryNodes(base))
    countsBefore[id] = static_cast<std::uint32_t>(geometry->arrays.size());
  for (auto& [id, geometry] : GeometryNodes(further)) {
    KivMox::Geometry* target = KivMox::NodeAs<KivMox::Geometry>(base.GetReqNode(id).data);
    if (!target) continue;
    for (auto array : geometry->arrays) {
      if (array.linked == 1) {
        auto it = countsBefore.find(array.linkNode);
        array.linkIndex += it == countsBefore.end() ? 0 : it->second;
      }
      target->arrays.push_back(std::move(array));
    }
  }
}

void JoinAutoRename(KivMox::Tree& base, KivMox::Tree& further, bool matchPartNames) {
  struct Placement {
    KivMox::Geometry* target = nullptr;
    std::uint32_t targetId = 0;
  };
  auto geometries = GeometryNodes(further);
  // First pass: where every tagged array of B lands in A.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::uint32_t, std::uint32_t>> moved;
  std::vector<Placement> placements;
  std::map<std::uint32_t, std::uint32_t> nextIndex;
  for (auto& [id, geometry] : geometries) {
    std::uint32_t targetId = id;
    if (matchPartNames) {
      KivMox::Geometry probe;
      probe.name = geometry->name;
      try {
        targetId = base.GetMatchingNodeId(&probe);
      } catch (const Kiv::Util::Exception&) {
        targetId = id;
      }
    }
    Placement placement;
    placement.targetId = targetId;
    placement.target = KivMox::NodeAs<KivMox::Geometry>(base.GetReqNode(targetId).data);
    placements.push_back(placement);
    if (!placement.target) continue;
    auto [it, fresh] = nextIndex.emplace(targetId, 0);
    if (fresh) it->second = static_cast<std::uint32_t>(placement.target->arrays.size());
    for (std::uint32_t k = 0; k < geometry->arrays.size(); ++k)
      if (!InstanceTag(geometry->arrays[k].name).empty()) moved[{id, k}] = {targetId, it->second++};
  }
  // Second pass: append, following links into arrays of this join.
  for (std::size_t g = 0; g < geometries.size(); ++g) {
    auto& [id, geometry] = geometries[g];
    KivMox::Geometry* target = placements[g].target;
    if (!target) continue;
    for (auto array : geometry->arrays) {
      if (InstanceTag(array.name).empty()) continue;
      if (array.linked == 1) {
        auto it = moved.find({array.linkNode, array.linkIndex});
        if (it != moved.end()) {
          array.linkNode = it->second.first;
          array.linkIndex = it->second.second;
        } else {
          array.linked = 0;
          array.linkNode = 0;
          array.linkIndex = 0;
        }
      }
      target->arrays.push_back(std::move(array));
    }
  }
}

}  // namespace MoxMerge
