#include "kiv/rkf/block.hpp"
#include "kiv/log/raise.hpp"

namespace KivRkf {

void CheckCount(const Block& block, std::uint64_t count, std::uint64_t minSize) {
  KIV_CHECK(count * (minSize ? minSize : 1) <= block.Remaining(), OutOfBounds,
            "Not enough bytes in the block", "KivRkf::Block::Get");
}

void Codec<std::string>::Put(Block& b, const std::string& v) {
  auto n = static_cast<std::uint32_t>(v.size());
  b.Put(&n, 4);
  if (n) b.Put(v.data(), n);
}

void Codec<std::string>::Get(Block& b, std::string& v) {
  std::uint32_t n = 0;
  b.Get(&n, 4);
  if (n == 0) return;
  const auto* p = reinterpret_cast<const char*>(b.Skip(n));
  std::size_t len = 0;
  while (len < n && p[len] != '\0') ++len;
  v.assign(p, len);
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  std::size_t i = 0, n = text.size();
  while (i < n) {
    auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t c = 0;
    int extra = 0;
    std::uint32_t min = 0;
    if (b0 < 0x80) {
      c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      c = b0 & 0x1F, extra = 1, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      c = b0 & 0x0F, extra = 2, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      c = b0 & 0x07, extra = 3, min = 0x10000;
    } else {
      return {};
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= n) return {};
      auto bk = static_cast<unsigned char>(text[i + k]);
      if ((bk & 0xC0) != 0x80) return {};
      c = (c << 6) | (bk & 0x3F);
    }
    if (extra && c < min) return {};
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    out += static_cast<wchar_t>(c);
    i += 1 + extra;
  }
  return out;
}

}  // namespace KivRkf
