// Comparing the save histories of two files: the record count and, record by record,
// the seven texts of each record, and with versions the version it was read under.
#pragma once

#include <vector>

#include "diff/fields.hpp"
#include "kiv/mox/global_info.hpp"

namespace MoxDiff {

void CompareHistories(const std::vector<KivMox::GlobalInfoRecord>& left,
                      const std::vector<KivMox::GlobalInfoRecord>& right, bool versions,
                      Fields& fields);

}  // namespace MoxDiff
