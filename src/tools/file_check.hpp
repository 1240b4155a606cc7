// moxinfo --check: reads a whole Mox file, as a merge would and further, and reports every
// problem and warning it finds (check_report.hpp) instead of stopping at the first.
//
//   1. the container: magic, version, primary index and the chain of index blocks; a file
//      whose table cannot be read is reported as that one problem; a file shorter than its
//      table says is one problem too, and the steps below go on with the blocks inside it
//      (those past its end are reported, not read);
//   2. the save history, the node tree (every header and record) and the view points, each
//      read by the program's own readers; a failure cuts its section short there and is
//      reported with the node or record it stood at;
//   3. every other block of every section but "Heavy Data" (those the readers did not
//      inflate whole, damaged ones among them), inflated once;
//   4. "Heavy Data" in one pass (heavy_check.hpp);
//   5. links that the readers accept but that lead nowhere (warnings).
#pragma once

#include <string>

#include "tools/check_report.hpp"

namespace MoxTools {

CheckReport CheckFile(const std::string& path);

}  // namespace MoxTools
