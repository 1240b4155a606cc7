// Versioned record frame: size field, version string, group selection by version,
// skipping of newer fields, legacy containers without size, and damaged sizes.
#include "kiv/rkf/versioned.hpp"

#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"

namespace {

using Groups = std::array<std::uint8_t, 8>;

// A record of N groups of one byte each; its version is written, not read back.
template <int N>
struct Rec {
  std::string version = "0.3";
  Groups g = {};
  bool operator==(const Rec&) const = default;
};

}  // namespace

namespace KivRkf {
template <int N>
struct VersionedRecord<Rec<N>> {
  static std::string Version(const Rec<N>& r) { return r.version; }
  static constexpr int kGroups = N;
  static void Put(Block& b, const Rec<N>& r, int group) { b.Put(r.g[group - 1]); }
  static void Get(Block& b, Rec<N>& r, int group) { b.Get(r.g[group - 1]); }
};
}  // namespace KivRkf

namespace {

using KivRkf::Block;
using KivRkf::ScopedContainerVersion;
using TestSupport::Bytes;

// One byte before, a frame written by hand (size when sized, or the one given; version;
// payload), one byte after.
Bytes Frame(const std::string& version, const Bytes& payload, bool sized = true,
            std::int64_t size = -1) {
  Block b;
  b.Put(std::uint8_t{0x77});
  if (sized)
    b.Put(static_cast<std::uint32_t>(size >= 0 ? size : 8 + version.size() + payload.size()));
  b.Put(version);
  b.Put(payload.data(), static_cast<std::uint32_t>(payload.size()));
  b.Put(std::uint8_t{0x99});
  return TestSupport::BytesOf(b);
}

// The groups of the record of N groups that starts one byte into bytes, and where the
// reader stopped.
template <int N>
std::pair<Groups, std::uint32_t> Read(const Bytes& bytes) {
  Block b = TestSupport::BlockOf(bytes);
  b.SetPosition(1u);
  Rec<N> record;
  KivRkf::CopyFromBlock_Versioned(b, record);
  return {record.g, b.Position()};
}

// The writer: size (from the record's own start), version, the groups of its version;
// legacy containers too get the size field.
TEST(Versioned, Writing) {
  auto written = [](const char* container, auto record) {
    ScopedContainerVersion scope(container);
    Block b;
    b.Put(std::uint8_t{0x77});
    KivRkf::CopyToBlock_Versioned(b, record);
    b.Put(std::uint8_t{0x99});
    return TestSupport::BytesOf(b);
  };
  const Bytes three = {0x77, 14, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3', 11, 22, 33, 0x99};
  EXPECT_EQ(written("1.3", Rec<3>{"0.3", {11, 22, 33}}), three);
  EXPECT_EQ(written("0.1", Rec<3>{"0.3", {11, 22, 33}}), three);
  EXPECT_EQ(written("1.3", Rec<3>{"0.1", {11, 22, 33}}), Frame("0.1", {11}));
  EXPECT_EQ(written("1.3", Rec<8>{"0.8", {1, 2, 3, 4, 5, 6, 7, 8}}),
            Frame("0.8", {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(KivRkf::CurrentContainerVersion(), "1.3");  // the scopes restored it
}

// The reader: group 1, then the groups up to the stored version (a version it does not
// know reads them all; the eighth only after "0.7"), then on to the end the size gives;
// legacy containers have no size. Damaged sizes fail with code 2 (below the frame, or
// smaller than what was read) or 1 (beyond the block), as does a record cut by the end.
TEST(Versioned, Reading) {
  const Bytes g8 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::vector<std::tuple<const char*, Bytes, int, Groups>> cases = {
      // record groups, or minus the failure code
      {"1.3", Frame("0.3", {1, 2, 3}), 3, {1, 2, 3}},
      {"1.3", Frame("0.1", {5}), 3, {5}},
      {"1.3", Frame("0.2", {5, 6}), 3, {5, 6}},
      {"1.3", Frame("0.9", {5, 6, 7, 0xA1, 0xA2}), 3, {5, 6, 7}},
      {"1.3", Frame("0.1a", {5, 6, 7}), 3, {5, 6, 7}},
      {"0.3", Frame("0.1", {5, 0xEE}), 3, {5}},
      {"1.3", Frame("0.3", {5, 6, 7}, true, 4 + 7 + 2), -2, {}},
      {"1.3", Frame("0.3", {5, 6, 7}, true, 1000), -1, {}},
      {"0.2", Frame("0.3", {5}, false), -1, {}},
      {"1.3", Frame("0.6", Bytes(g8.begin(), g8.begin() + 6)), 8, {1, 2, 3, 4, 5, 6}},
      {"1.3", Frame("0.7", Bytes(g8.begin(), g8.begin() + 7)), 8, {1, 2, 3, 4, 5, 6, 7}},
      {"1.3", Frame("0.8", Bytes(g8.begin(), g8.begin() + 8)), 8, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"1.3", Frame("1.0", g8), 8, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const char* legacy : {"0.1", "0.1a", "0.1b", "0.2"})
    cases.push_back({legacy, Frame("0.2", {5, 6}, false), 3, {5, 6}});
  for (const char* other : {"0.1c", "0.20", "", "0.1 "})  // not legacy: a size is read
    cases.push_back({other, Frame("0.2", {5, 6}, false), -2, {}});
  for (std::uint8_t size : {0, 1, 4, 7})
    cases.push_back({"1.3", Frame("0.1", {5}, true, size), -2, {}});
  for (const auto& [container, bytes, n, groups] : cases) {
    ScopedContainerVersion scope(container);
    const std::string what = testing::PrintToString(bytes) + " in " + container;
    if (n < 0) {
      EXPECT_EQ(TestSupport::CodeOf([&] { Read<3>(bytes); }), -n) << what;
    } else {
      const auto read = n == 3 ? Read<3>(bytes) : Read<8>(bytes);
      EXPECT_EQ(read, std::make_pair(groups, std::uint32_t(bytes.size() - 1))) << what;
    }
  }
}

// Records are values of the typed encoding; a hostile count fails before allocating.
TEST(Versioned, SequencesOfRecords) {
  std::vector<Rec<3>> records = {{"0.3", {1, 2, 3}}, {"0.2", {4, 5, 6}}};
  Block b;
  b.Put(records);
  EXPECT_EQ(b.Size(), 4u + 14 + 13);
  b.SetPosition(0u);
  std::vector<Rec<3>> read;
  b.Get(read);
  EXPECT_EQ(read, (std::vector<Rec<3>>{{"0.3", {1, 2, 3}}, {"0.3", {4, 5}}}));
  Block hostile = TestSupport::BlockOf({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(TestSupport::CodeOf([&] { hostile.Get(read); }), 1);
  EXPECT_EQ(read.size(), 2u);
}

}  // namespace
