// moxinfo --json: the listing (and with --blocks the block table) as one JSON document.
//
//   { "file", "containerVersion", "entryCount",
//     "nodes": [ { "id", "parent", "depth", "reached", "name", "type", "version",
//                  group: "mergeRoot", "attributes"; shape: "colour" [4];
//                  geometry: "arrays": [ { "index", "name", "kind", "subKind",
//                      "values", "components", "bytes", "attributes", "vibration",
//                      "min", "max", "nan"  |  "linked": { "node", "array", "resolves" } } ];
//                  node sets: "sets": [ { "name", "members" } ] } ],
//     "linkProblems": [ { "from", "link", "to", "problem", "depth" } ],
//     "history": [ { "applicationName", "applicationVersion", "formatVersion",
//                    "saveTime", "computerName", "userName", "callerText" } ],
//     "viewPoints": null | { "current", "groups": [ { "name", "entries" } ], "actions" },
//     "blocks": { "fileSize", "primaryOffset", "primaryLength",
//                 "rows": [ { "number", "serial", "name", "storedSize", "flags", "offset" } ] } }
//
// "nodes" lists every entry of the tree exactly once: the walk first, then the entries
// it did not reach ("reached": false). Texts are those of the text listing (DisplayText);
// "min" and "max" are numbers, or the strings "inf" and "-inf".
#pragma once

#include <nlohmann/json.hpp>

#include "info/block_listing.hpp"
#include "info/model_listing.hpp"

namespace MoxInfo {

nlohmann::json ListingJson(const ModelListing& listing, const BlockListing* blocks);

}  // namespace MoxInfo
