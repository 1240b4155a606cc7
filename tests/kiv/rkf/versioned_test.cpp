// Versioned record frame: size field, version string, group selection by version,
// skipping of newer fields, legacy containers without size, and damaged sizes.
#include "kiv/rkf/versioned.hpp"

#include <cstring>
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

TEST(VersionedTest, CurrentContainerVersionIsOneThreeOutsideLoading) {
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
  {
    KivRkf::ScopedContainerVersion scope("0.1b");
    EXPECT_EQ(KivRkf::CurrentContainerVersion(), "0.1b");
  }
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");
}

TEST(VersionedTest, LegacyContainerVersionsAreExactlyTheFourOldOnes) {
  for (const char* v : {"0.1", "0.1a", "0.1b", "0.2"})
    EXPECT_TRUE(KivRkf::IsLegacyContainerVersion(v));
  for (const char* v : {"0.3", "0.1c", "0.20", "1.3", "", "0.1 "})
    EXPECT_FALSE(KivRkf::IsLegacyContainerVersion(v)) << v;
}

TEST(VersionedTest, WritesSizeVersionAndAllGroups) {
  Block b;
  KivRkf::CopyToBlock_Versioned(b, Sample{});
  const Bytes expected = {18, 0, 0, 0,                 // size
                          3,  0, 0, 0, '0', '.', '3',  // version
                          11, 0, 0, 0,                 // group 1
                          22, 0,                       // group 2
                          33};                         // group 3
  EXPECT_EQ(BytesOf(b), expected);
  EXPECT_EQ(b.Position(), 18u);
}

TEST(VersionedTest, SizeCountsFromTheRecordStartNotTheBlockStart) {
  Block b;
  b.Put(std::uint32_t{0xDEADBEEF});
  KivRkf::CopyToBlock_Versioned(b, Sample{});
  b.Put(std::uint8_t{0x77});
  ASSERT_EQ(b.Size(), 4u + 18u + 1u);
  Bytes bytes = BytesOf(b);
  EXPECT_EQ(bytes[4], 18);
  EXPECT_EQ(bytes[0], 0xEF);
  EXPECT_EQ(bytes.back(), 0x77);
}

TEST(VersionedTest, OlderVersionIsWrittenWithItsGroupsOnly) {
  Sample s;
  s.version = "0.1";
  Block b;
  KivRkf::CopyToBlock_Versioned(b, s);
  EXPECT_EQ(BytesOf(b), Frame("0.1", {11, 0, 0, 0}));
}

TEST(VersionedTest, WriterKeepsTheSizeFieldInLegacyContainers) {
  KivRkf::ScopedContainerVersion scope("0.1");
  Block b;
  KivRkf::CopyToBlock_Versioned(b, Sample{});
  EXPECT_EQ(b.Size(), 18u);
  EXPECT_EQ(b.Data()[0], 18);
}

TEST(VersionedTest, RoundTripOfTheCurrentVersion) {
  Sample s;
  s.a = 0x01020304;
  s.b = 0xBEEF;
  s.c = 0xFE;
  Block b;
  KivRkf::CopyToBlock_Versioned(b, s);
  b.SetPosition(0u);
  Sample r;
  r.a = r.b = r.c = 0;
  r.version.clear();
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.a, 0x01020304u);
  EXPECT_EQ(r.b, 0xBEEF);
  EXPECT_EQ(r.c, 0xFE);
  EXPECT_EQ(b.Position(), b.Size());
}

TEST(VersionedTest, VersionOneReadsGroupOneAndKeepsTheDefaults) {
  Bytes bytes = Frame("0.1", {5, 0, 0, 0});
  bytes.push_back(0x99);  // the next record's first byte
  Block b = BlockOf(bytes);
  Sample r;
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.a, 5u);
  EXPECT_EQ(r.b, 22);
  EXPECT_EQ(r.c, 33);
  EXPECT_EQ(b.Position(), bytes.size() - 1);
}

TEST(VersionedTest, VersionTwoReadsTwoGroups) {
  Block b = BlockOf(Frame("0.2", {5, 0, 0, 0, 6, 0}));
  Sample r;
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.a, 5u);
  EXPECT_EQ(r.b, 6);
  EXPECT_EQ(r.c, 33);
}

TEST(VersionedTest, NewerVersionIsReadWithKnownGroupsAndTheRestSkipped) {
  Bytes bytes = Frame("0.9", {5, 0, 0, 0, 6, 0, 7, 0xA1, 0xA2, 0xA3, 0xA4});
  bytes.push_back(0x55);
  Block b = BlockOf(bytes);
  Sample r;
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.a, 5u);
  EXPECT_EQ(r.b, 6);
  EXPECT_EQ(r.c, 7);
  EXPECT_EQ(b.Position(), bytes.size() - 1);
  std::uint8_t next = 0;
  b.Get(next);
  EXPECT_EQ(next, 0x55);
}

