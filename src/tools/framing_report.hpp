// A block whose zlib stream gives fewer bytes than its length field declares. The loader
// takes the bytes the stream gives (the stored files of other writers may hold such blocks)
// where it never took the block's length from the field before. It does take it from the
// field for every "Heavy Data" block (a merge records the positions of the whole section
// before it reads any), and for a "Light Data" block that a seek passes over (any but a
// lone first block): there the read fails, or every later position shifts: a problem.
// Elsewhere nothing is lost: a warning.
#pragma once

#include <cstddef>
#include <string>

#include "kiv/rkf/zlib.hpp"
#include "tools/check_report.hpp"

namespace MoxTools {

// Block nth of the section, followed or not by another block of it.
bool LengthFieldCounts(const std::string& section, std::size_t nth, bool followed);
void ReportShorterStream(CheckReport& report, const std::string& where, const std::string& section,
                         std::size_t nth, bool followed, const KivRkf::Framing& framing);

}  // namespace MoxTools
