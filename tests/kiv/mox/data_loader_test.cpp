// The data loader: values of one stored run fetched from an open container file, decoded,
// with the value kind check and the byte size rules.
#include "kiv/mox/data_loader.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "kiv/mox/component_codec.hpp"
#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivMox::DataLoader;
using TestSupport::CodeOf;

const std::string kHeavy = "Heavy Data";
const std::vector<std::int32_t> kInts = {1, -2, 3, 400000, -500000, 6, 7};
const std::vector<float> kFloats = {0.5f, -1.25f, 3.0e7f, 4.0f};

// "Heavy Data": 8 filler bytes, kInts encoded with 3 components (7 values: one left over),
// then kFloats as they are; zlib-compressed.
class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
      KivRkf::Index& index = f.GetIndex();
      index.Put(kHeavy, std::uint64_t{0x1122334455667788});
      std::vector<std::uint8_t> encoded(kInts.size() * 4);
      KivMox::EncodeComponents(reinterpret_cast<const std::uint8_t*>(kInts.data()), encoded.data(),
                               encoded.size(), 3);
      index.Put(kHeavy, encoded.data(), std::uint32_t(encoded.size()));
      index.Put(kHeavy, kFloats.data(), std::uint32_t(kFloats.size() * 4));
      index.SetBlockFlags(kHeavy, KivRkf::kFlagZlib);
    });
    reader_ = std::make_unique<TestSupport::ContainerReader>(path_);
  }

  DataLoader IntLoader(std::uint32_t kind) {
    DataLoader l;
    l.source = &reader_->Index();
    l.section = kHeavy;
    l.position = 8;
    l.byteSize = kInts.size() * 4;
    l.componentCount = 3;
    l.encoded = 1;
    l.valueKind = kind;
    return l;
  }
  DataLoader FloatLoader(std::uint32_t kind) {
    DataLoader l = IntLoader(kind);
    l.position = 8 + kInts.size() * 4;
    l.byteSize = kFloats.size() * 4;
    l.componentCount = 1;
    l.encoded = 0;
    return l;
  }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("values.mox");
  std::unique_ptr<TestSupport::ContainerReader> reader_;
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
    DataLoader l = c.ints ? IntLoader(c.kind) : FloatLoader(c.kind);
    if (c.byteSize) l.byteSize = c.byteSize;
    std::vector<std::int32_t> ints = {99};
    std::vector<float> floats = {2.0f};
    std::string description;
    if (c.code)
      EXPECT_EQ(CodeOf([&] { c.ints ? l.LoadTo(ints) : l.LoadTo(floats); }, &description), c.code);
    else
      c.ints ? l.LoadTo(ints) : l.LoadTo(floats);
    const bool loaded = c.code == 0 && !c.byteSize;
    EXPECT_EQ(ints, loaded && c.ints ? kInts : std::vector<std::int32_t>{99});
    EXPECT_EQ(floats, loaded && !c.ints ? kFloats : std::vector<float>{2.0f});
    EXPECT_EQ(description, c.description);
  }
}

TEST_F(Loader, StoredBytesCopyUnchangedOrDecoded) {
  DataLoader l = IntLoader(0);
  std::vector<std::uint8_t> stored(l.byteSize), decoded(l.byteSize);
  l.CopyStored(stored.data());
  l.CopyDecoded(decoded.data());
  std::vector<std::uint8_t> expected(l.byteSize);
  KivMox::EncodeComponents(reinterpret_cast<const std::uint8_t*>(kInts.data()), expected.data(),
                           expected.size(), 3);
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(std::memcmp(decoded.data(), kInts.data(), decoded.size()), 0);
  l.byteSize = 0xFFFFFFF0;
  EXPECT_EQ(CodeOf([&] { l.CopyStored(stored.data()); }), 1);
}

}  // namespace
