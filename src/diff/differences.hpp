// What moxdiff finds when it compares two models: differences of fields, each with the
// texts of both sides, grouped by node, and the statistics of array values that differ.
// Texts are ready to print: every text taken from a file went through DisplayText.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace MoxDiff {

// A problem that stops the comparison (a damaged tree, a file that cannot be read); the
// message names the side and file.
struct DiffTrouble : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Difference {
  std::string field;
  std::string left, right;
};

// One place where the values of an array pair differ: the 32-bit words of both sides,
// floats or integers as the array holds.
struct ValuePlace {
  std::uint64_t index = 0;
  std::uint32_t left = 0, right = 0;
};

inline constexpr std::size_t kShownPlaces = 5;

struct ArrayValueDiff {
  std::uint32_t index = 0;  // in its geometry
  std::string name;         // display text (left side)
  bool integers = false;
  std::uint64_t compared = 0;   // values compared (the shorter side's count)
  std::uint64_t differing = 0;  // of these, values that differ
  double largestAbsolute = 0;   // infinity when a NaN or an infinity is involved
  double largestRelative = 0;
  std::vector<ValuePlace> first;  // at most kShownPlaces
};

// A node pair (or a node on one side only) with differences.
struct NodeDiff {
  std::string path;                       // "/" for the compared roots, then "/0/2"
  std::uint32_t leftId = 0, rightId = 0;  // 0 where the side has no such node
  std::string name;                       // display text
  std::vector<Difference> differences;
  std::vector<ArrayValueDiff> arrays;  // by array index
};

struct DiffResult {
  std::string leftFile, rightFile;  // display texts
  std::uint32_t leftRoot = 1, rightRoot = 1;
  std::vector<Difference> container;  // container versions (with --versions)
  std::vector<NodeDiff> nodes;        // in walk order
  bool historyCompared = false, viewPointsCompared = false;
  std::vector<Difference> history, viewPoints;
  std::uint64_t nodePairs = 0, arrayPairs = 0, valuesCompared = 0;

  // Differing fields plus array pairs with differing values.
  std::uint64_t DifferenceCount() const;
  bool Equal() const { return DifferenceCount() == 0; }
};

}  // namespace MoxDiff
