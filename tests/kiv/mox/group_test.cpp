// Group records: current layout through a real file, and every older version the reader
// accepts, written here with the typed operations.
#include "kiv/mox/group.hpp"

#include <array>
#include <string>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::Attribute;
using KivMox::Group;
using TestSupport::Bytes;
using TestSupport::RecordFile;

const std::string kLight = "Light Data";
const std::string kAttributes = "Attributes";
constexpr std::uint32_t kSentinel = 0xA5A5F00D;

Group Sample() {
  Group g;
  g.translation = {1.5f, -2.0f, 3.25f};
  g.rotation = {0.5f, 0.5f, 0.5f, 0.5f};
  g.scale = {2, 3, 4};
  g.attributes["part"] = Attribute::MakeText("P-17");
  g.attributes["mass"] = Attribute::MakeFloat(12.5f);
  g.mergeRoot = 1;
  return g;
}

void ExpectDefaults(const Group& g) {
  EXPECT_EQ(g.translation, (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(g.rotation, (std::array<float, 4>{0, 0, 1, 0}));
  EXPECT_EQ(g.scale, (std::array<float, 3>{1, 1, 1}));
  EXPECT_TRUE(g.attributes.empty());
  EXPECT_EQ(g.mergeRoot, 0);
}

// Puts the group's fields of a given version the way an older writer did, then a
// sentinel after it in both sections.
void PutOlder(KivRkf::Index& index, const Group& g, const std::string& version) {
  if (version != "0.1" && version != "0.0a") {
    index.Put(kLight, g.translation);
    index.Put(kLight, g.rotation);
    index.Put(kLight, g.scale);
    if (version != "0.2") KivMox::WriteAttributeMap(index, kAttributes, g.attributes);
    if (version != "0.2" && version != "0.3") index.Put(kLight, g.mergeRoot);
  }
  index.Put(kLight, kSentinel);
  index.Put(kAttributes, kSentinel);
}

void ExpectSentinels(KivRkf::Index& index) {
  std::uint32_t light = 0, attributes = 0;
  index.Get(kLight, light);
  index.Get(kAttributes, attributes);
  EXPECT_EQ(light, kSentinel);
  EXPECT_EQ(attributes, kSentinel);
}

TEST(GroupTest, TypeNameVersionAndDefaults) {
  Group g;
  EXPECT_EQ(g.GetTypeName(), "Group");
  EXPECT_EQ(g.GetVersion(), "0.4");
  EXPECT_EQ(g.GetFlag(), 0);
  ExpectDefaults(g);
}

TEST(GroupTest, CurrentRecordLayout) {
  Group g = Sample();
  RecordFile file([&](KivRkf::Index& index) { KivMox::WriteGroup(g, index); });
  Bytes light = file.StreamBytes(kLight);
  ASSERT_EQ(light.size(), 41u);
  EXPECT_EQ(Bytes(light.begin(), light.begin() + 4), (Bytes{0, 0, 0xC0, 0x3F}));     // 1.5f
  EXPECT_EQ(Bytes(light.begin() + 28, light.begin() + 32), (Bytes{0, 0, 0, 0x40}));  // 2.0f
  EXPECT_EQ(light.back(), 1);
  EXPECT_FALSE(file.StreamBytes(kAttributes).empty());
}

TEST(GroupTest, CurrentVersionRoundTripsThroughACompressedFile) {
  Group g = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        KivMox::WriteGroup(g, index);
        index.Put(kLight, kSentinel);
        index.Put(kAttributes, kSentinel);
      },
      true);
  Group r;
  KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, "0.4");
  EXPECT_EQ(r.translation, g.translation);
  EXPECT_EQ(r.rotation, g.rotation);
  EXPECT_EQ(r.scale, g.scale);
  EXPECT_EQ(r.attributes, g.attributes);
  EXPECT_EQ(r.mergeRoot, 1);
  ExpectSentinels(file.Index());
}

TEST(GroupTest, VersionsWithoutARecordKeepTheDefaults) {
  for (const char* version : {"0.0a", "0.1"}) {
    RecordFile file([&](KivRkf::Index& index) { PutOlder(index, Sample(), version); });
    Group r;
    KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, version);
    ExpectDefaults(r);
    ExpectSentinels(file.Index());
  }
}

TEST(GroupTest, VersionZeroTwoReadsFortyLightBytesOnly) {
  Group g = Sample();
  RecordFile file([&](KivRkf::Index& index) { PutOlder(index, g, "0.2"); });
  Group r;
  KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, "0.2");
  EXPECT_EQ(r.translation, g.translation);
  EXPECT_EQ(r.scale, g.scale);
  EXPECT_TRUE(r.attributes.empty());
  EXPECT_EQ(r.mergeRoot, 0);
  ExpectSentinels(file.Index());
}

TEST(GroupTest, VersionZeroThreeReadsAttributesButNoMergeRoot) {
  Group g = Sample();
  RecordFile file([&](KivRkf::Index& index) { PutOlder(index, g, "0.3"); });
  Group r;
  KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, "0.3");
  EXPECT_EQ(r.rotation, g.rotation);
  EXPECT_EQ(r.attributes, g.attributes);
  EXPECT_EQ(r.mergeRoot, 0);
  ExpectSentinels(file.Index());
}

TEST(GroupTest, NewerAndUnknownVersionsAreReadAsTheCurrentOne) {
  for (const char* version : {"0.5", "1.0", "0.2 "}) {
    Group g = Sample();
    RecordFile file([&](KivRkf::Index& index) { PutOlder(index, g, "0.4"); });
    Group r;
    KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, version);
    EXPECT_EQ(r.attributes, g.attributes) << version;
    EXPECT_EQ(r.mergeRoot, 1) << version;
    ExpectSentinels(file.Index());
  }
}

TEST(GroupTest, TruncatedLightRecordFails) {
  RecordFile file([](KivRkf::Index& index) {
    index.Put(kLight, std::array<float, 3>{1, 2, 3});
    KivMox::WriteAttributeMap(index, kAttributes, {});
  });
  Group r;
  EXPECT_EQ(
      TestSupport::CodeOf([&] { KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, "0.4"); }),
      1);
}

}  // namespace
