// moxdiff --json: the comparison as one JSON document.
//
//   { "left": { "file", "root" }, "right": { "file", "root" }, "equal",
//     "container": [ difference ],                 container versions (with --versions)
//     "nodes": [ { "path", "leftId", "rightId", "name",
//                  "differences": [ difference ],
//                  "arrays": [ { "index", "name", "integers", "compared", "differing",
//                                "largestAbsolute", "largestRelative",
//                                "first": [ { "index", "left", "right" } ] } ] } ],
//     "history": null | [ difference ],          null when not compared
//     "viewPoints": null | [ difference ],
//     "summary": { "differences", "nodesWithDifferences", "nodePairs", "arrayPairs",
//                  "valuesCompared" } }
//
// A difference is { "field", "left", "right" } with the texts of the human report. An
// identifier is null on the side without the node. Values are numbers; a NaN is the
// string "nan(0x...)" with its bits, infinities and infinite statistics "inf" and "-inf".
#pragma once

#include <nlohmann/json.hpp>

#include "diff/differences.hpp"

namespace MoxDiff {

nlohmann::ordered_json ReportJson(const DiffResult& result);

}  // namespace MoxDiff
