// Mox files for the moxmerge tests: small models built with the library and saved as real
// files, the built programs run on them in child processes, and the outputs loaded back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/tree.hpp"
#include "support/test_support.hpp"

namespace AppTest {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using TestSupport::TempDir;

// The instance tag separator, as a string so that it never runs into a hex escape.
inline const std::string kSep = "\x1E";
inline std::string Tagged(const std::string& name, const std::string& tag) {
  return name + kSep + tag;
}

template <class T>
Bytes BytesOfValues(const std::vector<T>& values) {
  Bytes bytes(values.size() * sizeof(T));
  if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

inline Bytes BytesOf(const KivMox::NumericArray& data) {
  if (!data.HasBytes()) return {};
  return Bytes(data.Bytes(), data.Bytes() + data.byteSize);
}

template <class T>
KivMox::GeometryArray ArrayOf(const std::string& name, std::uint32_t kind,
                              const std::vector<T>& values, std::uint8_t components) {
  KivMox::GeometryArray array;
  array.name = name;
  array.kind = kind;
  array.data.componentCount = components;
  Bytes bytes = BytesOfValues(values);
  std::memcpy(array.data.Allocate(bytes.size()), bytes.data(), bytes.size());
  return array;
}

// A result array (kind 0) of floats; a connectivity array (kind 5) of 32-bit integers.
inline KivMox::GeometryArray FloatArray(const std::string& name, const std::vector<float>& values,
                                        std::uint8_t components = 1) {
  return ArrayOf(name, 0, values, components);
}
inline KivMox::GeometryArray IntArray(const std::string& name,
                                      const std::vector<std::int32_t>& values,
                                      std::uint8_t components = 1) {
  return ArrayOf(name, 5, values, components);
}

// An array that takes its values from array linkIndex of geometry node linkNode.
inline KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t linkNode,
                                         std::uint32_t linkIndex) {
  KivMox::GeometryArray array;
  array.name = name;
  array.linked = 1;
  array.linkNode = linkNode;
  array.linkIndex = linkIndex;
  return array;
}

// Floats that differ from seed to seed and include values that only a bitwise copy
// keeps: negative zero, a subnormal, a huge value and a quiet NaN with a payload.
inline std::vector<float> Distinct(float seed) {
  std::vector<float> values = {-0.0f, 1.0e-40f, 3.0e38f, seed, seed + 0.125f, seed * 3.0f};
  std::uint32_t nan = 0x7FC01234u + std::uint32_t(seed * 16.0f);
  float f;
  std::memcpy(&f, &nan, 4);
  values.push_back(f);
  return values;
}
inline Bytes DistinctBytes(float seed) {
  return BytesOfValues(Distinct(seed));
}

inline KivMox::ViewPointEntry ViewEntry(const std::string& name, std::uint32_t marker) {
  KivMox::ViewPointEntry entry;
  entry.name = name;
  entry.valuesA = {marker, marker + 1, marker + 2};
  entry.fieldOfView = 0.5f + float(marker);
  entry.matrix[5] = float(marker) * 2.0f;
  return entry;
}

// A tree under construction: a root group, then nodes added under a chosen parent.
class Model {
 public:
  explicit Model(const std::string& rootName, const std::string& application = "Builder",
                 const std::string& version = "1.0")
      : tree_(application, version) {
    auto root = std::make_unique<KivMox::Group>();
    root->name = rootName;
    root->translation = {1.5f, -2.0f, 0.25f};
    root->attributes["Owner"] = KivMox::Attribute::MakeText(rootName);
    tree_.SetEntryNode(tree_.GetCurrentNode(), std::move(root));
  }
  std::uint32_t AddShape(std::uint32_t parent, const std::string& name, float red) {
    auto shape = std::make_unique<KivMox::Shape>();
    shape->name = name;
    shape->material.colorA = {red, 0.5f, 0.25f, 1.0f};
    shape->material.valueE = -red;
    return Add(parent, std::move(shape));
  }
  std::uint32_t AddGeometry(std::uint32_t parent, const std::string& name,
                            std::vector<KivMox::GeometryArray> arrays) {
    auto geometry = std::make_unique<KivMox::Geometry>();
    geometry->name = name;
    geometry->arrays = std::move(arrays);
    return Add(parent, std::move(geometry));
  }
  std::uint32_t AddNodeSets(std::uint32_t parent, const std::string& name,
                            std::vector<KivMox::NodeSet> sets) {
    auto node = std::make_unique<KivMox::NodeSets>();
    node->name = name;
    node->sets = std::move(sets);
    node->count = static_cast<std::uint32_t>(node->sets.size());
    return Add(parent, std::move(node));
  }
  // The current view point and the groups, each group holding two entries.
  void SetViews(const std::string& current, const Names& groups, std::uint32_t marker) {
    tree_.views.present = true;
    tree_.views.current = ViewEntry(current, marker);
    for (std::size_t g = 0; g < groups.size(); ++g) {
      const auto m = marker + 10 * std::uint32_t(g + 1);
      tree_.views.groups.push_back(
          {groups[g], {ViewEntry(groups[g] + "/a", m), ViewEntry(groups[g] + "/b", m + 5)}});
    }
  }
  KivMox::Tree& Tree() { return tree_; }
  void Save(const std::string& path) { tree_.Save(path); }

