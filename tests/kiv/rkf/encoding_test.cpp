// Byte layouts of typed values, and reading them back from short or hostile blocks.
// encoding.hpp is reached through block.hpp, which declares the Codec family first.
#include "kiv/rkf/block.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using KivRkf::Block;
using TestSupport::CodeOf;

template <class T>
Bytes Encode(const T& value) {
  Block b;
  b.Put(value);
  return Bytes(b.Data(), b.Data() + b.Size());
}

Block BlockOf(const Bytes& bytes) {
  Block b;
  if (!bytes.empty()) b.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  b.SetPosition(0u);
  return b;
}

template <class T>
T Decode(const Bytes& bytes, T value = T{}) {
  Block b = BlockOf(bytes);
  b.Get(value);
  EXPECT_EQ(b.Position(), b.Size());
  return value;
}

TEST(Encoding, ByteStrings) {
  EXPECT_EQ(Encode(std::string("abc")), (Bytes{3, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(Encode(std::string()), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Decode<std::string>({3, 0, 0, 0, 'a', 'b', 'c'}), "abc");
  // A count of 0 leaves the destination as it was.
  EXPECT_EQ(Decode<std::string>({0, 0, 0, 0}, "kept"), "kept");
}

TEST(Encoding, StringWithNulComesBackCutButThePositionMovesPastAllBytes) {
  Block b = BlockOf({3, 0, 0, 0, 'a', 0, 'b', 0x7F});
  std::string s;
  b.Get(s);
  EXPECT_EQ(s, "a");
  EXPECT_EQ(b.Position(), 7u);
}

TEST(Encoding, WideStringsAsUtf8) {
  EXPECT_EQ(Encode(std::wstring(L"\u00E9")), (Bytes{2, 0, 0, 0, 0xC3, 0xA9}));
  EXPECT_EQ(Decode<std::wstring>({2, 0, 0, 0, 0xC3, 0xA9}), L"\u00E9");
  std::wstring mixed = L"a\u20AC\U0001F600z";
  EXPECT_EQ(Encode(mixed).size(), 4u + 1 + 3 + 4 + 1);
  EXPECT_EQ(Decode<std::wstring>(Encode(mixed)), mixed);
  EXPECT_EQ(Decode<std::wstring>({0, 0, 0, 0}, L"old"), L"");
}

TEST(Encoding, InvalidUtf8GivesTheEmptyWideString) {
  EXPECT_EQ(Decode<std::wstring>({2, 0, 0, 0, 0xC3, 0x41}), L"");        // bad continuation
  EXPECT_EQ(Decode<std::wstring>({1, 0, 0, 0, 0xE2}), L"");              // cut sequence
  EXPECT_EQ(Decode<std::wstring>({2, 0, 0, 0, 0xC0, 0xAF}), L"");        // overlong form
  EXPECT_EQ(Decode<std::wstring>({3, 0, 0, 0, 0xED, 0xA0, 0x80}), L"");  // surrogate
  EXPECT_EQ(Decode<std::wstring>({1, 0, 0, 0, 0xFF}), L"");
}

TEST(Encoding, Numbers) {
  EXPECT_EQ(Encode(1.0f), (Bytes{0x00, 0x00, 0x80, 0x3F}));
  EXPECT_EQ(Encode(1.0), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(Encode(std::int16_t(-2)), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Encode(std::uint64_t(0x0102030405060708)), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Encode(true), (Bytes{1}));
  EXPECT_EQ(Decode<bool>({2}), true);
  EXPECT_EQ(Decode<double>(Encode(-0.1)), -0.1);
}

TEST(Encoding, FixedArraysHaveNoCount) {
  EXPECT_EQ(Encode(std::array<std::int32_t, 3>{1, -1, 2}),
            (Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}));
}

TEST(Encoding, Sequences) {
  EXPECT_EQ(Encode(std::vector<std::uint32_t>{1, 2}), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Encode(std::vector<std::uint32_t>{}), (Bytes{0, 0, 0, 0}));
  EXPECT_TRUE(Decode<std::vector<std::uint32_t>>({0, 0, 0, 0}, {7, 8}).empty());
  EXPECT_EQ(Decode<std::vector<std::uint32_t>>({1, 0, 0, 0, 9, 0, 0, 0}, {7, 8, 6}),
            (std::vector<std::uint32_t>{9}));
  std::vector<std::string> names{"x", "", "yz"};
  EXPECT_EQ(Encode(names), (Bytes{3, 0, 0, 0, 1, 0, 0, 0, 'x', 0, 0, 0, 0, 2, 0, 0, 0, 'y', 'z'}));
  EXPECT_EQ(Decode<std::vector<std::string>>(Encode(names)), names);
}

TEST(Encoding, MapsInKeyOrder) {
  std::map<std::string, std::uint8_t> m{{"b", 2}, {"a", 1}};
  EXPECT_EQ(Encode(m), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 1, 0, 0, 0, 'b', 2}));
  EXPECT_EQ((Decode<std::map<std::string, std::uint8_t>>(Encode(m), {{"z", 9}})), m);
  // A repeated key keeps the later value.
  Bytes twice{2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 1, 0, 0, 0, 'a', 5};
  EXPECT_EQ((Decode<std::map<std::string, std::uint8_t>>(twice)),
            (std::map<std::string, std::uint8_t>{{"a", 5}}));
}

TEST(Encoding, PairsAreTheirTwoFields) {
  std::pair<std::string, std::uint32_t> p{"k", 7};
  EXPECT_EQ(Encode(p), (Bytes{1, 0, 0, 0, 'k', 7, 0, 0, 0}));
}

TEST(Encoding, StringLongerThanTheBlockFails) {
  Block b = BlockOf({5, 0, 0, 0, 'a', 'b', 'c'});
  std::string s = "kept";
  std::string description;
  EXPECT_EQ(CodeOf([&] { b.Get(s); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_EQ(s, "kept");
}

TEST(Encoding, AbsurdCountsFailBeforeAllocating) {
  const Bytes huge{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  std::string s;
  std::vector<std::uint32_t> numbers;
  std::vector<std::string> strings;
  std::vector<std::vector<std::uint8_t>> nested;
  std::map<std::string, std::uint8_t> map;
  std::wstring wide;
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(s); }), 1);
  }
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(numbers); }), 1);
    EXPECT_TRUE(numbers.empty());
  }
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(strings); }), 1);
  }
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(nested); }), 1);
  }
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(map); }), 1);
  }
  {
    Block b = BlockOf(huge);
    EXPECT_EQ(CodeOf([&] { b.Get(wide); }), 1);
  }
  // Counts that would fit in memory but not in the bytes left: 2 strings need at least 8.
  Block b = BlockOf({2, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(CodeOf([&] { b.Get(strings); }), 1);
}

TEST(Encoding, TruncatedElementKeepsTheNewLength) {
  Block b = BlockOf({2, 0, 0, 0, 1, 0, 0, 0, 'x', 5, 0, 0, 0, 'y'});
  std::vector<std::string> v{"old"};
  EXPECT_EQ(CodeOf([&] { b.Get(v); }), 1);
  EXPECT_EQ(v, (std::vector<std::string>{"x", ""}));
}

}  // namespace
