// Escaping of stored texts for printing (display_text.hpp).
#include "kiv/util/display_text.hpp"

#include <cstdint>
#include <cstdio>

namespace Kiv::Util {

namespace {

// The length of the well-formed UTF-8 character at s[i] (2 to 4), or 0.
std::size_t CharacterLength(const std::string& s, std::size_t i, std::uint32_t& codePoint) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t n = 0;
  std::uint32_t cp = 0, lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  codePoint = cp;
  return n;
}

bool IsHidden(std::uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

void AppendHex(std::string& out, std::uint8_t b) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", b);
  out += hex;
}

}  // namespace

std::string DisplayText(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    const auto b = static_cast<std::uint8_t>(raw[i]);
    if (b == 0x1E) {
      out += "<RS>";
    } else if (b == '\\' || b == '"') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7F) {
      AppendHex(out, b);
    } else if (b >= 0x80) {
      std::uint32_t cp = 0;
      const std::size_t n = CharacterLength(raw, i, cp);
      if (n == 0 || IsHidden(cp)) {
        for (std::size_t k = 0; k < (n == 0 ? 1 : n); ++k)
          AppendHex(out, static_cast<std::uint8_t>(raw[i + k]));
        i += n == 0 ? 1 : n;
      } else {
        out.append(raw, i, n);
        i += n;
      }
      continue;
    } else {
      out += static_cast<char>(b);
    }
    ++i;
  }
  return out;
}

std::string Quoted(const std::string& raw) {
  return '"' + DisplayText(raw) + '"';
}

}  // namespace Kiv::Util
