// Test models built in memory, and trees loaded from files.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/tree.hpp"

namespace TestSupport {

namespace Detail {
template <class T>
std::unique_ptr<T> Named(const std::string& name) {
  auto node = std::make_unique<T>();
  node->name = name;
  return node;
}
}  // namespace Detail

// An array of the kind holding 32-bit values; a result array (kind 0) of floats; a
// connectivity array (kind 5) of 32-bit integers; an array that takes its values from array
// linkIndex of geometry node linkNode.
template <class T>
KivMox::GeometryArray ArrayOf(const std::string& name, std::uint32_t kind,
                              const std::vector<T>& values, std::uint8_t components = 1) {
  KivMox::GeometryArray array;
  array.name = name, array.kind = kind, array.data.componentCount = components;
  std::uint8_t* p = array.data.Allocate(values.size() * 4);
  if (!values.empty()) std::memcpy(p, values.data(), values.size() * 4);
  return array;
}
inline KivMox::GeometryArray FloatArray(const std::string& name, const std::vector<float>& values,
                                        std::uint8_t components = 1) {
  return ArrayOf(name, 0, values, components);
}
inline KivMox::GeometryArray IntArray(const std::string& name,
                                      const std::vector<std::int32_t>& values,
                                      std::uint8_t components = 1) {
  return ArrayOf(name, 5, values, components);
}
inline KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t linkNode,
                                         std::uint32_t linkIndex, std::uint32_t kind = 0) {
  KivMox::GeometryArray array;
  array.name = name, array.kind = kind, array.linked = 1;
  array.linkNode = linkNode, array.linkIndex = linkIndex;
  return array;
}

// A root group (1) with a translation and an "Owner" text attribute, geometries added.
class Model {
 public:
  explicit Model(const std::string& rootName, const std::string& application = "Builder",
                 const std::string& version = "1.0")
      : tree(application, version) {
    auto root = Detail::Named<KivMox::Group>(rootName);
    root->translation = {1.5f, -2.0f, 0.25f};
    root->attributes["Owner"] = KivMox::Attribute::MakeText(rootName);
    tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
  }
  std::uint32_t AddGeometry(std::uint32_t parent, const std::string& name,
                            std::vector<KivMox::GeometryArray> arrays) {
    auto geometry = Detail::Named<KivMox::Geometry>(name);
    geometry->arrays = std::move(arrays);
    tree.SetCurrentId(parent);
    return tree.AppendChildNode(std::move(geometry));
  }
  // The current view point and groups of "<group>/a" and "<group>/b", values from marker on.
  void SetViews(const std::string& current, const std::vector<std::string>& groups,
                std::uint32_t marker) {
    auto entry = [](const std::string& name, std::uint32_t m) {
      KivMox::ViewPointEntry e;
      e.name = name, e.valuesA = {m, m + 1, m + 2}, e.fieldOfView = 0.5f + float(m);
      e.matrix[5] = float(m) * 2.0f;
      return e;
    };
    tree.views.present = true, tree.views.current = entry(current, marker);
    for (std::uint32_t g = 0, m = marker + 10; g < groups.size(); ++g, m += 10)
      tree.views.groups.push_back(
          {groups[g], {entry(groups[g] + "/a", m), entry(groups[g] + "/b", m + 5)}});
  }
  void Save(const std::string& path) { tree.Save(path); }
  KivMox::Tree tree;
};

// The tree of the file at path, loaded whole or deferred (array values read when needed).
inline std::unique_ptr<KivMox::Tree> LoadTree(const std::string& path, bool deferred = false) {
  auto tree = std::make_unique<KivMox::Tree>();
  tree->SetDeferredLoading(deferred);
  KivMox::Tree::IdentifierMap identifiers;
  tree->Load(path, identifiers);
  return tree;
}
// The identifiers of the children of id, in sibling order.
inline std::vector<std::uint32_t> Children(const KivMox::Tree& tree, std::uint32_t id) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t c = tree.GetReqNode(id).firstChildId; c != 0 && out.size() <= tree.Size();
       c = tree.GetReqNode(c).nextSiblingId)
    out.push_back(c);
  return out;
}
// The geometry node of the tree with that identifier (throws when absent).
inline KivMox::Geometry& GeometryAt(KivMox::Tree& tree, std::uint32_t id) {
  auto* geometry = KivMox::NodeAs<KivMox::Geometry>(tree.GetNode(id));
  if (!geometry) throw std::logic_error("no geometry at " + std::to_string(id));
  return *geometry;
}

// A tree of groups linked as given, one {id, parent, next sibling, first child} an entry;
// a parent of 0xFF gives an entry without a node (and a parent link of 1).
std::unique_ptr<KivMox::Tree> LinkedTree(const std::vector<std::array<std::uint32_t, 4>>& entries);

// A tree with every node type, attribute type, array form (connectivity, result, vibration,
// linked), view point groups, actions of every kind and a history record.
void BuildRichTree(KivMox::Tree& tree);

}  // namespace TestSupport
