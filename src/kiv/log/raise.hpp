// Raise: the one way to report a failure. It publishes a level-2000 record and then
// throws Kiv::Util::Exception carrying the same description, file, line and method.
//
//   KIV_RAISE(code, description, method)        description may be nullptr (code's text)
//   KIV_CHECK(condition, code, description, method)   raises when condition is false
#pragma once

#include <cstdint>
#include <string>

#include "kiv/util/exception.hpp"

namespace Kiv::Log {

[[noreturn]] void Raise(Kiv::Util::ErrorCode code, const char* description, const char* file,
                        std::uint32_t line, const char* method);
[[noreturn]] inline void Raise(Kiv::Util::ErrorCode code, const std::string& description,
                               const char* file, std::uint32_t line, const char* method) {
  Raise(code, description.c_str(), file, line, method);
}

}  // namespace Kiv::Log

#define KIV_RAISE(code, description, method) \
  ::Kiv::Log::Raise(::Kiv::Util::ErrorCode::code, description, __FILE__, __LINE__, method)

#define KIV_CHECK(condition, code, description, method) \
  do {                                                  \
    if (!(condition)) KIV_RAISE(code, description, method); \
  } while (0)
