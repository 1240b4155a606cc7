// Geometry records of the versions before "0.7", written here with the typed block
// operations in their own layouts and read back through real container files.
#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/geometry_helpers.hpp"

namespace {

using namespace GeometryTest;
using KivMox::Attribute;
using KivMox::AttributeMap;
using KivMox::Geometry;
using KivRkf::Index;
using TestSupport::ContainerReader;

constexpr std::uint32_t kSentinel = 0xDEADBEEF;

struct StoredArray {
  std::string name;
  std::uint32_t kind = 0;
  std::vector<std::uint8_t> stored;
  std::uint8_t components = 1;
  std::uint8_t tagA = 0x1A, tagB = 0x2B;
  std::uint32_t paramA = 0x01020304, paramB = 0x05060708;
  std::uint8_t tagC = 0x3C;
  std::uint8_t vibration = 1;
  AttributeMap attributes;
  bool linked = false;
  std::uint32_t linkNode = 0, linkIndex = 0;
};

template <class T>
std::vector<std::uint8_t> BytesOf(const std::vector<T>& values) {
  std::vector<std::uint8_t> out(values.size() * 4);
  std::memcpy(out.data(), values.data(), out.size());
  return out;
}

std::vector<std::uint8_t> EncodedBytes(std::vector<std::uint8_t> bytes, std::uint8_t c) {
  std::vector<std::uint8_t> out(bytes.size());
  KivMox::EncodeComponents(bytes.data(), out.data(), bytes.size(), c);
  return out;
}

// The layout of "0.0a" to "0.4" (and of unknown version texts).
void WriteOldRecord(Index& index, const std::string& version, const std::vector<StoredArray>& all) {
  index.Put(kLight, std::uint32_t(all.size()));
  for (const StoredArray& a : all) {
    TestSupport::PutAll(index, kLight, a.name, a.kind, std::uint32_t(a.stored.size()),
                        a.components);
    if (version != "0.1" && version != "0.0a") {
      TestSupport::PutAll(index, kLight, a.tagA, a.tagB, a.paramA, a.paramB, a.tagC);
      if (version != "0.2") {
        index.Put(kLight, a.vibration);
        if (version != "0.3") KivMox::WriteAttributeMap(index, kAttributes, a.attributes);
      }
    }
    index.Put(kLight, std::uint32_t(index.GetSize(kHeavy)));
    index.Put(kHeavy, a.stored.data(), std::uint32_t(a.stored.size()));
  }
  index.Put(kLight, kSentinel);
}

// The layout of "0.5" and "0.6": 32-bit heavy positions.
void WriteNarrowRecord(Index& index, const std::vector<StoredArray>& all) {
  index.Put(kLight, std::uint32_t(all.size()));
  for (const StoredArray& a : all) {
    // The kind word as stored.
    TestSupport::PutAll(index, kLight, a.name, a.kind, std::uint8_t(a.linked));
    if (a.linked) {
      TestSupport::PutAll(index, kLight, a.linkNode, a.linkIndex);
    } else {
      TestSupport::PutAll(index, kLight, std::uint32_t(a.stored.size()), a.components, a.tagA,
                          a.tagB, a.paramA, a.paramB, a.tagC, std::uint32_t(index.GetSize(kHeavy)));
      index.Put(kHeavy, a.stored.data(), std::uint32_t(a.stored.size()));
    }
    index.Put(kLight, a.vibration);
    KivMox::WriteAttributeMap(index, kAttributes, a.attributes);
  }
  index.Put(kLight, kSentinel);
}

std::vector<std::int32_t> kConnectivity = {4, -8, 15, 16, 23, 42, 0x7FFFFFFF, -1, 7};
std::vector<float> kValues = {1.5f, -2.25f, 1e-3f, 6.0e10f};

std::vector<StoredArray> TwoArrays() {
  StoredArray conn;
  conn.name = "conn";
  conn.kind = 5;
  conn.components = 3;
  conn.stored = BytesOf(kConnectivity);  // these versions store values as they are
  conn.attributes["Category"] = Attribute::MakeText("Vibration");
  conn.attributes["DataType"] = Attribute::MakeInt(1);
  conn.attributes["Link.Source"] = Attribute::MakeText("x");
  StoredArray vals;
  vals.name = "vals";
  vals.kind = 0x01000002;
  vals.stored = BytesOf(kValues);
  vals.vibration = 0;
  return {conn, vals};
}

class OlderGeometry : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("older.mox");
};

