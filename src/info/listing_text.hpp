// moxinfo's text output of a ModelListing (and of a block table with --blocks):
//
//   File: <path>
//   Container version: 1.3
//   Entries: 12
//
//   Node tree:
//   [1] Group "Sample Model" version 0.4 mergeRoot=0 attributes=5
//     [4] Geometry "Part 1 Mesh" version 0.7 arrays=9
//         array 0 "Coordinates" kind=0 values=300 components=3 min=0 max=120.5 attributes=1
//         array 3 "Base Coordinates" kind=0 -> node 4 array 0
//       !! [9] next sibling -> 2: cycle, already listed, not followed
//   Unreached entries: ...
//   Save history (2 records): ...
//   View points: current "Home", 2 groups, 6 actions
//   Blocks: ...
//
// Two blanks per depth level. Texts from the file are shown through DisplayText (the
// tag separator as "<RS>"); integers of connectivity arrays print as integers, other
// values in the shortest form that reads back as the same 32-bit float.
#pragma once

#include <ostream>

#include "info/block_listing.hpp"
#include "info/model_listing.hpp"

namespace MoxInfo {

void PrintListing(const ModelListing& listing, std::ostream& out);
void PrintBlockListing(const BlockListing& table, std::ostream& out);
// A value of an array: an integer, or the shortest text of the 32-bit float.
std::string ValueText(double value, bool integer);

}  // namespace MoxInfo
