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
using TestSupport::Next;
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

// Reads a group of the version from both sections, then expects the sentinels.
Group ReadBack(RecordFile& file, const std::string& version) {
  Group r;
  KivMox::ReadGroup(r, file.Index(), kLight, kAttributes, version);
  EXPECT_EQ(Next(file.Index(), kLight), kSentinel) << version;
  EXPECT_EQ(Next(file.Index(), kAttributes), kSentinel) << version;
  return r;
}

TEST(GroupTest, CurrentRecordLayoutAndCompressedRoundTrip) {
  const Group g = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        KivMox::WriteGroup(g, index);
        index.Put(kLight, kSentinel);
        index.Put(kAttributes, kSentinel);
      },
      true);
  Bytes light = file.StreamBytes(kLight);
  ASSERT_EQ(light.size(), 45u);
  EXPECT_EQ(Bytes(light.begin(), light.begin() + 4), (Bytes{0, 0, 0xC0, 0x3F}));     // 1.5f
  EXPECT_EQ(Bytes(light.begin() + 28, light.begin() + 32), (Bytes{0, 0, 0, 0x40}));  // 2.0f
  EXPECT_EQ(light[40], 1);
  const Group r = ReadBack(file, "0.4");
  EXPECT_EQ(r.translation, g.translation);
  EXPECT_EQ(r.rotation, g.rotation);
  EXPECT_EQ(r.scale, g.scale);
  EXPECT_EQ(r.attributes, g.attributes);
  EXPECT_EQ(r.mergeRoot, 1);
}

// Each version written in its own layout (an unknown or newer one as the current) and
// what is read: the transforms, the attributes, the merge root flag.
TEST(GroupTest, OlderNewerAndUnknownVersions) {
  struct Case {
    const char* version;
    bool transforms, attributes, mergeRoot;
  };
  for (const Case& c : {Case{"0.0a", false, false, false}, Case{"0.1", false, false, false},
                        Case{"0.2", true, false, false}, Case{"0.3", true, true, false},
                        Case{"0.5", true, true, true}, Case{"1.0", true, true, true},
                        Case{"0.2 ", true, true, true}}) {
    const Group g = Sample();
    RecordFile file([&](KivRkf::Index& index) {
      if (c.transforms) TestSupport::PutAll(index, kLight, g.translation, g.rotation, g.scale);
      if (c.attributes) KivMox::WriteAttributeMap(index, kAttributes, g.attributes);
      if (c.mergeRoot) index.Put(kLight, g.mergeRoot);
      index.Put(kLight, kSentinel);
      index.Put(kAttributes, kSentinel);
    });
    const Group r = ReadBack(file, c.version);
    const Group d;
    EXPECT_EQ(r.translation, c.transforms ? g.translation : (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(r.rotation, c.transforms ? g.rotation : (std::array<float, 4>{0, 0, 1, 0}));
    EXPECT_EQ(r.scale, c.transforms ? g.scale : (std::array<float, 3>{1, 1, 1}));
    EXPECT_EQ(r.attributes, c.attributes ? g.attributes : d.attributes) << c.version;
    EXPECT_EQ(r.mergeRoot, c.mergeRoot ? 1 : 0) << c.version;
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