TEST_F(OlderGeometry, OlderLayoutsReadTheirFieldsAndTheDataAtOnce) {
  for (std::string version : {"0.0a", "0.1", "0.2", "0.3", "0.4", "0.45", "1.0"}) {
    SCOPED_TRACE(version);
    TestSupport::WriteContainer(
        path_, [&](KivRkf::RkFile& f) { WriteOldRecord(f.GetIndex(), version, TwoArrays()); });
    ContainerReader reader(path_);
    Geometry g;
    KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, version, 0);
    EXPECT_EQ(reader.Get<std::uint32_t>(kLight), kSentinel);  // the whole record was read
    ASSERT_EQ(g.arrays.size(), 2u);
    const bool tags = version != "0.1" && version != "0.0a";
    const bool attributes = tags && version != "0.2" && version != "0.3";
    const auto& conn = g.arrays[0];
    EXPECT_EQ(conn.name, "conn");
    EXPECT_EQ(conn.kind, 5u);
    EXPECT_EQ(conn.data.componentCount, 3);
    EXPECT_EQ(conn.data.tagA, tags ? 0x1A : 0);
    EXPECT_EQ(conn.data.paramB, tags ? 0x05060708u : 0u);
    EXPECT_EQ(conn.data.tagC, tags ? 0x3C : 0);
    EXPECT_EQ(conn.vibration, attributes ? 1 : 0);
    EXPECT_EQ(conn.attributes.size(), attributes ? 1u : 0u);
    EXPECT_EQ(conn.attributes.count("Category"), attributes ? 1u : 0u);
    EXPECT_EQ(ValuesOf<std::int32_t>(conn.data), kConnectivity);  // not decoded
    EXPECT_EQ(conn.data.ownsData, 1);
    const auto& vals = g.arrays[1];
    EXPECT_EQ(vals.kind, 0x01000002u);  // older kinds are not packed
    EXPECT_EQ(vals.data.subKind, 0u);
    EXPECT_EQ(ValuesOf<float>(vals.data), kValues);
    // Nothing is left for the loading passes.
    EXPECT_FALSE(conn.heavyPosition || vals.heavyPosition);
    const std::uint8_t* before = conn.data.Bytes();
    g.LoadConnectivityBlocks(reader.Index(), kHeavy);
    g.LoadOtherBlocks(reader.Index(), kHeavy);
    EXPECT_EQ(conn.data.Bytes(), before);
  }
}

TEST_F(OlderGeometry, Version05ReadsTheDataAtOnceAndKnowsLinks) {
  auto arrays = TwoArrays();
  arrays[0].kind = 0x02000005;
  StoredArray link;
  link.name = "link";
  link.kind = 0x03000001;
  link.linked = true;
  link.linkNode = 4;
  link.linkIndex = 1;
  link.attributes["Category"] = Attribute::MakeText("Vibration");
  link.attributes["Units"] = Attribute::MakeText("Pa");
  arrays.push_back(link);
  TestSupport::WriteContainer(path_,
                              [&](KivRkf::RkFile& f) { WriteNarrowRecord(f.GetIndex(), arrays); });
  ContainerReader reader(path_);
  Geometry g;
  KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.5", 10);
  EXPECT_EQ(reader.Get<std::uint32_t>(kLight), kSentinel);
  ASSERT_EQ(g.arrays.size(), 3u);
  EXPECT_EQ(g.arrays[0].kind, 5u);
  EXPECT_EQ(g.arrays[0].data.subKind, 2u);
  EXPECT_EQ(ValuesOf<std::int32_t>(g.arrays[0].data), kConnectivity);  // as stored
  EXPECT_EQ(ValuesOf<float>(g.arrays[1].data), kValues);
  EXPECT_FALSE(g.arrays[0].heavyPosition.has_value());
  const auto& l = g.arrays[2];
  EXPECT_EQ(l.linked, 1);
  EXPECT_EQ(l.linkNode, 14u);  // plus the identifier offset
  EXPECT_EQ(l.linkIndex, 1u);
  EXPECT_EQ(l.kind, 1u);
  EXPECT_EQ(l.data.subKind, 3u);
  EXPECT_TRUE(l.attributes.empty());
  EXPECT_EQ(l.vibration, 1);
  EXPECT_FALSE(l.data.HasBytes());
}

TEST_F(OlderGeometry, Version06IsLoadedByThePasses) {
  auto arrays = TwoArrays();
  arrays[0].stored = EncodedBytes(arrays[0].stored, 3);
  arrays[1].stored = EncodedBytes(arrays[1].stored, 1);
  TestSupport::WriteContainer(path_,
                              [&](KivRkf::RkFile& f) { WriteNarrowRecord(f.GetIndex(), arrays); });
  Geometry g;
  ContainerReader reader(path_);
  KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.6", 0);
  EXPECT_EQ(reader.Get<std::uint32_t>(kLight), kSentinel);
  ASSERT_EQ(g.arrays.size(), 2u);
  EXPECT_FALSE(g.arrays[0].data.HasBytes());  // not yet loaded
  EXPECT_EQ(g.arrays[0].data.byteSize, 36u);
  EXPECT_EQ(*g.arrays[1].heavyPosition, 36u);
  g.LoadConnectivityBlocks(reader.Index(), kHeavy);
  g.LoadOtherBlocks(reader.Index(), kHeavy);
  EXPECT_EQ(ValuesOf<std::int32_t>(g.arrays[0].data), kConnectivity);  // decoded
  EXPECT_EQ(ValuesOf<float>(g.arrays[1].data), kValues);
  EXPECT_EQ(g.arrays[0].data.tagA, 0x1A);
  EXPECT_EQ(g.arrays[0].attributes.count("Category"), 1u);
}

}  // namespace
