// The component codec, the data loader, and geometry through real containers.
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/heavy_order.hpp"

#include <random>

#include <gtest/gtest.h>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "support/container_helpers.hpp"
#include "support/model_builder.hpp"
#include "support/mox_helpers.hpp"
#include "support/tree_description.hpp"

using namespace MoxTest;
using KivMox::Attribute;
using KivMox::Geometry;
using KivMox::GeometryArray;
using TestSupport::ArrayOf;
using TestSupport::LinkedArray;

namespace {

Bytes Code(const Bytes& in, std::uint8_t c, bool decode = false) {
  Bytes out(in.size(), 0xEE);
  (decode ? KivMox::DecodeComponents : KivMox::EncodeComponents)(in.data(), out.data(), in.size(),
                                                                 c);
  return out;
}

Bytes Encoded(const KivMox::NumericArray& d) {
  return Code(Bytes(d.Bytes(), d.Bytes() + d.byteSize), d.componentCount);
}

// The layout written out directly from its definition, one byte at a time.
Bytes ReferenceEncode(const Bytes& in, std::uint64_t c) {
  Bytes out = in;
  const std::uint64_t n = in.size() / 4;
  const std::uint64_t m = c ? n / c : 0;
  for (std::uint64_t k = 0; k < c && m; ++k)
    for (std::uint64_t j = 0; j < m; ++j)
      for (std::uint64_t b = 0; b < 4; ++b) out[4 * k * m + b * m + j] = in[4 * (j * c + k) + b];
  return out;
}

// Values 0xA3A2A1A0 .. 0xF3F2F1F0 (two items of three components) and a value and a byte
// that belong to no item: plane k is (ak, bk), byte-shuffled; the rest stays in place.
TEST(ComponentCodec, ThreeComponentsLayout) {
  Bytes in;
  for (std::uint8_t w : {0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0x10})
    for (std::uint8_t b = 0; b < 4; ++b) in.push_back(std::uint8_t(w + b));
  in.push_back(0x99);
  const Bytes expected = {0xA0, 0xD0, 0xA1, 0xD1, 0xA2, 0xD2, 0xA3, 0xD3, 0xB0, 0xE0,
                          0xB1, 0xE1, 0xB2, 0xE2, 0xB3, 0xE3, 0xC0, 0xF0, 0xC1, 0xF1,
                          0xC2, 0xF2, 0xC3, 0xF3, 0x10, 0x11, 0x12, 0x13, 0x99};
  EXPECT_EQ(Code(in, 3), expected);
  EXPECT_EQ(ReferenceEncode(in, 3), expected);
  EXPECT_EQ(Code(expected, 3, true), in);
}

// Sizes around the 16-value runs and across tiles, usual and unusual component counts, in
// buffers of exactly that size (for the sanitizer): fast paths match, decoding restores.
TEST(ComponentCodec, MatchesTheDefinitionAndRoundTripsOverManyShapes) {
  KivMox::EncodeComponents(nullptr, nullptr, 0, 3);
  KivMox::DecodeComponents(nullptr, nullptr, 0, 1);
  std::mt19937 random(1234);
  const std::uint64_t valueCounts[] = {0,    1,    2,    3,    5,    15,   16,   17,    31,
                                       32,   33,   47,   48,   63,   100,  255,  1023,  1024,
                                       1025, 2047, 3072, 3073, 3075, 4099, 6151, 12289, 40003};
  const std::uint8_t components[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 16, 33, 255};
  for (std::uint64_t n : valueCounts) {
    for (std::uint64_t tail = 0; tail < 4; ++tail) {
      Bytes in(4 * n + tail);
      for (auto& byte : in) byte = std::uint8_t(random());
      for (std::uint8_t c : components) {
        SCOPED_TRACE("values " + std::to_string(n) + " tail " + std::to_string(tail) + " c " +
                     std::to_string(c));
        Bytes encoded = Code(in, c);
        ASSERT_EQ(encoded, ReferenceEncode(in, c));
        ASSERT_EQ(Code(encoded, c, true), in);
      }
    }
  }
}

// 8 filler bytes, seven integers encoded with 3 components, four floats. Fewer than four
// bytes or a failure leave the output; a size beyond the data fails before allocating.
TEST(DataLoader, LoadToChecksTheKindAndTheByteSize) {
  const std::vector<std::int32_t> kInts = {1, -2, 3, 400000, -500000, 6, 7};
  const std::vector<float> kFloats = {0.5f, -1.25f, 3.0e7f, 4.0f};
  const Bytes encoded = Code(Bytes(reinterpret_cast<const std::uint8_t*>(kInts.data()),
                                   reinterpret_cast<const std::uint8_t*>(kInts.data() + 7)),
                             3);
  RecordFile reader(
      [&](KivRkf::IndexWriter& ix) {
        PutAll(ix, kHeavy, std::uint64_t{0x1122334455667788});
        ix.Put(kHeavy, encoded.data(), 28), ix.Put(kHeavy, kFloats.data(), 16);
      },
      true);
  const std::tuple<bool, std::uint32_t, std::uint64_t, int, const char*> cases[] = {
      // integers, value kind, byte size (0: the stored run's), code, description
      {true, 0, 0, 0, ""},
      {true, 5, 0, 0, ""},
      {false, 0, 0, 0, ""},
      {false, 5, 0, 12, "Bad Casting"},
      {true, 1, 0, 12, "Bad Casting"},
      {true, 0, 3, 0, ""},
      {false, 0, 6, 9, "The byte size is not a multiple of 4"},
      {false, 0, 0xFFFFFFF0, 1, "Not enough bytes in the block"}};
  auto file = std::make_shared<KivRkf::RkFile>();
  file->OpenFile(reader.File("r.mox"), "rb"), file->ReadIndex();
  for (const auto& c : cases) {
    const auto& [isInt, kind, byteSize, code, text] = c;
    KivMox::DataLoader l;
    std::tie(l.file, l.section, l.position, l.byteSize, l.componentCount, l.encoded) =
        isInt ? std::make_tuple(file, MoxTest::kHeavy, 8ul, 28ul, U8{3}, U8{1})
              : std::make_tuple(file, MoxTest::kHeavy, 36ul, 16ul, U8{1}, U8{0});
    l.valueKind = kind;
    if (byteSize) l.byteSize = byteSize;
    std::vector<std::int32_t> ints = {99};
    std::vector<float> floats = {2.0f};
    std::string description;
    EXPECT_EQ(Failure([&] { isInt ? l.LoadTo(ints) : l.LoadTo(floats); }, &description), code);
    const bool loaded = code == 0 && !byteSize;
    EXPECT_EQ(
        std::tie(ints, floats, description),
        std::make_tuple(loaded && isInt ? kInts : std::vector<std::int32_t>{99},
                        loaded && !isInt ? kFloats : std::vector<float>{2.0f}, std::string(text)))
        << &c - cases;
  }
}

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

// Every field of every array, values included.
std::string Describe(const Geometry& g) {
  FuzzDescription::Writer w;
  for (const auto& a : g.arrays) FuzzDescription::Array(w, a);
  return w.Text();
}

void Read(Geometry& g, KivRkf::IndexReader& index, const std::string& version = "0.7",
          U32 offset = 0) {
  KivMox::ReadGeometry(g, index, kLight, kHeavy, kAttrs, version, offset);
}

// Saves as the tree does: heavy data in write order, then the light records.
void SaveGeometries(const std::string& path, const std::vector<Geometry*>& all, bool zlib = true) {
  const auto fill = [&](KivRkf::RkFile& f) {
    for (GeometryArray* a : KivMox::WriteOrder(all))
      KivMox::WriteHeavyArray(f.Writer(), f.Stream(), kHeavy, *a);
    for (Geometry* g : all) g->WriteRk(f.Writer(), kLight, kAttrs);
  };
  WriteContainer(path, fill, zlib);
}

class GeometryFile : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("geometry.mox");
};

