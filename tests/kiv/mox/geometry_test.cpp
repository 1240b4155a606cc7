// Geometry in the "0.7" layout through real container files: the light record's bytes,
// the heavy writer's stored runs, the two loading passes, attribute filtering and the
// checks on damaged counts and sizes.
#include "kiv/mox/geometry.hpp"

#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry_helpers.hpp"

namespace {

using namespace GeometryTest;
using KivMox::Attribute;
using KivMox::Geometry;
using KivMox::GeometryArray;
using KivMox::WriteAttributeMap;
using TestSupport::CodeOf;
using TestSupport::ContainerReader;

std::vector<std::int32_t> Ints(std::size_t n, std::int32_t start) {
  std::vector<std::int32_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = start + std::int32_t(i * 7) - std::int32_t(n);
  return v;
}

std::vector<float> Floats(std::size_t n, float start) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = start + 0.125f * float(i);
  return v;
}

std::vector<std::uint8_t> Encoded(const KivMox::NumericArray& data) {
  std::vector<std::uint8_t> out(data.byteSize);
  KivMox::EncodeComponents(data.Bytes(), out.data(), data.byteSize, data.componentCount);
  return out;
}

// The descriptive fields of an array's values and whether it owns them.
auto Fields(const KivMox::NumericArray& d) {
  return std::make_tuple(d.subKind, int(d.componentCount), int(d.tagA), int(d.tagB), d.paramA,
                         d.paramB, int(d.tagC), int(d.ownsData));
}

class GeometryFile : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("geometry.mox");
};

TEST_F(GeometryFile, RoundTripKeepsValuesAndDescriptions) {
  Geometry g;
  g.arrays.push_back(MakeArray("elements", 5, DataOf(Ints(151, 10), 3)));  // one left over
  g.arrays.back().data.subKind = 2;
  g.arrays.back().data.tagA = 1;
  g.arrays.back().data.tagB = 2;
  g.arrays.back().data.paramA = 0x01020304;
  g.arrays.back().data.paramB = 0xFFFFFFFE;
  g.arrays.back().data.tagC = 9;
  g.arrays.back().attributes["Units"] = Attribute::MakeText("mm");
  g.arrays.push_back(MakeArray("nodes", 1, DataOf(Floats(300, -4.0f), 3)));
  g.arrays.push_back(MakeArray("scalar", KivMox::kUnpackedKind, DataOf(Floats(17, 2.5f), 1)));
  g.arrays.push_back(MakeArray("raw", 2, DataOf(Floats(9, 1.0f), 0)));
  g.arrays.push_back(MakeArray("empty", 9, KivMox::NumericArray{}));
  // A byte size that is not a multiple of four keeps its bytes.
  const std::uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  g.arrays.push_back(MakeArray("odd", 1, KivMox::NumericArray{}));
  std::memcpy(g.arrays.back().data.Allocate(10), bytes, 10);
  auto positions = SaveGeometries(path_, {&g});

  ContainerReader reader(path_);
  Geometry back;
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  ASSERT_EQ(back.arrays.size(), 6u);
  ASSERT_EQ(back.arrays[5].data.byteSize, 10u);
  EXPECT_EQ(std::memcmp(back.arrays[5].data.Bytes(), bytes, 10), 0);
  const GeometryArray& e = back.arrays[0];
  EXPECT_EQ(e.name, "elements");
  EXPECT_EQ(e.kind, 5u);
  EXPECT_EQ(Fields(e.data), Fields(g.arrays[0].data));
  EXPECT_EQ(Fields(e.data), std::make_tuple(2u, 3, 1, 2, 0x01020304u, 0xFFFFFFFEu, 9, 1));
  EXPECT_EQ(e.attributes, g.arrays[0].attributes);
  EXPECT_EQ(ValuesOf<std::int32_t>(e.data), Ints(151, 10));
  EXPECT_EQ(ValuesOf<float>(back.arrays[1].data), Floats(300, -4.0f));
  EXPECT_EQ(back.arrays[2].kind, KivMox::kUnpackedKind);
  EXPECT_EQ(back.arrays[2].data.subKind, 0u);
  EXPECT_EQ(ValuesOf<float>(back.arrays[2].data), Floats(17, 2.5f));
  EXPECT_EQ(back.arrays[3].data.componentCount, 0);
  EXPECT_EQ(ValuesOf<float>(back.arrays[3].data), Floats(9, 1.0f));
  EXPECT_EQ(back.arrays[4].data.byteSize, 0u);
  EXPECT_FALSE(back.arrays[4].data.HasBytes());
  for (const GeometryArray& a : back.arrays) EXPECT_FALSE(a.heavyPosition.has_value());
}

