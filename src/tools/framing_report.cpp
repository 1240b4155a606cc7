#include "tools/framing_report.hpp"

#include "kiv/mox/sections.hpp"

namespace MoxTools {

bool LengthFieldCounts(const std::string& section, std::size_t nth, bool followed) {
  return section == KivMox::kHeavyData || (section == KivMox::kLightData && (nth > 0 || followed));
}

void ReportShorterStream(CheckReport& report, const std::string& where, const std::string& section,
                         std::size_t nth, bool followed, const KivRkf::Framing& framing) {
  if (LengthFieldCounts(section, nth, followed))
    report.Problem(where, framing.Describe() + "; the readers take the length from the field");
  else
    report.Warning(where, framing.Describe() + "; the readers take the bytes it gives");
}

}  // namespace MoxTools
