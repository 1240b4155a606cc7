// The stored form of heavy values: byte planes per component, remainder and trailing
// bytes carried, exact inverse.
#include "kiv/mox/component_codec.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& in, std::uint8_t c) {
  Bytes out(in.size(), 0xEE);
  KivMox::EncodeComponents(in.data(), out.data(), in.size(), c);
  return out;
}

Bytes Decode(const Bytes& in, std::uint8_t c) {
  Bytes out(in.size(), 0xEE);
  KivMox::DecodeComponents(in.data(), out.data(), in.size(), c);
  return out;
}

// The layout written out directly from its definition, one byte at a time.
Bytes ReferenceEncode(const Bytes& in, std::uint64_t c) {
  Bytes out = in;
  const std::uint64_t n = in.size() / 4;
  const std::uint64_t m = c ? n / c : 0;
  for (std::uint64_t k = 0; k < c && m; ++k)
    for (std::uint64_t j = 0; j < m; ++j)
      for (std::uint64_t b = 0; b < 4; ++b) out[4 * k * m + b * m + j] = in[4 * (j * c + k) + b];
  return out;
}

// Values 0xA3A2A1A0 .. 0xF3F2F1F0 (two items of three components) and a value and a byte
// that belong to no item: plane k is (ak, bk), byte-shuffled; the rest stays in place.
TEST(ComponentCodec, ThreeComponentsLayout) {
  Bytes in;
  for (std::uint8_t w : {0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0x10})
    for (std::uint8_t b = 0; b < 4; ++b) in.push_back(std::uint8_t(w + b));
  in.push_back(0x99);
  const Bytes expected = {0xA0, 0xD0, 0xA1, 0xD1, 0xA2, 0xD2, 0xA3, 0xD3, 0xB0, 0xE0,
                          0xB1, 0xE1, 0xB2, 0xE2, 0xB3, 0xE3, 0xC0, 0xF0, 0xC1, 0xF1,
                          0xC2, 0xF2, 0xC3, 0xF3, 0x10, 0x11, 0x12, 0x13, 0x99};
  EXPECT_EQ(Encode(in, 3), expected);
  EXPECT_EQ(ReferenceEncode(in, 3), expected);
  EXPECT_EQ(Decode(expected, 3), in);
}

// Every byte size (with 0 to 3 trailing bytes) around the 16-value runs and across several
// tiles, for the component counts in use and some unusual ones (none, more than the
// values): the fast paths agree with the definition and decoding restores the input. The
// buffers have exactly the byte size, so the sanitizer sees any access outside them.
TEST(ComponentCodec, MatchesTheDefinitionAndRoundTripsOverManyShapes) {
  KivMox::EncodeComponents(nullptr, nullptr, 0, 3);
  KivMox::DecodeComponents(nullptr, nullptr, 0, 1);
  std::mt19937 random(1234);
  const std::uint64_t valueCounts[] = {0,    1,    2,    3,    5,    15,   16,   17,    31,
                                       32,   33,   47,   48,   63,   100,  255,  1023,  1024,
                                       1025, 2047, 3072, 3073, 3075, 4099, 6151, 12289, 40003};
  const std::uint8_t components[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 16, 33, 255};
  for (std::uint64_t n : valueCounts) {
    for (std::uint64_t tail = 0; tail < 4; ++tail) {
      Bytes in(4 * n + tail);
      for (auto& byte : in) byte = std::uint8_t(random());
      for (std::uint8_t c : components) {
        SCOPED_TRACE("values " + std::to_string(n) + " tail " + std::to_string(tail) + " c " +
                     std::to_string(c));
        Bytes encoded = Encode(in, c);
        ASSERT_EQ(encoded, ReferenceEncode(in, c));
        ASSERT_EQ(Decode(encoded, c), in);
      }
    }
  }
}

}  // namespace