TEST_F(GeometryFile, HeavyDataHoldsEncodedRunsConnectivityOfAllGeometryFirst) {
  Geometry first, second;
  first.arrays.push_back(MakeArray("coords", 0, DataOf(Floats(12, 1.0f), 3)));
  first.arrays.push_back(MakeArray("cells", 4, DataOf(Ints(8, 100), 4)));
  second.arrays.push_back(MakeArray("values", 1, DataOf(Floats(5, 7.0f), 1)));
  second.arrays.push_back(MakeArray("faces", 6, DataOf(Ints(6, -3), 2)));
  SaveGeometries(path_, {&first, &second}, false);

  // Positions recorded by the writer: cells, faces, then coords, values.
  ASSERT_TRUE(first.arrays[1].heavyPosition && second.arrays[1].heavyPosition);
  EXPECT_EQ(*first.arrays[1].heavyPosition, 0u);
  EXPECT_EQ(*second.arrays[1].heavyPosition, 32u);
  EXPECT_EQ(*first.arrays[0].heavyPosition, 56u);
  EXPECT_EQ(*second.arrays[0].heavyPosition, 104u);

  ContainerReader reader(path_);
  std::vector<std::uint8_t> heavy(124);
  reader.Index().Get(kHeavy, heavy.data(), 124);
  std::vector<std::uint8_t> expected;
  for (const GeometryArray* a :
       {&first.arrays[1], &second.arrays[1], &first.arrays[0], &second.arrays[0]}) {
    auto run = Encoded(a->data);
    expected.insert(expected.end(), run.begin(), run.end());
  }
  EXPECT_EQ(heavy, expected);
  // Nothing follows the last run.
  std::uint8_t extra = 0;
  EXPECT_EQ(CodeOf([&] { reader.Index().Get(kHeavy, &extra, 1); }), 1);
}

TEST_F(GeometryFile, LightRecordLayout) {
  Geometry g;
  g.arrays.push_back(MakeArray("p", 5, DataOf(Ints(3, 0), 1)));
  g.arrays[0].data.subKind = 2;
  g.arrays[0].data.tagA = 0xA1;
  g.arrays[0].data.tagB = 0xB2;
  g.arrays[0].data.paramA = 0x11111111;
  g.arrays[0].data.paramB = 0x22222222;
  g.arrays[0].data.tagC = 0xC3;
  g.arrays[0].vibration = 1;
  g.arrays.push_back(LinkedArray("q", KivMox::kUnpackedKind, 7, 3));
  g.arrays.push_back(MakeArray("r", 1, DataOf(Floats(2, 0.0f), 1)));
  SaveGeometries(path_, {&g}, false);

  ContainerReader r(path_);
  using U8 = std::uint8_t;
  using U32 = std::uint32_t;
  const std::string p = "p", q = "q", rr = "r";
  // Count; name, subKind << 24 | kind, not linked, byte size, components, tags and
  // parameters, 64-bit heavy position, vibration as held.
  const auto first =
      TestSupport::BlockBytes(U32{3}, p, U32{0x02000005}, U8{0}, U32{12}, U8{1}, U8{0xA1}, U8{0xB2},
                              U32{0x11111111}, U32{0x22222222}, U8{0xC3}, std::uint64_t{0}, U8{1});
  // The linked array: link fields, no size, components or position.
  const auto linked = TestSupport::BlockBytes(q, U32{0xFFFFFFFF}, U8{1}, U32{7}, U32{3}, U8{0});
  // After the connectivity run.
  const auto last = TestSupport::BlockBytes(rr, U32{1}, U8{0}, U32{8}, U8{1}, U8{0}, U8{0}, U32{0},
                                            U32{0}, U8{0}, std::uint64_t{12}, U8{0});
  TestSupport::Bytes expected = first;
  expected.insert(expected.end(), linked.begin(), linked.end());
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(TestSupport::StreamBytes(r.Index(), kLight), expected);
  // One attribute map record per array in "Attributes" (six empty lists each).
  EXPECT_EQ(TestSupport::StreamBytes(r.Index(), kAttributes), TestSupport::Bytes(72, 0));
}

