// The stored form of heavy values: byte planes per component, remainder and trailing
// bytes carried, exact inverse.
#include "kiv/mox/component_codec.hpp"

#include <gtest/gtest.h>

#include <cstring>
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

Bytes Words(std::initializer_list<std::uint32_t> words) {
  Bytes out;
  for (std::uint32_t w : words)
    for (int b = 0; b < 4; ++b) out.push_back(std::uint8_t(w >> (8 * b)));
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

TEST(ComponentCodec, OneComponentTwoValues) {
  Bytes in = Words({0x04030201, 0x08070605});
  Bytes expected = {0x01, 0x05, 0x02, 0x06, 0x03, 0x07, 0x04, 0x08};
  EXPECT_EQ(Encode(in, 1), expected);
  EXPECT_EQ(Decode(expected, 1), in);
}

TEST(ComponentCodec, ThreeComponentsSixValues) {
  // Items (a0, a1, a2) and (b0, b1, b2); plane k is (ak, bk), byte-shuffled.
  Bytes in = Words({0xA3A2A1A0, 0xB3B2B1B0, 0xC3C2C1C0, 0xD3D2D1D0, 0xE3E2E1E0, 0xF3F2F1F0});
  Bytes expected = {0xA0, 0xD0, 0xA1, 0xD1, 0xA2, 0xD2, 0xA3, 0xD3,   // plane 0: a0, b0
                    0xB0, 0xE0, 0xB1, 0xE1, 0xB2, 0xE2, 0xB3, 0xE3,   // plane 1: a1, b1
                    0xC0, 0xF0, 0xC1, 0xF1, 0xC2, 0xF2, 0xC3, 0xF3};  // plane 2: a2, b2
  EXPECT_EQ(Encode(in, 3), expected);
  EXPECT_EQ(Decode(expected, 3), in);
}

TEST(ComponentCodec, TwoComponentsFiveValuesKeepTheFifthAtTheEnd) {
  Bytes in = Words({0x13121110, 0x23222120, 0x33323130, 0x43424140, 0x53525150});
  Bytes expected = {0x10, 0x30, 0x11, 0x31, 0x12, 0x32, 0x13, 0x33,  // plane 0: v0, v2
                    0x20, 0x40, 0x21, 0x41, 0x22, 0x42, 0x23, 0x43,  // plane 1: v1, v3
                    0x50, 0x51, 0x52, 0x53};                         // v4 as it is
  EXPECT_EQ(Encode(in, 2), expected);
  EXPECT_EQ(Decode(expected, 2), in);
}

TEST(ComponentCodec, ZeroComponentsIsTheIdentity) {
  Bytes in = Words({0x04030201, 0x08070605, 0x0C0B0A09});
  in.push_back(0x77);
  EXPECT_EQ(Encode(in, 0), in);
  EXPECT_EQ(Decode(in, 0), in);
}

TEST(ComponentCodec, FewerValuesThanComponentsStayAsTheyAre) {
  Bytes in = Words({0x04030201, 0x08070605});
  EXPECT_EQ(Encode(in, 3), in);
  EXPECT_EQ(Decode(in, 3), in);
}

TEST(ComponentCodec, TrailingBytesAreCarriedUnchanged) {
  // 9 bytes: two values and one byte that belongs to no value.
  Bytes in = Words({0x04030201, 0x08070605});
  in.push_back(0x99);
  Bytes expected = {0x01, 0x05, 0x02, 0x06, 0x03, 0x07, 0x04, 0x08, 0x99};
  EXPECT_EQ(Encode(in, 1), expected);
  EXPECT_EQ(Decode(expected, 1), in);
  // Fewer than 4 bytes: nothing to shuffle.
  for (std::size_t n = 1; n < 4; ++n) {
    Bytes tiny(n, 0x5A);
    EXPECT_EQ(Encode(tiny, 1), tiny);
    EXPECT_EQ(Decode(tiny, 3), tiny);
  }
}

TEST(ComponentCodec, EmptyBuffersAreAccepted) {
  KivMox::EncodeComponents(nullptr, nullptr, 0, 3);
  KivMox::DecodeComponents(nullptr, nullptr, 0, 1);
  SUCCEED();
}

// Every byte size (with 0 to 3 trailing bytes) around the 16-value runs and across several
// tiles, for the component counts in use and some unusual ones: the fast paths
// agree with the definition and decoding restores the input. The buffers have exactly
// the byte size, so the sanitizer sees any access outside them.
TEST(ComponentCodec, MatchesTheDefinitionAndRoundTripsOverManyShapes) {
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

TEST(ComponentCodec, OneComponentGroupsEqualBytesOfSmoothFloats) {
  // The point of the layout: the high bytes of similar floats end up side by side.
  std::vector<float> values(64);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = 1000.0f + float(i) * 0.25f;
  Bytes in(values.size() * 4);
  std::memcpy(in.data(), values.data(), in.size());
  Bytes encoded = Encode(in, 1);
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_EQ(encoded[192 + i], encoded[192]);
}

}  // namespace