TEST_F(GeometryFile, HeavyDataHoldsEncodedRunsConnectivityOfAllGeometryFirst) {
  Geometry first, second;
  first.arrays.push_back(ArrayOf("coords", 0, Floats(12, 1.0f), 3));
  first.arrays.push_back(ArrayOf("cells", 4, Ints(8, 100), 4));
  second.arrays.push_back(ArrayOf("values", 1, Floats(5, 7.0f)));
  second.arrays.push_back(ArrayOf("faces", 6, Ints(6, -3), 2));
  SaveGeometries(path_, {&first, &second}, false);
  // Cells, faces, then coords, values; nothing follows the last run.
  const GeometryArray &cells = first.arrays[1], &faces = second.arrays[1];
  const GeometryArray &coords = first.arrays[0], &values = second.arrays[0];
  EXPECT_EQ((std::vector{cells.heavyPosition, faces.heavyPosition, coords.heavyPosition,
                         values.heavyPosition}),
            (std::vector<std::optional<std::uint64_t>>{0, 32, 56, 104}));
  EXPECT_EQ(Reader(path_).Stream(kHeavy),
            TestSupport::Cat({Encoded(cells.data), Encoded(faces.data), Encoded(coords.data),
                              Encoded(values.data)}));
}

TEST_F(GeometryFile, LightRecordLayout) {
  Geometry g;
  g.arrays.push_back(ArrayOf("p", 5, Ints(3, 0)));
  KivMox::NumericArray& d = g.arrays[0].data;
  std::tie(d.subKind, d.tagA, d.tagB, d.paramA, d.paramB, d.tagC) =
      std::make_tuple(2u, U8{0xA1}, U8{0xB2}, 0x11111111u, 0x22222222u, U8{0xC3});
  g.arrays[0].vibration = 1;
  g.arrays.push_back(LinkedArray("q", 7, 3, KivMox::kUnpackedKind));
  g.arrays.push_back(ArrayOf("r", 1, Floats(2, 0.0f)));
  SaveGeometries(path_, {&g}, false);
  Reader r(path_);
  // Count; name, subKind << 24 | kind, not linked, byte size, components, tags and
  // parameters, 64-bit heavy position, vibration as held. A linked array: link fields only.
  Bytes expected = BlockBytes(U32{3}, std::string("p"), U32{0x02000005}, U8{0}, U32{12}, U8{1},
                              U8{0xA1}, U8{0xB2}, U32{0x11111111}, U32{0x22222222}, U8{0xC3},
                              std::uint64_t{0}, U8{1}, std::string("q"), U32{0xFFFFFFFF}, U8{1},
                              U32{7}, U32{3}, U8{0}, std::string("r"), U32{1}, U8{0}, U32{8}, U8{1},
                              U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, std::uint64_t{12}, U8{0});
  EXPECT_EQ(r.Stream(kLight), expected);
  EXPECT_EQ(r.Stream(kAttrs), Bytes(72, 0));  // one empty attribute map per array
}

