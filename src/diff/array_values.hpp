// Comparing the values of geometry array pairs. Values are read through each array's
// loader (a whole array at a time) or taken from memory where a load read them at once;
// only the values of one pair are held at a time. The pairs are visited in the order the
// left file stores their values (by the left loader's position), so that the reader goes
// through each file's heavy blocks front to back instead of inflating blocks again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diff/differences.hpp"
#include "diff/node_compare.hpp"
#include "diff/tolerance.hpp"

namespace MoxDiff {

// Compares n values given as 4-byte words in memory order (floats or integers); a result
// with differing 0 when they are all equal.
ArrayValueDiff CompareValues(const std::uint8_t* left, const std::uint8_t* right, std::uint64_t n,
                             bool integers, const Tolerance& tolerance);

// Sorts pairs into the left file's storage order and compares the values of each;
// found is called for every pair whose values differ. leftSide and rightSide name the
// sides in messages: a value that cannot be read raises DiffTrouble.
void CompareArrayValues(std::vector<ArrayPair>& pairs, const Tolerance& tolerance,
                        const std::string& leftSide, const std::string& rightSide,
                        std::uint64_t& valuesCompared,
                        const std::function<void(const ArrayPair&, ArrayValueDiff&&)>& found);

}  // namespace MoxDiff
