// Numeric environment settings, converted as the C library's unsigned base-10
// conversion with a 32-bit result: leading blanks skipped, an optional sign, digits up
// to the first non-digit; no digits give 0; a value that does not fit gives 4294967295;
// a leading minus negates modulo 2^32.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace KivRkf {

std::uint32_t ConvertU32(std::string_view text);
// The converted value of the variable, or nothing when it is unset.
std::optional<std::uint32_t> ReadEnvU32(const char* name);

}  // namespace KivRkf