// Counts, sizes and positions beyond the data are refused before anything is allocated; an
// array count beyond the light data leaves the geometry as it was.
TEST_F(GeometryFile, CountsSizesAndPositionsBeyondTheDataAreRefused) {
  WriteContainer(path_, [&](KivRkf::RkFile& f) {
    PutAll(f.Writer(), kLight, U32{1}, std::string("big"), U32{1}, U8{0}, U32{0xFFFFFFF0}, U8{0},
           U8{0}, U8{0}, U32{0}, U32{0}, U8{0}, std::uint64_t{4}, U8{0});
    PutAll(f.Writer(), kLight, U32{3}, std::string("only one"), U32{1}, U8{1}, U32{1}, U32{0},
           U8{0});
    KivMox::WriteAttributeMap(f.Writer(), kAttrs, {});
    KivMox::WriteAttributeMap(f.Writer(), kAttrs, {});
    f.Writer().Put(kHeavy, std::uint64_t{0});
  });
  Reader reader(path_);
  Geometry g, kept;
  Read(g, reader.Index());
  kept.arrays.emplace_back().name = "kept";
  std::string description;
  EXPECT_EQ(Failure([&] { Read(kept, reader.Index()); }, &description), 1);
  EXPECT_EQ(
      std::make_tuple(description, kept.arrays.size(), kept.arrays.at(0).name),
      std::make_tuple(std::string("Not enough bytes in the block"), 1ul, std::string("kept")));
  // The size read, then 16 bytes at 12 or 17: 8 bytes are stored.
  const std::tuple<std::uint64_t, std::uint64_t, std::string> cases[] = {
      {0xFFFFFFF0, 4, "Not enough bytes in the block"},
      {16, 12, "Invalid block position"},
      {16, 17, "Invalid block position"}};
  for (const auto& [size, position, text] : cases) {
    std::tie(g.arrays[0].data.byteSize, g.arrays[0].heavyPosition) = std::tie(size, position);
    EXPECT_EQ(Failure([&] { LoadStoredArray(reader.Index(), kHeavy, g.arrays[0]); }, &description),
              1);
    EXPECT_EQ(description, text);
    EXPECT_FALSE(g.arrays[0].data.HasBytes()) << position;
  }
}

