// Gathering moxinfo's listing from a tree (model_listing.hpp).
#include "info/model_listing.hpp"

#include <cmath>
#include <cstring>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/tree.hpp"
#include "tools/tree_walk.hpp"

namespace MoxInfo {

namespace {

// Range of the values of an array with a buffer of at least byteSize bytes.
void ScanValues(const KivMox::NumericArray& data, ArrayListing& out) {
  if (!data.HasBytes() || out.valueCount == 0) return;
  const std::uint8_t* bytes = data.Bytes();
  double low = 0, high = 0;
  bool any = false;
  for (std::uint64_t i = 0; i < out.valueCount; ++i) {
    double v = 0;
    if (out.integers) {
      std::int32_t n = 0;
      std::memcpy(&n, bytes + 4 * i, 4);
      v = n;
    } else {
      float f = 0;
      std::memcpy(&f, bytes + 4 * i, 4);
      if (std::isnan(f)) {
        ++out.nanCount;
        continue;
      }
      v = f;
    }
    if (!any || v < low) low = v;
    if (!any || v > high) high = v;
    any = true;
  }
  if (any) {
    out.minimum = low;
    out.maximum = high;
  }
}

EntryListing ListEntry(const KivMox::Tree& tree, const KivMox::Tree::TreeEntry& entry) {
  EntryListing e;
  e.id = entry.id;
  e.parentId = entry.parentId;
  const KivMox::Node* node = entry.data;
  if (!node) return e;
  e.hasNode = true;
  e.name = node->name;
  e.type = node->GetTypeName();
  e.version = node->GetVersion();
  if (const auto* group = KivMox::NodeAs<KivMox::Group>(node)) {
    e.mergeRoot = group->mergeRoot;
    e.attributes = group->attributes.size();
  } else if (const auto* shape = KivMox::NodeAs<KivMox::Shape>(node)) {
    e.colour = shape->material.colorA;
  } else if (const auto* geometry = KivMox::NodeAs<KivMox::Geometry>(node)) {
    e.isGeometry = true;
    for (std::size_t i = 0; i < geometry->arrays.size(); ++i)
      e.arrays.push_back(ListArray(tree, geometry->arrays[i], static_cast<std::uint32_t>(i)));
  } else if (const auto* sets = KivMox::NodeAs<KivMox::NodeSets>(node)) {
    e.isNodeSets = true;
    for (const auto& set : sets->sets) e.sets.push_back({set.name, set.members.size()});
  }
  return e;
}

}  // namespace

ArrayListing ListArray(const KivMox::Tree& tree, const KivMox::GeometryArray& array,
                       std::uint32_t index) {
  ArrayListing a;
  a.index = index;
  a.name = array.name;
  a.kind = array.kind;
  a.subKind = array.data.subKind;
  a.byteSize = array.data.byteSize;
  a.valueCount = array.data.byteSize / 4;
  a.components = array.data.componentCount;
  a.vibration = array.vibration;
  a.attributes = array.attributes.size();
  a.integers = array.IsConnectivity();
  a.linked = array.linked != 0;
  if (a.linked) {
    a.linkNode = array.linkNode;
    a.linkIndex = array.linkIndex;
    const auto* target = KivMox::NodeAs<KivMox::Geometry>(tree.GetNode(array.linkNode));
    a.linkResolves = target && array.linkIndex < target->arrays.size();
  } else {
    ScanValues(array.data, a);
  }
  return a;
}

ModelListing ListModel(const KivMox::Tree& tree, const std::string& path) {
  ModelListing listing;
  listing.path = path;
  listing.containerVersion = tree.fileVersion;
  listing.entryCount = tree.Size();
  MoxTools::TreeWalk walk = MoxTools::WalkTree(tree);
  for (MoxTools::WalkStep& step : walk.steps) {
    if (auto* broken = std::get_if<LinkProblem>(&step)) {
      listing.lines.emplace_back(*broken);
      continue;
    }
    const auto& walked = std::get<MoxTools::WalkedEntry>(step);
    EntryListing entry = ListEntry(tree, tree.Entries().at(walked.id));
    entry.depth = walked.depth;
    entry.walkParentId = walked.parent;
    listing.lines.emplace_back(std::move(entry));
  }
  for (const std::uint32_t id : walk.unreached) {
    EntryListing entry = ListEntry(tree, tree.Entries().at(id));
    entry.reached = false;
    listing.lines.emplace_back(std::move(entry));
  }
  listing.history = tree.globalInfo;
  listing.hasViewPoints = tree.HasViewPoints();
  if (listing.hasViewPoints) {
    listing.currentViewName = tree.views.current.name;
    for (const auto& group : tree.views.groups)
      listing.viewGroups.push_back({group.name, group.entries.size()});
    listing.actionCount = tree.views.actions.actions.size();
  }
  return listing;
}

}  // namespace MoxInfo
