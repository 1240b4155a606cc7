// Attribute maps: six lists in key order, read back through a real container file, and
// damaged lists rejected with code 9.
#include "kiv/mox/attribute.hpp"

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::Attribute;
using KivMox::AttributeMap;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::RecordFile;

const std::string kSection = "Attributes";

struct Lists {
  std::vector<std::string> names;
  std::vector<std::uint8_t> types;
  std::vector<std::uint32_t> ints;
  std::vector<std::uint32_t> floats;
  std::vector<std::uint64_t> values64;
  std::vector<std::string> texts;
  void Put(KivRkf::Index& index) const {
    index.Put(kSection, names);
    index.Put(kSection, types);
    index.Put(kSection, ints);
    index.Put(kSection, floats);
    index.Put(kSection, values64);
    index.Put(kSection, texts);
  }
};

AttributeMap ReadBack(const AttributeMap& written, bool zlib = false) {
  RecordFile file(
      [&](KivRkf::Index& index) { KivMox::WriteAttributeMap(index, kSection, written); }, zlib);
  AttributeMap read;
  KivMox::ReadAttributeMap(file.Index(), kSection, read);
  return read;
}

int ReadCode(const Lists& lists, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::Index& index) { lists.Put(index); });
  AttributeMap read;
  return CodeOf([&] { KivMox::ReadAttributeMap(file.Index(), kSection, read); }, description);
}

TEST(AttributeTest, EmptyMapIsSixEmptyLists) {
  RecordFile file([](KivRkf::Index& index) { KivMox::WriteAttributeMap(index, kSection, {}); });
  EXPECT_EQ(file.StreamBytes(kSection), Bytes(24, 0));
  AttributeMap read;
  KivMox::ReadAttributeMap(file.Index(), kSection, read);
  EXPECT_TRUE(read.empty());
}

TEST(AttributeTest, ListsFollowTheKeyOrder) {
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
  AttributeMap read = ReadBack(map, true);
  EXPECT_EQ(read, map);
  EXPECT_EQ(read["label"].type, KivMox::AttributeType::Text);
  EXPECT_STREQ(read["label"].text, "steel plate");
  EXPECT_EQ(std::bit_cast<std::uint32_t>(read["nan"].float32), 0x7FC00123u);
}

TEST(AttributeTest, TextIsCutTo255Characters) {
  const std::string longText(300, 'q');
  Attribute a = Attribute::MakeText(longText);
  EXPECT_EQ(std::string(a.text), std::string(255, 'q'));

  Lists lists;
  lists.names = {"t"};
  lists.types = {2};
  lists.texts = {longText};
  RecordFile file([&](KivRkf::Index& index) { lists.Put(index); });
  AttributeMap read;
  KivMox::ReadAttributeMap(file.Index(), kSection, read);
  EXPECT_EQ(std::string(read["t"].text), std::string(255, 'q'));
}

TEST(AttributeTest, EveryValueIsTakenInOrderFromItsTypeList) {
  Lists lists;
  lists.names = {"a", "b", "c", "d"};
  lists.types = {0, 1, 0, 1};
  lists.ints = {10, 20};
  lists.floats = {std::bit_cast<std::uint32_t>(1.5f), std::bit_cast<std::uint32_t>(2.5f)};
  RecordFile file([&](KivRkf::Index& index) { lists.Put(index); });
  AttributeMap read;
  KivMox::ReadAttributeMap(file.Index(), kSection, read);
  EXPECT_EQ(read["a"].int32, 10);
  EXPECT_EQ(read["c"].int32, 20);
  EXPECT_EQ(read["b"].float32, 1.5f);
  EXPECT_EQ(read["d"].float32, 2.5f);
}

TEST(AttributeTest, NamesAndTypesThatDisagreeAreAReadError) {
  Lists lists;
  lists.names = {"a", "b"};
  lists.types = {0};
  lists.ints = {1};
  EXPECT_EQ(ReadCode(lists), 9);
}

TEST(AttributeTest, MissingValuesAreAReadError) {
  Lists lists;
  lists.names = {"a", "b", "c"};
  lists.types = {2, 2, 3};
  lists.texts = {"only one"};
  lists.values64 = {1};
  EXPECT_EQ(ReadCode(lists), 9);
}

TEST(AttributeTest, SurplusValuesAreAReadError) {
  Lists lists;
  lists.names = {"a"};
  lists.types = {1};
  lists.floats = {1, 2};
  EXPECT_EQ(ReadCode(lists), 9);
}

TEST(AttributeTest, UnknownTypeCodeIsAReadErrorNamingTheCode) {
  Lists lists;
  lists.names = {"a", "b"};
  lists.types = {0, 7};
  lists.ints = {1};
  std::string description;
  EXPECT_EQ(ReadCode(lists, &description), 9);
  EXPECT_NE(description.find('7'), std::string::npos) << description;
}

TEST(AttributeTest, TruncatedListFailsInTheBlock) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kSection, std::vector<std::string>{"a", "b"});
    index.Put(kSection, std::uint32_t{2});  // type list count without its bytes
  });
  AttributeMap read;
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivMox::ReadAttributeMap(file.Index(), kSection, read); }, &description),
            1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

}  // namespace