// Geometry 7 holds the source; 8 links to it, to an array that does not exist and to an
// array that is itself linked. Loaded into a tree of 3 nodes: identifiers move up by 3.
TEST_F(GeometryFile, LinkedArraysShareTheSourceBufferAfterResolution) {
  Geometry source, linking;
  source.arrays.push_back(ArrayOf("coords", 0, Floats(9, 1.0f), 3));
  linking.arrays = {LinkedArray("coords", 7, 0), LinkedArray("missing", 7, 5, 1),
                    LinkedArray("chain", 8, 0)};
  linking.arrays[2].data.subKind = 4;
  SaveGeometries(path_, {&source, &linking});
  Reader reader(path_);
  Geometry s, a;
  Read(s, reader.Index(), "0.7", 3), Read(a, reader.Index(), "0.7", 3);
  for (GeometryArray* array : KivMox::StoredOrder({&s, &a}))
    LoadStoredArray(reader.Index(), kHeavy, *array);
  EXPECT_EQ(std::make_pair(a.arrays[0].linkNode, a.arrays[2].linkNode), std::make_pair(10u, 11u));
  KivMox::LinkSources sources;
  s.EnterArrays(10, sources), a.EnterArrays(11, sources);
  for (Geometry* g : {&s, &a}) g->ResolveLinks(sources);
  // One buffer, not a copy. An absent source gives empty data; a link to a linked array gets
  // that array's data as entered (empty) and keeps its own sub-kind.
  EXPECT_EQ(std::make_tuple(a.arrays[0].data.Bytes(), a.arrays[0].data.componentCount,
                            s.arrays[0].data.HasBytes()),
            std::make_tuple(s.arrays[0].data.Bytes(), U8{3}, true));
  EXPECT_FALSE(a.arrays[1].data.HasBytes() || a.arrays[2].data.HasBytes());
  EXPECT_EQ(std::make_tuple(a.arrays[1].data.byteSize, a.arrays[2].data.subKind, sources.size()),
            std::make_tuple(std::uint64_t{0}, 4u, std::size_t{5}));
}

