// Test models built in memory, and a canonical text rendering of a whole tree so that two
// trees can be compared field by field (array values included) with one EXPECT_EQ.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/tree.hpp"

namespace TestSupport {

// Fills an array with values (int or float bits) and a component count.
void FillInts(KivMox::GeometryArray& array, const std::vector<std::int32_t>& values,
              std::uint8_t components);
void FillFloats(KivMox::GeometryArray& array, const std::vector<float>& values,
                std::uint8_t components);
std::vector<std::int32_t> IntsOf(const KivMox::NumericArray& data);
std::vector<float> FloatsOf(const KivMox::NumericArray& data);

// A result array (kind 0) of floats; a connectivity array (kind 5) of 32-bit integers; an
// array that takes its values from array linkIndex of geometry node linkNode.
KivMox::GeometryArray FloatArray(const std::string& name, const std::vector<float>& values,
                                 std::uint8_t components = 1);
KivMox::GeometryArray IntArray(const std::string& name, const std::vector<std::int32_t>& values,
                               std::uint8_t components = 1);
KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t linkNode,
                                  std::uint32_t linkIndex);

// A tree under construction: a root group (1) with a translation and an "Owner" text
// attribute, then nodes appended under a chosen parent.
class Model {
 public:
  explicit Model(const std::string& rootName, const std::string& application = "Builder",
                 const std::string& version = "1.0");
  std::uint32_t Add(std::uint32_t parent, std::unique_ptr<KivMox::Node> node);
  std::uint32_t AddShape(std::uint32_t parent, const std::string& name, float red);
  std::uint32_t AddGeometry(std::uint32_t parent, const std::string& name,
                            std::vector<KivMox::GeometryArray> arrays);
  std::uint32_t AddNodeSets(std::uint32_t parent, const std::string& name,
                            std::vector<KivMox::NodeSet> sets);
  // The current view point and the groups, each holding "<group>/a" and "<group>/b";
  // marker sets values that tell the entries apart.
  void SetViews(const std::string& current, const std::vector<std::string>& groups,
                std::uint32_t marker);
  void Save(const std::string& path) { tree.Save(path); }
  KivMox::Tree tree;
};

std::unique_ptr<KivMox::Tree> LoadTree(const std::string& path);
// The identifiers of the children of id, in sibling order.
std::vector<std::uint32_t> Children(const KivMox::Tree& tree, std::uint32_t id);

// A tree with every node type: root group (attributes of every type) -> part group ->
// shape, geometry (connectivity, result, vibration-tagged and linked arrays), a second
// geometry linking into the first, node sets, a future node and an empty entry; view
// points with two groups and actions of every kind; two history records.
void BuildRichTree(KivMox::Tree& tree);

// Every entry, link, node field, array value and view point, one item a line.
// The save history is rendered only with withHistory.
std::string DescribeTree(const KivMox::Tree& tree, bool withHistory = true);

// The geometry node of the tree with that identifier (fails the test when absent).
KivMox::Geometry& GeometryAt(KivMox::Tree& tree, std::uint32_t id);

}  // namespace TestSupport