// Puts one unlinked "0.7" array record with zero tags and parameters and no attributes.
void PutArrayRecord(KivRkf::Index& index, const std::string& name, std::uint32_t word,
                    std::uint32_t byteSize, std::uint8_t components, std::uint64_t position) {
  const std::uint8_t zero8 = 0;
  const std::uint32_t zero32 = 0;
  TestSupport::PutAll(index, kLight, name, word, zero8, byteSize, components, zero8, zero8, zero32,
                      zero32, zero8, position, zero8);
  WriteAttributeMap(index, kAttributes, {});
}

// One array per kind word, each with two values stored as they are at its own position.
void WriteKindWords(const std::string& path, const std::vector<std::uint32_t>& words) {
  TestSupport::WriteContainer(path, [&](KivRkf::RkFile& f) {
    KivRkf::Index& index = f.GetIndex();
    index.Put(kLight, std::uint32_t(words.size()));
    for (std::size_t i = 0; i < words.size(); ++i) {
      PutArrayRecord(index, "a" + std::to_string(i), words[i], 8, 0, 8 * i);
      const std::int32_t values[2] = {std::int32_t(i), std::int32_t(100 + i)};
      index.Put(kHeavy, values, 8);
    }
  });
}

TEST_F(GeometryFile, KindWordUnpacksIntoKindAndSubKind) {
  WriteKindWords(path_, {0x02000005, 0x02ABCD05, 0xFFFFFFFF, 0x00000109});
  ContainerReader reader(path_);
  Geometry g;
  KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.7", 0);
  ASSERT_EQ(g.arrays.size(), 4u);
  // The middle bytes are not kept; the unpacked kind has no sub-kind.
  const std::pair<std::uint32_t, std::uint32_t> kinds[] = {{5, 2}, {5, 2}, {0xFFFFFFFF, 0}, {9, 0}};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(std::make_pair(g.arrays[i].kind, g.arrays[i].data.subKind), kinds[i]) << i;

  // Kinds 5 and 9 are connectivity; 0xFFFFFFFF is loaded with the others.
  g.LoadConnectivityBlocks(reader.Index(), kHeavy);
  EXPECT_EQ(ValuesOf<std::int32_t>(g.arrays[0].data), (std::vector<std::int32_t>{0, 100}));
  EXPECT_EQ(ValuesOf<std::int32_t>(g.arrays[3].data), (std::vector<std::int32_t>{3, 103}));
  EXPECT_FALSE(g.arrays[2].data.HasBytes());
  g.LoadOtherBlocks(reader.Index(), kHeavy);
  EXPECT_EQ(ValuesOf<std::int32_t>(g.arrays[2].data), (std::vector<std::int32_t>{2, 102}));
}

TEST_F(GeometryFile, ReservedAttributesAreDroppedAndCategorySetsVibration) {
  Geometry g;
  const char* names[] = {"Complex",     "Contents", "DataSource", "DataType", "Structure",
                         "Link.Target", "Link.",    "Linked",     "Other"};
  for (int i = 0; i < 3; ++i) {
    g.arrays.push_back(MakeArray("a" + std::to_string(i), 1, DataOf(Floats(2, 0.0f), 1)));
    for (const char* n : names) g.arrays.back().attributes[n] = Attribute::MakeInt(i);
    g.arrays.back().vibration = std::uint8_t(1 - i % 2);  // what the file says is not kept
  }
  g.arrays[0].attributes["Category"] = Attribute::MakeText("Vibration");
  g.arrays[1].attributes["Category"] = Attribute::MakeText("vibration");
  g.arrays[2].attributes["Category"] = Attribute::MakeInt(1);
  auto positions = SaveGeometries(path_, {&g});

  ContainerReader reader(path_);
  Geometry back;
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  ASSERT_EQ(back.arrays.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    std::vector<std::string> kept;
    for (const auto& [name, value] : back.arrays[i].attributes) kept.push_back(name);
    EXPECT_EQ(kept, (std::vector<std::string>{"Category", "Linked", "Other"}));
    EXPECT_EQ(back.arrays[i].vibration, i == 0 ? 1 : 0);
  }
}