// Layouts before "0.7", written here with the typed block operations: "0.0a" to "0.4" (and
// unknown version texts) store values as they are and read them at once; "0.5" too, with
// kind words, links and 32-bit positions; "0.6" stores component planes for the passes.
TEST_F(GeometryFile, OlderLayoutsReadEveryFieldAndValue) {
  const std::vector<std::int32_t> conn = {4, -8, 15, 16, 23, 42, 0x7FFFFFFF, -1, 7};
  const std::vector<float> vals = {1.5f, -2.25f, 1e-3f, 6.0e10f};
  KivMox::AttributeMap attributes;
  attributes["Category"] = Attribute::MakeText("Vibration");
  attributes["DataType"] = Attribute::MakeInt(1);  // reserved: dropped
  for (std::string v : {"0.0a", "0.1", "0.2", "0.3", "0.4", "0.45", "1.0", "0.5", "0.6"}) {
    const bool packed = v == "0.5" || v == "0.6", tags = v != "0.1" && v != "0.0a";
    Geometry stored;
    stored.arrays = {ArrayOf("conn", packed ? 0x02000005 : 5, conn, 3),
                     ArrayOf("vals", 0x01000002, vals)};
    WriteContainer(path_, [&](KivRkf::RkFile& f) {
      KivRkf::IndexWriter& ix = f.Writer();
      ix.Put(kLight, U32(packed ? 3 : 2));
      for (const GeometryArray& a : stored.arrays) {
        const Bytes run =
            v == "0.6" ? Encoded(a.data) : Bytes(a.data.Bytes(), a.data.Bytes() + a.data.byteSize);
        PutAll(ix, kLight, a.name, a.kind);
        if (packed) ix.Put(kLight, U8{0});
        PutAll(ix, kLight, U32(run.size()), a.data.componentCount);
        if (tags)
          PutAll(ix, kLight, U8{0x1A}, U8{0x2B}, U32{0x01020304}, U32{0x05060708}, U8{0x3C});
        if (packed) PutAll(ix, kLight, U32(ix.GetSize(kHeavy)));
        if (packed || (tags && v != "0.2")) ix.Put(kLight, U8{1});  // vibration: not kept
        if (packed || (tags && v != "0.2" && v != "0.3")) WriteAttributeMap(ix, kAttrs, attributes);
        if (!packed) PutAll(ix, kLight, U32(ix.GetSize(kHeavy)));
        ix.Put(kHeavy, run.data(), U32(run.size()));
      }
      if (packed)
        PutAll(ix, kLight, std::string("link"), U32{0x03000001}, U8{1}, U32{4}, U32{1}, U8{0});
      if (packed) WriteAttributeMap(ix, kAttrs, attributes);
      ix.Put(kLight, U32{0xDEADBEEF});
    });
    Reader reader(path_);
    Geometry g;
    Read(g, reader.Index(), v, 10);
    EXPECT_EQ(reader.Next(kLight), 0xDEADBEEF) << v;  // the whole record was read
    EXPECT_EQ(g.arrays.size() == 3 && g.arrays[0].heavyPosition.has_value(), v == "0.6") << v;
    for (GeometryArray* a : KivMox::StoredOrder({&g})) LoadStoredArray(reader.Index(), kHeavy, *a);
    // What is expected: packed kind words, the tags, the kept attributes and the link.
    Geometry e = stored;
    for (GeometryArray& a : e.arrays) {
      if (packed) std::tie(a.kind, a.data.subKind) = std::make_tuple(a.kind & 0xFF, a.kind >> 24);
      if (tags)
        std::tie(a.data.tagA, a.data.tagB, a.data.paramA, a.data.paramB, a.data.tagC) =
            std::make_tuple(U8{0x1A}, U8{0x2B}, 0x01020304u, 0x05060708u, U8{0x3C});
      if (packed || (tags && v != "0.2" && v != "0.3"))
        a.attributes["Category"] = attributes["Category"], a.vibration = 1;
    }
    if (packed) e.arrays.push_back(LinkedArray("link", 14, 1, 1)), e.arrays.back().data.subKind = 3;
    EXPECT_EQ(Describe(g), Describe(e)) << v;
  }
}

}  // namespace
