#include "kiv/rkf/env.hpp"

#include <cctype>
#include <cstdlib>

namespace KivRkf {

std::uint32_t ConvertU32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + std::uint64_t(text[i] - '0');
    if (value > 0xFFFFFFFFull) overflow = true, value = 0xFFFFFFFFull;
  }
  if (overflow) return 0xFFFFFFFFu;
  auto v = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - v) : v;
}

std::optional<std::uint32_t> ReadEnvU32(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return ConvertU32(v);
}

}  // namespace KivRkf
