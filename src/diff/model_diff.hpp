// Comparing two loaded models: the subtrees from the chosen roots node by node (nodes
// matched by their path of child positions), then the array values pair by pair, then,
// when both whole trees are compared, the save histories and view points.
#pragma once

#include <cstdint>
#include <string>

#include "diff/differences.hpp"
#include "diff/tolerance.hpp"

namespace KivMox {
class Tree;
}

namespace MoxDiff {

struct DiffOptions {
  std::uint32_t leftRoot = 1, rightRoot = 1;
  bool subtree = false;  // a root was chosen on either side: no history, no view points
  Tolerance tolerance;
  bool versions = false;  // also the record versions and container versions
  bool ignoreHistory = false;
  bool ignoreViewPoints = false;
};

struct Side {
  const KivMox::Tree& tree;
  std::string file;  // as given
};

// Both roots must have entries in their trees. A damaged tree or values that cannot be
// read raise DiffTrouble, naming the side.
DiffResult DiffModels(const Side& left, const Side& right, const DiffOptions& options);

}  // namespace MoxDiff