TEST_F(GeometryFile, NoArraysWritesOnlyTheCount) {
  Geometry g;
  auto positions = SaveGeometries(path_, {&g}, false);
  ContainerReader reader(path_);
  EXPECT_EQ(reader.Get<std::uint32_t>(kLight, 99), 0u);
  EXPECT_EQ(CodeOf([&] { reader.Get<std::uint8_t>(kLight); }), 1);
  Geometry back;
  back.arrays.push_back(MakeArray("stale", 1, KivMox::NumericArray{}));
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  EXPECT_TRUE(back.arrays.empty());
}

TEST_F(GeometryFile, WritingAnArrayWithoutHeavyPositionIsElementNotFound) {
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    Geometry g;
    g.arrays.push_back(LinkedArray("linked", 1, 2, 0));  // needs no position
    g.WriteRk(f.GetIndex(), kLight, kHeavy, kAttributes);
    g.arrays.push_back(MakeArray("unsaved", 1, DataOf(Floats(2, 0.0f), 1)));
    std::string description;
    EXPECT_EQ(CodeOf([&] { g.WriteRk(f.GetIndex(), kLight, kHeavy, kAttributes); }, &description),
              5);
    EXPECT_EQ(description, "Element Not Found");
  });
}

TEST_F(GeometryFile, AnArrayCountBeyondTheLightDataIsRefused) {
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    f.GetIndex().Put(kLight, std::uint32_t{0xFFFFFFFF});
    f.GetIndex().Put(kLight, std::string("only one name"));
  });
  ContainerReader reader(path_);
  Geometry g;
  std::string description;
  EXPECT_EQ(
      CodeOf(
          [&] { KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.7", 0); },
          &description),
      1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_TRUE(g.arrays.empty());
}

TEST_F(GeometryFile, AnArrayCountBeyondACompressedMultiBlockLightDataFailsAtItsEnd) {
  {
    TestSupport::SmallBlocks small("32");
    TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
      KivRkf::Index& index = f.GetIndex();
      index.Put(kLight, std::uint32_t{0x7FFFFFFF});
      for (int i = 0; i < 4; ++i) {  // four linked records, then nothing
        TestSupport::PutAll(index, kLight, std::string("link") + char('0' + i), std::uint32_t{1},
                            std::uint8_t{1}, std::uint32_t{1}, std::uint32_t(i), std::uint8_t{0});
        WriteAttributeMap(index, kAttributes, {});
      }
      index.SetBlockFlags(kLight, KivRkf::kFlagZlib);
    });
  }
  ContainerReader reader(path_);
  ASSERT_GT(reader.Index().Names().at(kLight).blocks.size(), 2u);
  Geometry g;
  EXPECT_EQ(CodeOf([&] {
              KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.7", 0);
            }),
            1);
}

