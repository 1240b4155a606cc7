// Comparing the values of geometry array pairs. Values are read through each array's
// loader (a whole array at a time) or taken from memory where a load read them at once;
// only the values of one pair are held at a time. Each file's heavy blocks are read front
// to back: when the right file stores the arrays in the left file's order, the pairs are
// read side by side in that order. Otherwise each file is first read alone in its own
// order to digest every array's decoded words; pairs with equal digests hold equal bits,
// and only the others are read again side by side, in the left file's order (under the
// readers' budget for inflating blocks again).
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
