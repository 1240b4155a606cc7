#include "merge/instance_tags.hpp"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/util/display_text.hpp"
#include "merge/terminal_progress.hpp"

namespace MoxMerge {

namespace {

using GeometryNode = std::pair<std::uint32_t, KivMox::Geometry*>;

// The geometry nodes of a tree in ascending identifier order.
std::vector<GeometryNode> GeometryNodes(KivMox::Tree& tree) {
  std::vector<GeometryNode> nodes;
  for (auto& [id, entry] : tree.Entries())
    if (auto* geometry = KivMox::NodeAs<KivMox::Geometry>(entry.data))
      nodes.emplace_back(id, geometry);
  return nodes;
}

bool HasTaggedArray(const KivMox::Geometry& geometry) {
  return std::any_of(geometry.arrays.begin(), geometry.arrays.end(),
                     [](const auto& array) { return !InstanceTag(array.name).empty(); });
}

// The base of one join, with what a failure tells about it.
struct JoinBase {
  KivMox::Tree& tree;
  const JoinInputs& inputs;
  bool byName;  // targets are looked up by name first
};

// What the base holds at target when it is no geometry: "its node 13 is Shape "Part 4"".
std::string BaseNodeText(const KivMox::Node* node, std::uint32_t target) {
  const std::string id = std::to_string(target);
  if (!node) return "its entry " + id + " holds no node";
  return "its node " + id + " is " + Kiv::Util::DisplayText(node->GetTypeName()) + " " +
         Kiv::Util::Quoted(node->name);
}

// Why the later geometry finds no geometry at target in the base, e.g.
//   b.mox: geometry node 13 "Part 4 Mesh" has no geometry at identifier 13 in the base
//   a.mox: its node 13 is Shape "Part 4" (the trees must match node for node; ...)
std::string NoTargetLine(const JoinBase& base, const GeometryNode& later, std::uint32_t target) {
  const auto& entries = base.tree.Entries();
  const auto found = entries.find(target);
  std::string line = Kiv::Util::DisplayText(base.inputs.further) + ": geometry node " +
                     std::to_string(later.first) + " " + Kiv::Util::Quoted(later.second->name) +
                     (found == entries.end() ? " has no node" : " has no geometry") +
                     " at identifier " + std::to_string(target) + " in the base " +
                     Kiv::Util::DisplayText(base.inputs.base);
  if (found != entries.end()) line += ": " + BaseNodeText(found->second.data, target);
  return line + (base.byName ? " (no geometry of the base bears its name, so it joins by "
                               "identifier; the trees must match node for node)"
                             : " (the trees must match node for node; --auto-rename-instances "
                               "--match-part-names joins by name)");
}

// The base geometry at target that a later geometry joins; null when the base holds a node
// of another kind there and the join takes no array (takesArrays false). Otherwise a base
// without a geometry there fails the join: the line of NoTargetLine, then the raise of
// GetReqNode for a missing identifier, so that no array of the later input is lost.
KivMox::Geometry* JoinTarget(const JoinBase& base, const GeometryNode& later, std::uint32_t target,
                             bool takesArrays) {
  const auto& entries = base.tree.Entries();
  if (const auto found = entries.find(target); found != entries.end()) {
    if (auto* geometry = KivMox::NodeAs<KivMox::Geometry>(found->second.data)) return geometry;
    if (!takesArrays) return nullptr;
  }
  ReportCause(NoTargetLine(base, later, target));
  base.tree.FailReqNode();
}

// Array counts of the base's geometry before anything of a later input is appended.
std::map<std::uint32_t, std::uint32_t> ArrayCounts(KivMox::Tree& base) {
  std::map<std::uint32_t, std::uint32_t> counts;
  for (auto& [id, geometry] : GeometryNodes(base))
    counts[id] = static_cast<std::uint32_t>(geometry->arrays.size());
  return counts;
}

// Appends copies of arrays to target, a linked array shifted by the count its target
// geometry had before the join.
void AppendShifted(KivMox::Geometry& target, const std::vector<KivMox::GeometryArray>& arrays,
                   const std::map<std::uint32_t, std::uint32_t>& countsBefore) {
  for (auto array : arrays) {
    if (array.linked == 1) {
      auto it = countsBefore.find(array.linkNode);
      array.linkIndex += it == countsBefore.end() ? 0 : it->second;
    }
    target.arrays.push_back(std::move(array));
  }
}

// The base identifier a later geometry joins: its own, or with matchPartNames the first
// base geometry of its name when there is one.
std::uint32_t TargetId(BaseIndex& index, const GeometryNode& later, bool matchPartNames) {
  if (!matchPartNames) return later.first;
  return index.GeometryNamed(later.second->name).value_or(later.first);
}

// (geometry, array index) in B -> (geometry, array index) in A, for every tagged array.
using Moves =
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::uint32_t, std::uint32_t>>;

// Records where the tagged arrays of a later geometry land in target (at targetId), after
// the arrays target has and those placed there before in this join (nextIndex).
void PlaceTagged(const GeometryNode& later, std::uint32_t targetId, const KivMox::Geometry& target,
                 std::map<std::uint32_t, std::uint32_t>& nextIndex, Moves& moved) {
  auto [it, fresh] = nextIndex.emplace(targetId, 0);
  if (fresh) it->second = static_cast<std::uint32_t>(target.arrays.size());
  const auto& arrays = later.second->arrays;
  for (std::uint32_t k = 0; k < arrays.size(); ++k)
    if (!InstanceTag(arrays[k].name).empty()) moved[{later.first, k}] = {targetId, it->second++};
}

// Appends copies of the tagged arrays of a later geometry to target. A link into an array
// of this join follows it; any other link is dropped.
void AppendTagged(const KivMox::Geometry& later, KivMox::Geometry& target, const Moves& moved) {
  for (auto array : later.arrays) {
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
    target.arrays.push_back(std::move(array));
  }
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

// The map holds the geometry of the input just tagged: the base's own, or those of a later
// input whose plain join has resolved every one of them in the base already, failing on a
// missing node and on a node of another kind that would have received arrays (the map of
// an auto-rename tagging is empty). So the look-up here does not fail, and a node of
// another kind comes only with an empty name map: passing it over loses nothing.
void LinkInstances(KivMox::Tree& base, const InstanceMap& instances, BaseIndex& index) {
  for (const auto& [id, names] : instances) {
    KivMox::Geometry* geometry = KivMox::NodeAs<KivMox::Geometry>(base.GetReqNode(id).data);
    if (!geometry) continue;
    for (const auto& [name, alternatives] : names) {
      for (const auto& alternative : alternatives) {
        auto i = index.FindOrAddArray(id, *geometry, alternative);
        auto j = index.FindOrAddArray(id, *geometry, name);
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

void JoinPlain(KivMox::Tree& base, KivMox::Tree& further, const JoinInputs& inputs) {
  const JoinBase join{base, inputs, false};
  const auto countsBefore = ArrayCounts(base);
  for (const auto& node : GeometryNodes(further)) {
    const auto& [id, geometry] = node;
    if (KivMox::Geometry* target = JoinTarget(join, node, id, !geometry->arrays.empty()))
      AppendShifted(*target, geometry->arrays, countsBefore);
  }
}

void JoinAutoRename(KivMox::Tree& base, KivMox::Tree& further, bool matchPartNames,
                    const JoinInputs& inputs, BaseIndex& index) {
  const JoinBase join{base, inputs, matchPartNames};
  const auto geometries = GeometryNodes(further);
  // First pass: where every tagged array of B lands in A.
  std::vector<KivMox::Geometry*> targets;
  Moves moved;
  std::map<std::uint32_t, std::uint32_t> nextIndex;
  for (const auto& node : geometries) {
    const std::uint32_t targetId = TargetId(index, node, matchPartNames);
    targets.push_back(JoinTarget(join, node, targetId, HasTaggedArray(*node.second)));
    if (targets.back()) PlaceTagged(node, targetId, *targets.back(), nextIndex, moved);
  }
  // Second pass: append, following links into arrays of this join.
  for (std::size_t g = 0; g < geometries.size(); ++g)
    if (targets[g]) AppendTagged(*geometries[g].second, *targets[g], moved);
}

}  // namespace MoxMerge
