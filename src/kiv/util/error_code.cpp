#include "kiv/util/error_code.hpp"

namespace Kiv::Util {

namespace {
constexpr const char* kTexts[kErrorCodeCount] = {
    "Memory Allocation Error",
    "Out of Bounds",
    "Unknown Version",
    "Not Initialized",
    "Element Exists",
    "Element Not Found",
    "Invalid Method",
    "Invalid Enumeration",
    "Invalid Object",
    "Read Error",
    "Write Error",
    "Format Not Supported",
    "Bad Casting",
    "Not Implemented",
    "Mis-match Error",
    "System Error",
    "Miscelleneous Error",
    "Zero Length",
    "Model Error",
    "State Error",
    "",
    "Invalid Arguments",
    "Invalid Exception",
};
}  // namespace

const char* ErrorCodeText(ErrorCode code) {
  auto i = static_cast<std::int32_t>(code);
  return (i >= 0 && i < kErrorCodeCount) ? kTexts[i] : "";
}

}  // namespace Kiv::Util
