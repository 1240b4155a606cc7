// The lists of a node-set record checked against what they must hold to read back as they
// were written: count + 1 offsets per list, from 0, never decreasing, the last one at the
// end of the joined names or of the member values, as many first as second values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kiv/mox/nodesets.hpp"

namespace MoxTools {

// One text per fault, naming the list and the offset ("its first member offset is 2, not 0");
// empty when the lists are sound for count sets.
std::vector<std::string> NodeSetListFaults(const KivMox::NodeSetLists& lists, std::uint32_t count);

}  // namespace MoxTools
