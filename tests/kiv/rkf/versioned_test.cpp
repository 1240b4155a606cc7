// Versioned record frame: size field, version string, group selection by version,
// skipping of newer fields, legacy containers without size, and damaged sizes.
#include "kiv/rkf/versioned.hpp"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

// Three groups: u32 (0.1), u16 (0.2), u8 (0.3).
struct Sample {
  std::string version = "0.3";
  std::uint32_t a = 11;
  std::uint16_t b = 22;
  std::uint8_t c = 33;
};

// Eight groups of one byte each; groups[k - 1] is set by group k.
struct Wide {
  std::string version = "0.8";
  std::uint8_t groups[8] = {};
};

// Holds a Sample inside its only group, followed by a u32.
struct Outer {
  Sample inner;
  std::uint32_t tail = 0;
};

}  // namespace

namespace KivRkf {

template <>
struct VersionedRecord<Sample> {
  static std::string Version(const Sample& s) { return s.version; }
  static constexpr int kGroups = 3;
  static void Put(Block& b, const Sample& s, int group) {
    if (group == 1) b.Put(s.a);
    if (group == 2) b.Put(s.b);
    if (group == 3) b.Put(s.c);
  }
  static void Get(Block& b, Sample& s, int group) {
    if (group == 1) b.Get(s.a);
    if (group == 2) b.Get(s.b);
    if (group == 3) b.Get(s.c);
  }
};

template <>
struct VersionedRecord<Wide> {
  static std::string Version(const Wide& w) { return w.version; }
  static constexpr int kGroups = 8;
  static void Put(Block& b, const Wide& w, int group) { b.Put(w.groups[group - 1]); }
  static void Get(Block& b, Wide& w, int group) { b.Get(w.groups[group - 1]); }
};

template <>
struct VersionedRecord<Outer> {
  static std::string Version(const Outer&) { return "0.1"; }
  static constexpr int kGroups = 1;
  static void Put(Block& b, const Outer& o, int) {
    b.Put(o.inner);
    b.Put(o.tail);
  }
  static void Get(Block& b, Outer& o, int) {
    b.Get(o.inner);
    b.Get(o.tail);
  }
};

}  // namespace KivRkf

