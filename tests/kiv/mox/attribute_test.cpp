// Attribute maps: six lists in key order, read back through a real container file, and
// damaged lists rejected with code 9.
#include "kiv/mox/attribute.hpp"

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::Attribute;
using KivMox::AttributeMap;
using TestSupport::Bytes;
using TestSupport::RecordFile;

const std::string kSection = "Attributes";

struct Lists {
  std::vector<std::string> names;
  std::vector<std::uint8_t> types;
  std::vector<std::uint32_t> ints, floats;
  std::vector<std::uint64_t> values64;
  std::vector<std::string> texts;
};

// Reads the map from a file the callback fills; the code of the failure, 0 without one.
int Read(const std::function<void(KivRkf::Index&)>& fill, AttributeMap& read, bool zlib = false,
         std::string* description = nullptr) {
  RecordFile file(fill, zlib);
  try {
    KivMox::ReadAttributeMap(file.Index(), kSection, read);
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  }
  return 0;
}

int Read(const Lists& l, AttributeMap& read, std::string* description = nullptr) {
  return Read(
      [&](KivRkf::Index& index) {
        TestSupport::PutAll(index, kSection, l.names, l.types, l.ints, l.floats, l.values64,
                            l.texts);
      },
      read, false, description);
}

TEST(AttributeTest, ListsFollowTheKeyOrder) {
  RecordFile empty([](KivRkf::Index& index) { KivMox::WriteAttributeMap(index, kSection, {}); });
  EXPECT_EQ(empty.StreamBytes(kSection), Bytes(24, 0));
  AttributeMap map;
  map["b"] = Attribute::MakeInt(-2);
  map["a"] = Attribute::MakeText("xy");
  map["c"] = Attribute::MakeFloat(1.0f);
  map["d"] = Attribute::MakeValue64(0x0102030405060708ull);
  map["e"] = Attribute::MakeInt(7);
  RecordFile file([&](KivRkf::Index& index) { KivMox::WriteAttributeMap(index, kSection, map); });
  const Bytes expected = {
      5, 0, 0,   0,  // names
      1, 0, 0,   0, 'a',  1,    0,    0,    0,   'b', 1, 0, 0, 0, 'c', 1, 0,
      0, 0, 'd', 1, 0,    0,    0,    'e',  5,   0,   0, 0, 2, 0, 1,   3, 0,  // types
      2, 0, 0,   0, 0xFE, 0xFF, 0xFF, 0xFF, 7,   0,   0, 0,                   // Int32
      1, 0, 0,   0, 0x00, 0x00, 0x80, 0x3F,                                   // Float32
      1, 0, 0,   0, 8,    7,    6,    5,    4,   3,   2, 1,                   // Value64
      1, 0, 0,   0, 2,    0,    0,    0,    'x', 'y'};                        // texts
  EXPECT_EQ(file.StreamBytes(kSection), expected);
}

TEST(AttributeTest, MixedTypesRoundTripThroughACompressedFile) {
  AttributeMap map;
  map["count"] = Attribute::MakeInt(-123456);
  map["density"] = Attribute::MakeFloat(7.85f);
  map["nan"] = Attribute::MakeFloat(std::bit_cast<float>(0x7FC00123u));
  map["label"] = Attribute::MakeText("steel plate");
  map["empty"] = Attribute::MakeText("");
  map["id"] = Attribute::MakeValue64(0xFFFFFFFFFFFFFFFEull);
  map["zz"] = Attribute::MakeInt(1);
  AttributeMap read;
  EXPECT_EQ(Read([&](KivRkf::Index& index) { KivMox::WriteAttributeMap(index, kSection, map); },
                 read, true),
            0);
  EXPECT_EQ(read, map);
  EXPECT_EQ(read["label"].type, KivMox::AttributeType::Text);
  EXPECT_STREQ(read["label"].text, "steel plate");
  EXPECT_EQ(std::bit_cast<std::uint32_t>(read["nan"].float32), 0x7FC00123u);
}

TEST(AttributeTest, ValuesAreTakenInOrderFromTheirTypeListAndTextsCutTo255) {
  EXPECT_EQ(std::string(Attribute::MakeText(std::string(300, 'q')).text), std::string(255, 'q'));
  Lists l{{"a", "b", "c", "d", "t"}, {0, 1, 0, 1, 2}, {10, 20}, {}, {}, {std::string(300, 'q')}};
  l.floats = {std::bit_cast<std::uint32_t>(1.5f), std::bit_cast<std::uint32_t>(2.5f)};
  AttributeMap read;
  ASSERT_EQ(Read(l, read), 0);
  EXPECT_EQ(read["a"].int32, 10);
  EXPECT_EQ(read["c"].int32, 20);
  EXPECT_EQ(read["b"].float32, 1.5f);
  EXPECT_EQ(read["d"].float32, 2.5f);
  EXPECT_EQ(std::string(read["t"].text), std::string(255, 'q'));
}

// Names and types that disagree, missing or surplus values, unknown type codes: code 9.
TEST(AttributeTest, DamagedListsAreAReadError) {
  const Lists damaged[] = {
      {{"a", "b"}, {0}, {1}, {}, {}, {}}, {{"a", "b", "c"}, {2, 2, 3}, {}, {}, {1}, {"only one"}},
      {{"a"}, {1}, {}, {1, 2}, {}, {}},   {{"a", "b"}, {0, 7}, {1}, {}, {}, {}},
      {{"a"}, {4}, {}, {}, {}, {}},
  };
  for (const Lists& l : damaged) {
    AttributeMap read;
    std::string description;
    EXPECT_EQ(Read(l, read, &description), 9) << description;
    if (l.types.back() >= 4) {
      EXPECT_NE(description.find(std::to_string(l.types.back())), std::string::npos) << description;
    }
  }
  AttributeMap read;
  std::string description;
  EXPECT_EQ(Read(
                [](KivRkf::Index& index) {  // type list count without its bytes
                  TestSupport::PutAll(index, kSection, std::vector<std::string>{"a", "b"},
                                      std::uint32_t{2});
                },
                read, false, &description),
            1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

}  // namespace
