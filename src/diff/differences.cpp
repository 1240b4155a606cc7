// Counting the differences of a comparison (differences.hpp).
#include "diff/differences.hpp"

namespace MoxDiff {

std::uint64_t DiffResult::DifferenceCount() const {
  std::uint64_t n = container.size() + history.size() + viewPoints.size();
  for (const NodeDiff& node : nodes) n += node.differences.size() + node.arrays.size();
  return n;
}

}  // namespace MoxDiff