namespace {

using Bytes = std::vector<std::uint8_t>;
using KivRkf::Block;
using TestSupport::CodeOf;

Bytes BytesOf(const Block& b) {
  return Bytes(b.Data(), b.Data() + b.Size());
}

Block BlockOf(const Bytes& bytes) {
  Block b;
  if (!bytes.empty()) b.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  b.SetPosition(0u);
  return b;
}

// A frame written by hand: size (when sized), version, then raw payload bytes.
Bytes Frame(const std::string& version, const Bytes& payload, bool sized = true,
            std::uint32_t sizeOverride = 0) {
  Block b;
  if (sized) {
    std::uint32_t size = 4 + 4 + static_cast<std::uint32_t>(version.size() + payload.size());
    b.Put(sizeOverride ? sizeOverride : size);
  }
  b.Put(version);
  if (!payload.empty()) b.Put(payload.data(), static_cast<std::uint32_t>(payload.size()));
  return BytesOf(b);
}

TEST(VersionedTest, LegacyContainersAreExactlyTheFourOldOnes) {
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
  {
    KivRkf::ScopedContainerVersion scope("0.1b");
    EXPECT_EQ(KivRkf::CurrentContainerVersion(), "0.1b");
  }
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
  for (const char* v : {"0.1", "0.1a", "0.1b", "0.2"})
    EXPECT_TRUE(KivRkf::IsLegacyContainerVersion(v));
  for (const char* v : {"0.3", "0.1c", "0.20", "1.3", "", "0.1 "})
    EXPECT_FALSE(KivRkf::IsLegacyContainerVersion(v)) << v;
}

// The writer: size (from the record's own start), version, the groups of its version;
// legacy containers too get the size field.
TEST(VersionedTest, Writing) {
  Sample older;
  older.version = "0.1";
  Wide wide;
  for (int k = 0; k < 8; ++k) wide.groups[k] = static_cast<std::uint8_t>(k + 1);
  struct Case {
    const char* container;
    std::function<void(Block&)> put;
    Bytes expected;
  };
  const Case cases[] = {
      {"1.3",
       [](Block& b) { KivRkf::CopyToBlock_Versioned(b, Sample{}); },
       {18, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3', 11, 0, 0, 0, 22, 0, 33}},
      {"0.1",
       [](Block& b) { KivRkf::CopyToBlock_Versioned(b, Sample{}); },
       {18, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3', 11, 0, 0, 0, 22, 0, 33}},
      {"1.3", [&](Block& b) { KivRkf::CopyToBlock_Versioned(b, older); },
       Frame("0.1", {11, 0, 0, 0})},
      {"1.3", [&](Block& b) { KivRkf::CopyToBlock_Versioned(b, wide); },
       Frame("0.8", {1, 2, 3, 4, 5, 6, 7, 8})},
  };
  for (const Case& c : cases) {
    KivRkf::ScopedContainerVersion scope(c.container);
    Block b;
    b.Put(std::uint8_t{0x77});
    c.put(b);
    Bytes expected = {0x77};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(BytesOf(b), expected);
    EXPECT_EQ(b.Position(), b.Size());
  }
}

// The reader: group 1, then the groups up to the stored version (a version it does not
// know reads them all), then on to the end the size gives; legacy containers have no
// size. Damaged sizes fail with code 2 (below the frame, or smaller than what was read)
// or 1 (beyond the block), as does a record cut by the end of the block.
TEST(VersionedTest, Reading) {
  struct Case {
    const char* container;
    Bytes bytes;  // a record, then one byte of the next
    std::uint32_t a;
    std::uint16_t b;
    std::uint8_t c;
    int code;  // 0: read, else the failure's code
  };
  auto sized = [](const char* v, Bytes payload, std::uint32_t size = 0) {
    Bytes bytes = Frame(v, payload, true, size);
    bytes.push_back(0x99);
    return bytes;
  };
  auto bare = [](const char* v, Bytes payload) {
    Bytes bytes = Frame(v, payload, false);
    bytes.push_back(0x99);
    return bytes;
  };
  std::vector<Case> cases = {
      {"1.3", sized("0.3", {1, 0, 0, 0, 2, 0, 3}), 1, 2, 3, 0},
      {"1.3", sized("0.1", {5, 0, 0, 0}), 5, 22, 33, 0},
      {"1.3", sized("0.2", {5, 0, 0, 0, 6, 0}), 5, 6, 33, 0},
      {"1.3", sized("0.9", {5, 0, 0, 0, 6, 0, 7, 0xA1, 0xA2, 0xA3, 0xA4}), 5, 6, 7, 0},
      {"1.3", sized("0.1a", {5, 0, 0, 0, 6, 0, 7}), 5, 6, 7, 0},
      {"0.3", sized("0.1", {5, 0, 0, 0, 0xEE}), 5, 22, 33, 0},
      {"1.3", sized("0.3", {5, 0, 0, 0, 6, 0, 7}, 4 + 7 + 4), 0, 0, 0, 2},
      {"1.3", sized("0.3", {5, 0, 0, 0, 6, 0, 7}, 1000), 0, 0, 0, 1},
      {"0.2", bare("0.3", {5, 0, 0, 0, 6}), 0, 0, 0, 1},
  };
  for (const char* legacy : {"0.1", "0.1a", "0.1b", "0.2"})
    cases.push_back({legacy, bare("0.2", {5, 0, 0, 0, 6, 0}), 5, 6, 33, 0});
  for (std::uint8_t size : {0, 1, 4, 7}) {
    Bytes bytes = {size, 0, 0, 0};
    const Bytes rest = Frame("0.1", {5, 0, 0, 0}, false);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    cases.push_back({"1.3", bytes, 0, 0, 0, 2});
  }
  for (const Case& c : cases) {
    KivRkf::ScopedContainerVersion scope(c.container);
    Block b = BlockOf(c.bytes);
    Sample r;
    const std::string what = testing::PrintToString(c.bytes) + " in " + c.container;
    if (c.code != 0) {
      EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }), c.code) << what;
      continue;
    }
    KivRkf::CopyFromBlock_Versioned(b, r);
    EXPECT_EQ(r.a, c.a) << what;
    EXPECT_EQ(r.b, c.b) << what;
    EXPECT_EQ(r.c, c.c) << what;
    EXPECT_EQ(b.Position(), c.bytes.size() - 1) << what;
  }
}

TEST(VersionedTest, EighthGroupIsReadOnlyAfterVersionZeroSeven) {
  struct Case {
    const char* version;
    int groups;  // groups present in the stored record and expected to be read
  };
  for (Case c : {Case{"0.1", 1}, Case{"0.3", 3}, Case{"0.6", 6}, Case{"0.7", 7}, Case{"0.8", 8},
                 Case{"0.9", 8}, Case{"1.0", 8}}) {
    Bytes payload;
    for (int k = 1; k <= c.groups; ++k) payload.push_back(static_cast<std::uint8_t>(10 * k));
    Block b = BlockOf(Frame(c.version, payload));
    Wide w;
    KivRkf::CopyFromBlock_Versioned(b, w);
    for (int k = 1; k <= 8; ++k)
      EXPECT_EQ(w.groups[k - 1], k <= c.groups ? 10 * k : 0) << c.version << " group " << k;
    EXPECT_EQ(b.Position(), b.Size()) << c.version;
  }
}

TEST(VersionedTest, NestedNewerRecordIsSkippedInsideItsParent) {
  Bytes payload = Frame("0.5", {1, 0, 0, 0, 2, 0, 3, 0xC0, 0xC1});
  payload.insert(payload.end(), {9, 0, 0, 0});
  Block b = BlockOf(Frame("0.1", payload));
  Outer o;
  KivRkf::CopyFromBlock_Versioned(b, o);
  EXPECT_EQ(o.inner.a, 1u);
  EXPECT_EQ(o.inner.c, 3);
  EXPECT_EQ(o.tail, 9u);
  EXPECT_EQ(b.Position(), b.Size());
}

// Records are values of the typed encoding; a hostile count fails before allocating.
TEST(VersionedTest, SequencesOfRecords) {
  std::vector<Sample> samples(3);
  samples[1].a = 100;
  samples[2].version = "0.2";
  samples[2].b = 7;
  Block b;
  b.Put(samples);
  EXPECT_EQ(b.Size(), 4u + 18 + 18 + 17);
  b.SetPosition(0u);
  std::vector<Sample> read;
  b.Get(read);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[1].a, 100u);
  EXPECT_EQ(read[2].b, 7);
  EXPECT_EQ(read[2].c, 33);  // not stored in a "0.2" record
  Block hostile = BlockOf({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8});
  std::vector<Sample> none;
  EXPECT_EQ(CodeOf([&] { hostile.Get(none); }), 1);
  EXPECT_TRUE(none.empty());
}

}  // namespace
