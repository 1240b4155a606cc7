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

TEST_F(Loader, IntegersAreReadAndDecoded) {
  for (std::uint32_t kind : {0u, 5u}) {
    std::vector<std::int32_t> out = {99};
    IntLoader(kind).LoadTo(out);
    EXPECT_EQ(out, kInts);
  }
}

TEST_F(Loader, FloatsStoredAsTheyAreAreReadAsTheyAre) {
  for (std::uint32_t kind : {0u, 1u}) {
    std::vector<float> out;
    FloatLoader(kind).LoadTo(out);
    EXPECT_EQ(out, kFloats);
  }
}

TEST_F(Loader, AValueKindTheVariantDoesNotAcceptIsBadCasting) {
  std::vector<float> floats = {1.0f};
  std::string description;
  EXPECT_EQ(CodeOf([&] { IntLoader(5).LoadTo(floats); }, &description), 12);
  EXPECT_EQ(description, "Bad Casting");
  EXPECT_EQ(floats, std::vector<float>{1.0f});
  std::vector<std::int32_t> ints;
  EXPECT_EQ(CodeOf([&] { FloatLoader(1).LoadTo(ints); }), 12);
  EXPECT_EQ(CodeOf([&] { FloatLoader(3).LoadTo(ints); }), 12);
  EXPECT_TRUE(ints.empty());
}

TEST_F(Loader, FewerThanFourBytesLeaveTheOutputUnchanged) {
  for (std::uint64_t size : {0u, 3u}) {
    DataLoader l = IntLoader(0);
    l.byteSize = size;
    std::vector<std::int32_t> out = {5, 6};
    l.LoadTo(out);
    EXPECT_EQ(out, (std::vector<std::int32_t>{5, 6}));
  }
}

TEST_F(Loader, AByteSizeThatIsNotAMultipleOfFourIsAReadError) {
  DataLoader l = FloatLoader(0);
  l.byteSize = 6;
  std::vector<float> out = {2.0f};
  EXPECT_EQ(CodeOf([&] { l.LoadTo(out); }), 9);
  EXPECT_EQ(out, std::vector<float>{2.0f});
}

TEST_F(Loader, AByteSizeBeyondTheStoredBytesFailsBeforeAllocating) {
  DataLoader l = FloatLoader(0);
  l.byteSize = 0xFFFFFFF0;
  std::vector<float> out;
  std::string description;
  EXPECT_EQ(CodeOf([&] { l.LoadTo(out); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_TRUE(out.empty());
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
}

}  // namespace
