// Stored values: the component codec (byte planes per component, exact inverse), the
// data loader that fetches a stored run from an open container, and numeric arrays.
#include <random>

#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/numeric_array.hpp"
#include "mox_helpers.hpp"

namespace {

using MoxTest::Bytes;
using MoxTest::Failure;

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

// ---- The data loader: values of one stored run fetched from an open container ----

const std::vector<std::int32_t> kInts = {1, -2, 3, 400000, -500000, 6, 7};
const std::vector<float> kFloats = {0.5f, -1.25f, 3.0e7f, 4.0f};

// "Heavy Data": 8 filler bytes, kInts encoded with 3 components (7 values: one left over),
// then kFloats as they are; zlib-compressed.
class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    MoxTest::WriteContainer(
        path_,
        [&](KivRkf::RkFile& f) {
          f.GetIndex().Put(MoxTest::kHeavy, std::uint64_t{0x1122334455667788});
          const Bytes ints(reinterpret_cast<const std::uint8_t*>(kInts.data()),
                           reinterpret_cast<const std::uint8_t*>(kInts.data() + kInts.size()));
          const Bytes encoded = Encode(ints, 3);
          f.GetIndex().Put(MoxTest::kHeavy, encoded.data(), std::uint32_t(encoded.size()));
          f.GetIndex().Put(MoxTest::kHeavy, kFloats.data(), std::uint32_t(kFloats.size() * 4));
        },
        true);
    reader_ = std::make_unique<MoxTest::Reader>(path_);
  }
  KivMox::DataLoader Make(bool ints, std::uint32_t kind) {
    KivMox::DataLoader l;
    l.source = &reader_->Index();
    l.section = MoxTest::kHeavy;
    l.position = ints ? 8 : 8 + kInts.size() * 4;
    l.byteSize = ints ? kInts.size() * 4 : kFloats.size() * 4;
    l.componentCount = ints ? 3 : 1;
    l.encoded = ints ? 1 : 0;
    l.valueKind = kind;
    return l;
  }
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("values.mox");
  std::unique_ptr<MoxTest::Reader> reader_;
};

// Integers decoded, floats stored as they are; a value kind the variant does not accept
// is bad casting; fewer than four bytes leave the output unchanged; a byte size that is
// not a multiple of four is a read error, one beyond the stored bytes fails before
// allocating. A failure leaves the output unchanged.
TEST_F(Loader, LoadToChecksTheKindAndTheByteSize) {
  struct Case {
    bool ints;
    std::uint32_t kind;
    std::uint64_t byteSize;  // 0: the stored run's
    int code;
    const char* description;
  };
  const char* kCast = "Bad Casting";
  const Case cases[] = {{true, 0, 0, 0, ""},
                        {true, 5, 0, 0, ""},
                        {false, 0, 0, 0, ""},
                        {false, 1, 0, 0, ""},
                        {false, 5, 0, 12, kCast},
                        {true, 1, 0, 12, kCast},
                        {true, 3, 0, 12, kCast},
                        {true, 0, 3, 0, ""},
                        {false, 0, 6, 9, "The byte size is not a multiple of 4"},
                        {false, 0, 0xFFFFFFF0, 1, "Not enough bytes in the block"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    KivMox::DataLoader l = Make(c.ints, c.kind);
    if (c.byteSize) l.byteSize = c.byteSize;
    std::vector<std::int32_t> ints = {99};
    std::vector<float> floats = {2.0f};
    std::string description;
    auto load = [&] { c.ints ? l.LoadTo(ints) : l.LoadTo(floats); };
    if (c.code)
      EXPECT_EQ(Failure(load, &description), c.code);
    else
      load();
    const bool loaded = c.code == 0 && !c.byteSize;
    EXPECT_EQ(ints, loaded && c.ints ? kInts : std::vector<std::int32_t>{99});
    EXPECT_EQ(floats, loaded && !c.ints ? kFloats : std::vector<float>{2.0f});
    EXPECT_EQ(description, c.description);
  }
}

// Copies share one buffer until Allocate gives a fresh one.
TEST(NumericArray, CopiesShareTheBufferUntilAllocateGivesAFreshOne) {
  KivMox::NumericArray a;
  a.Allocate(8)[0] = 1;
  KivMox::NumericArray older = a;
  EXPECT_EQ(older.Bytes(), a.Bytes());
  EXPECT_NE(a.Allocate(16), older.Bytes());
  EXPECT_EQ(
      std::make_tuple(int(older.Bytes()[0]), older.byteSize, a.byteSize, older.data.use_count()),
      std::make_tuple(1, std::uint64_t{8}, std::uint64_t{16}, 1L));
}

}  // namespace