TEST_F(GeometryFile, AByteSizeBeyondTheHeavyDataIsRefusedBeforeAllocating) {
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    f.GetIndex().Put(kLight, std::uint32_t{1});
    PutArrayRecord(f.GetIndex(), "big", 1, 0xFFFFFFF0, 1, 4);
    f.GetIndex().Put(kHeavy, std::uint64_t{0});
  });
  ContainerReader reader(path_);
  Geometry g;
  KivMox::ReadGeometry(g, reader.Index(), kLight, kHeavy, kAttributes, "0.7", 0);
  g.LoadConnectivityBlocks(reader.Index(), kHeavy);  // not a connectivity array
  std::string description;
  EXPECT_EQ(CodeOf([&] { g.LoadOtherBlocks(reader.Index(), kHeavy); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_FALSE(g.arrays[0].data.HasBytes());
}

TEST_F(GeometryFile, AHeavyPositionBeyondTheHeavyDataIsRefused) {
  Geometry g;
  g.arrays.push_back(MakeArray("a", 1, DataOf(Floats(4, 0.0f), 1)));
  auto positions = SaveGeometries(path_, {&g});
  ContainerReader reader(path_);
  Geometry back;
  reader.Index().SetReadingPosition(kLight, positions[0]);
  KivMox::ReadGeometry(back, reader.Index(), kLight, kHeavy, kAttributes, "0.7", 0);
  back.arrays[0].heavyPosition = 12;  // 16 bytes stored: only 4 left there
  EXPECT_EQ(CodeOf([&] { back.LoadOtherBlocks(reader.Index(), kHeavy); }), 1);
  back.arrays[0].heavyPosition = 17;
  EXPECT_EQ(CodeOf([&] { back.LoadOtherBlocks(reader.Index(), kHeavy); }), 1);
}

TEST_F(GeometryFile, HeavyWriterStreamsFullBlocksToTheFile) {
  TestSupport::SmallBlocks small("64");
  Geometry g;
  for (int i = 0; i < 4; ++i)
    g.arrays.push_back(MakeArray("a" + std::to_string(i), 1, DataOf(Floats(25, float(i)), 1)));
  std::vector<std::uint64_t> positions;
  TestSupport::WriteContainer(path_, [&](KivRkf::RkFile& f) {
    KivRkf::Index& index = f.GetIndex();
    g.WriteHeavyData(index, f.Stream(), kHeavy, true);  // no connectivity array
    EXPECT_EQ(index.GetSize(kHeavy), 0u);
    g.WriteHeavyData(index, f.Stream(), kHeavy, false);
    const auto& blocks = index.Names().at(kHeavy).blocks;
    ASSERT_EQ(blocks.size(), 4u);  // one run of 100 bytes per block
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
      EXPECT_TRUE(index.Blocks()[blocks[i]].frozen) << i;
      EXPECT_EQ(index.Blocks()[blocks[i]].flags, KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
    }
    EXPECT_FALSE(index.Blocks()[blocks.back()].frozen);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(*g.arrays[i].heavyPosition, 100u * i);
    positions.push_back(index.GetSize(kLight));
    g.WriteRk(index, kLight, kHeavy, kAttributes);
  });
  ContainerReader reader(path_);
  Geometry back;
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ValuesOf<float>(back.arrays[i].data), Floats(25, float(i))) << i;
}

// An array whose values stay in another open file: the writer takes them through the
// loader, copying the stored bytes when they are already in the form to write.
TEST_F(GeometryFile, HeavyWriterTakesValuesThroughTheLoader) {
  const std::string source = dir_.File("source.mox");
  Geometry original;
  original.arrays.push_back(MakeArray("v", 1, DataOf(Floats(30, 3.0f), 3)));
  original.arrays.push_back(MakeArray("c", 5, DataOf(Ints(12, 5), 1)));
  SaveGeometries(source, {&original});
  ContainerReader input(source);

  Geometry deferred;
  for (const GeometryArray& a : original.arrays) {
    GeometryArray copy = a;
    auto loader = std::make_shared<KivMox::DataLoader>();
    loader->source = &input.Index();
    loader->section = kHeavy;
    loader->position = *a.heavyPosition;
    loader->byteSize = a.data.byteSize;
    loader->componentCount = a.data.componentCount;
    loader->encoded = 1;
    copy.data.data.reset();
    copy.data.loader = loader;
    deferred.arrays.push_back(copy);
  }
  deferred.arrays[1].data.componentCount = 2;  // stored with 1: decoded and encoded again
  auto positions = SaveGeometries(path_, {&deferred}, false);

  ContainerReader reader(path_);
  std::vector<std::uint8_t> heavy(168);
  reader.Index().Get(kHeavy, heavy.data(), 168);
  KivMox::NumericArray asTwo = original.arrays[1].data;
  asTwo.componentCount = 2;
  std::vector<std::uint8_t> expected = Encoded(asTwo);
  auto coords = Encoded(original.arrays[0].data);
  expected.insert(expected.end(), coords.begin(), coords.end());
  EXPECT_EQ(heavy, expected);

  Geometry back;
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  EXPECT_EQ(ValuesOf<float>(back.arrays[0].data), Floats(30, 3.0f));
  EXPECT_EQ(ValuesOf<std::int32_t>(back.arrays[1].data), Ints(12, 5));
  // A loader that holds floats only cannot give connectivity.
  deferred.arrays[1].data.loader->valueKind = 1;
  TestSupport::WriteContainer(dir_.File("bad.mox"), [&](KivRkf::RkFile& f) {
    EXPECT_EQ(CodeOf([&] { deferred.WriteHeavyData(f.GetIndex(), f.Stream(), kHeavy, true); }), 12);
  });
}

}  // namespace
