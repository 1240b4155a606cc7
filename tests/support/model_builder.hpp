// Test models built in memory, and a canonical text rendering of a whole tree so that two
// trees can be compared field by field (array values included) with one EXPECT_EQ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/tree.hpp"

namespace TestSupport {

// Fills an array with count values v(i) (int or float bits) and a component count.
void FillInts(KivMox::GeometryArray& array, const std::vector<std::int32_t>& values,
              std::uint8_t components);
void FillFloats(KivMox::GeometryArray& array, const std::vector<float>& values,
                std::uint8_t components);
std::vector<std::int32_t> IntsOf(const KivMox::NumericArray& data);
std::vector<float> FloatsOf(const KivMox::NumericArray& data);

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
