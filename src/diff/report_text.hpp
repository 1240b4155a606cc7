// moxdiff's human report: the container version difference (with --versions), one heading
// line per node with differences and its differences one a line below it, the history and
// view point differences, then one summary line (each section only when it has any):
//
//   Container:
//     container version: "1.3" | "0.6"        (with --versions)
//   Node /0/1 (left 4, right 9) "Mesh A":
//     name: "Mesh A" | "Mesh B"
//     array 1 "stress" attribute "Unit": "MPa" (text) | (none)
//     array 1 "stress" values: 2 of 30 differ, largest difference 0.5 (relative 0.25)
//       4: 2 2.5
//       7: -1 -1.25
//   History:
//     record count: 1 | 2
//   Summary: 4 differences (9 node pairs, 4 array pairs, 51 values compared)
//
// A node missing on one side shows "-" for its identifier there. --brief prints the
// summary line only.
#pragma once

#include <ostream>
#include <string>

#include "diff/differences.hpp"

namespace MoxDiff {

void PrintReport(const DiffResult& result, bool brief, std::ostream& out);
std::string SummaryLine(const DiffResult& result);
// A value of an array as the report shows it.
std::string WordText(std::uint32_t word, bool integers);
// A statistic: shortest text, "inf" for infinity.
std::string StatisticText(double value);

}  // namespace MoxDiff