TEST(VersionedTest, FourCharacterVersionNeverMatchesAnOlderOne) {
  Block b = BlockOf(Frame("0.1a", {5, 0, 0, 0, 6, 0, 7}));
  Sample r;
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.b, 6);
  EXPECT_EQ(r.c, 7);
  EXPECT_EQ(b.Position(), b.Size());
}

TEST(VersionedTest, LegacyContainersHaveNoSizeField) {
  for (const char* container : {"0.1", "0.1a", "0.1b", "0.2"}) {
    KivRkf::ScopedContainerVersion scope(container);
    Bytes bytes = Frame("0.2", {5, 0, 0, 0, 6, 0}, false);
    bytes.push_back(0x42);
    Block b = BlockOf(bytes);
    Sample r;
    KivRkf::CopyFromBlock_Versioned(b, r);
    EXPECT_EQ(r.a, 5u) << container;
    EXPECT_EQ(r.b, 6) << container;
    EXPECT_EQ(r.c, 33) << container;
    EXPECT_EQ(b.Position(), bytes.size() - 1) << container;
  }
}

TEST(VersionedTest, ContainerZeroThreeRecordsCarryTheSize) {
  KivRkf::ScopedContainerVersion scope("0.3");
  Block b = BlockOf(Frame("0.1", {5, 0, 0, 0, 0xEE}));
  Sample r;
  KivRkf::CopyFromBlock_Versioned(b, r);
  EXPECT_EQ(r.a, 5u);
  EXPECT_EQ(b.Position(), b.Size());
}

TEST(VersionedTest, SizeSmallerThanTheKnownGroupsIsAnUnknownVersion) {
  // A "0.3" record whose size claims only group 1.
  Block b = BlockOf(Frame("0.3", {5, 0, 0, 0, 6, 0, 7}, true, 4 + 7 + 4));
  Sample r;
  try {
    KivRkf::CopyFromBlock_Versioned(b, r);
    FAIL() << "no exception";
  } catch (const Kiv::Util::Exception& e) {
    EXPECT_EQ(e.GetCode(), Kiv::Util::ErrorCode::UnknownVersion);
    EXPECT_STREQ(e.GetDescription(), "Unknown Version");
    EXPECT_STREQ(e.GetRecord().method, "KivRkf::CopyFromBlock_Versioned");
  }
}

TEST(VersionedTest, SizeBelowTheFrameFailsWithoutSkippingBackwards) {
  for (std::uint32_t size : {0u, 1u, 4u, 7u}) {
    Bytes bytes = {0, 0, 0, 0};
    bytes[0] = static_cast<std::uint8_t>(size);
    Bytes rest = Frame("0.1", {5, 0, 0, 0}, false);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    Block b = BlockOf(bytes);
    Sample r;
    EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }), 2) << size;
  }
}

TEST(VersionedTest, SizeBeyondTheBlockFailsWithNotEnoughBytes) {
  Block b = BlockOf(Frame("0.3", {5, 0, 0, 0, 6, 0, 7}, true, 1000));
  Sample r;
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
}

TEST(VersionedTest, TruncatedRecordFailsInTheBlock) {
  KivRkf::ScopedContainerVersion scope("0.2");
  Block b = BlockOf(Frame("0.3", {5, 0, 0, 0, 6}, false));
  Sample r;
  std::string description;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
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

TEST(VersionedTest, EightGroupRecordWritesEveryGroup) {
  Wide w;
  for (int k = 0; k < 8; ++k) w.groups[k] = static_cast<std::uint8_t>(k + 1);
  Block b;
  KivRkf::CopyToBlock_Versioned(b, w);
  EXPECT_EQ(BytesOf(b), Frame("0.8", {1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(VersionedTest, NestedNewerRecordIsSkippedInsideItsParent) {
  Bytes inner = Frame("0.5", {1, 0, 0, 0, 2, 0, 3, 0xC0, 0xC1});
  Bytes payload = inner;
  payload.insert(payload.end(), {9, 0, 0, 0});
  Block b = BlockOf(Frame("0.1", payload));
  Outer o;
  KivRkf::CopyFromBlock_Versioned(b, o);
  EXPECT_EQ(o.inner.a, 1u);
  EXPECT_EQ(o.inner.c, 3);
  EXPECT_EQ(o.tail, 9u);
  EXPECT_EQ(b.Position(), b.Size());
}

TEST(VersionedTest, RecordsAreValuesOfTheTypedEncoding) {
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
}

TEST(VersionedTest, HostileRecordCountFailsBeforeAllocating) {
  Block b = BlockOf({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8});
  std::vector<Sample> read;
  EXPECT_EQ(CodeOf([&] { b.Get(read); }), 1);
  EXPECT_TRUE(read.empty());
}

}  // namespace