 private:
  std::uint32_t Add(std::uint32_t parent, std::unique_ptr<KivMox::Node> node) {
    tree_.SetCurrentId(parent);
    return tree_.AppendChildNode(std::move(node));
  }
  KivMox::Tree tree_;
};

inline std::unique_ptr<KivMox::Tree> LoadMox(const std::string& path) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->Load(path, identifiers);
  return tree;
}

template <class T>
T* NodeAs(const KivMox::Tree& tree, std::uint32_t id, const char* type) {
  KivMox::Node* node = tree.GetNode(id);
  return node && node->GetTypeName() == type ? static_cast<T*>(node) : nullptr;
}
inline KivMox::Geometry* GeometryAt(const KivMox::Tree& tree, std::uint32_t id) {
  return NodeAs<KivMox::Geometry>(tree, id, "Geometry");
}
inline KivMox::Group* GroupAt(const KivMox::Tree& tree, std::uint32_t id) {
  return NodeAs<KivMox::Group>(tree, id, "Group");
}

inline Names ArrayNames(const KivMox::Geometry* geometry) {
  Names names;
  if (geometry)
    for (const auto& array : geometry->arrays) names.push_back(array.name);
  return names;
}

// The identifiers of the children of id, following the sibling links.
inline std::vector<std::uint32_t> Children(const KivMox::Tree& tree, std::uint32_t id) {
  std::vector<std::uint32_t> children;
  for (std::uint32_t c = tree.GetReqNode(id).firstChildId; c != 0 && children.size() < 1000;
       c = tree.GetReqNode(c).nextSiblingId)
    children.push_back(c);
  return children;
}
inline Names ChildNames(const KivMox::Tree& tree, std::uint32_t id) {
  Names names;
  for (std::uint32_t c : Children(tree, id))
    names.push_back(tree.GetNode(c) ? tree.GetNode(c)->name : std::string());
  return names;
}
inline Names GroupNames(const KivMox::ViewPoints& views) {
  Names names;
  for (const auto& group : views.groups) names.push_back(group.name);
  return names;
}

inline Names Lines(const std::string& text) {
  Names lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}
inline bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}
// The names of the entries of a directory, sorted.
inline Names DirectoryEntries(const std::string& dir) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using TestSupport::Execute;
using TestSupport::Launch;
using TestSupport::Outcome;
using TestSupport::Process;

// moxmerge with its trace log in logDir, and further environment entries.
inline Outcome RunMoxMerge(const TempDir& logDir, const Names& args, Names env = {}) {
  env.push_back("TESSARA_TEMP_PATH=" + logDir.Path());
  return Execute({"moxmerge", args, env});
}

// Standard error less the line that tells where the trace log goes.
inline std::string ErrorsOf(const Outcome& run) {
  std::string kept;
  for (const auto& line : Lines(run.err))
    if (line.rfind("Writing log to \"", 0) != 0) kept += line + "\n";
  return kept;
}

}  // namespace AppTest
