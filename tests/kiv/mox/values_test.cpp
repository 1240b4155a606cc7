// Stored values: the component codec (byte planes per component, exact inverse), the
// data loader that fetches a stored run from an open container, and numeric arrays.
#include <random>

#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "mox_helpers.hpp"

namespace {

using MoxTest::Bytes;
using MoxTest::Failure;
using MoxTest::U8;

Bytes Code(const Bytes& in, std::uint8_t c, bool decode = false) {
  Bytes out(in.size(), 0xEE);
  (decode ? KivMox::DecodeComponents : KivMox::EncodeComponents)(in.data(), out.data(), in.size(),
                                                                 c);
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
  EXPECT_EQ(Code(in, 3), expected);
  EXPECT_EQ(ReferenceEncode(in, 3), expected);
  EXPECT_EQ(Code(expected, 3, true), in);
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
        Bytes encoded = Code(in, c);
        ASSERT_EQ(encoded, ReferenceEncode(in, c));
        ASSERT_EQ(Code(encoded, c, true), in);
      }
    }
  }
}

// ---- The data loader: values of one stored run fetched from an open container ----

// "Heavy Data" (zlib-compressed): 8 filler bytes, seven integers encoded with 3 components
// (one left over), then four floats as they are. Integers are decoded, floats taken as
// they are; a value kind the variant does not accept is bad casting; fewer than four
// bytes leave the output unchanged; a byte size that is not a multiple of four is a read
// error, one beyond the stored bytes fails before allocating. A failure leaves the output
// unchanged.
TEST(DataLoader, LoadToChecksTheKindAndTheByteSize) {
  const std::vector<std::int32_t> kInts = {1, -2, 3, 400000, -500000, 6, 7};
  const std::vector<float> kFloats = {0.5f, -1.25f, 3.0e7f, 4.0f};
  TestSupport::TempDir dir;
  const Bytes encoded = Code(Bytes(reinterpret_cast<const std::uint8_t*>(kInts.data()),
                                   reinterpret_cast<const std::uint8_t*>(kInts.data() + 7)),
                             3);
  MoxTest::WriteContainer(
      dir.File("v.mox"),
      [&](KivRkf::RkFile& f) {
        KivRkf::Index& ix = f.GetIndex();
        ix.Put(MoxTest::kHeavy, std::uint64_t{0x1122334455667788});
        ix.Put(MoxTest::kHeavy, encoded.data(), 28), ix.Put(MoxTest::kHeavy, kFloats.data(), 16);
      },
      true);
  MoxTest::Reader reader(dir.File("v.mox"));
  const char* kCast = "Bad Casting";
  const std::tuple<bool, std::uint32_t, std::uint64_t, int, const char*> cases[] = {
      // integers, value kind, byte size (0: the stored run's), code, description
      {true, 0, 0, 0, ""},
      {true, 5, 0, 0, ""},
      {false, 0, 0, 0, ""},
      {false, 1, 0, 0, ""},
      {false, 5, 0, 12, kCast},
      {true, 1, 0, 12, kCast},
      {true, 3, 0, 12, kCast},
      {true, 0, 3, 0, ""},
      {false, 0, 6, 9, "The byte size is not a multiple of 4"},
      {false, 0, 0xFFFFFFF0, 1, "Not enough bytes in the block"}};
  for (const auto& c : cases) {
    const auto& [isInt, kind, byteSize, code, text] = c;
    KivMox::DataLoader l;
    std::tie(l.source, l.section, l.position, l.byteSize, l.componentCount, l.encoded) =
        isInt ? std::make_tuple(&reader.Index(), MoxTest::kHeavy, 8ul, 28ul, U8{3}, U8{1})
              : std::make_tuple(&reader.Index(), MoxTest::kHeavy, 36ul, 16ul, U8{1}, U8{0});
    l.valueKind = kind;
    if (byteSize) l.byteSize = byteSize;
    std::vector<std::int32_t> ints = {99};
    std::vector<float> floats = {2.0f};
    std::string description;
    EXPECT_EQ(Failure([&] { isInt ? l.LoadTo(ints) : l.LoadTo(floats); }, &description), code);
    const bool loaded = code == 0 && !byteSize;
    EXPECT_EQ(ints, loaded && isInt ? kInts : std::vector<std::int32_t>{99}) << &c - cases;
    EXPECT_EQ(floats, loaded && !isInt ? kFloats : std::vector<float>{2.0f}) << &c - cases;
    EXPECT_EQ(description, text) << &c - cases;
  }
}

}  // namespace
