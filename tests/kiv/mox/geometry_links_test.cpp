// Arrays addressed by name and by link: the lookup by name, link resolution sharing one
// buffer, and equal names keeping their own values through a file.
#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/geometry_helpers.hpp"

namespace {

using namespace GeometryTest;
using KivMox::Attribute;
using KivMox::Geometry;
using KivMox::LinkSources;
using TestSupport::ContainerReader;

std::vector<float> Floats(std::size_t n, float start) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = start - float(i);
  return v;
}

class GeometryLinks : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("links.mox");
};

TEST(GeometryArrays, LookupByNameFindsTheFirstExactMatchOrAppendsAnArray) {
  Geometry g;
  g.arrays.push_back(MakeArray("stress", 1, DataOf(Floats(2, 0.0f), 3)));
  g.arrays.push_back(
      MakeArray("stress\x1e"
                "F1",
                1, KivMox::NumericArray{}));
  g.arrays.push_back(MakeArray("stress", 2, KivMox::NumericArray{}));
  EXPECT_EQ(g.FindOrAddArray("stress"), 0u);
  EXPECT_EQ(g.FindOrAddArray("stress\x1e"
                             "F1"),
            1u);
  EXPECT_EQ(g.FindOrAddArray("Stress"), 3u);
  ASSERT_EQ(g.arrays.size(), 4u);
  EXPECT_EQ(g.arrays[3].name, "Stress");
  EXPECT_EQ(g.FindOrAddArray("Stress"), 3u);
  EXPECT_EQ(g.arrays.size(), 4u);
}

// Geometry 7 holds the source arrays; geometries 8 and 9 link to them, to an array that
// does not exist and to an array that is itself linked.
TEST_F(GeometryLinks, LinkedArraysShareTheSourceBufferAfterResolution) {
  Geometry source, first, second;
  source.arrays.push_back(MakeArray("coords", 0, DataOf(Floats(9, 1.0f), 3)));
  source.arrays.push_back(MakeArray("temperature", 1, DataOf(Floats(3, 50.0f), 1)));
  first.arrays.push_back(LinkedArray("coords", 0, 7, 0));
  first.arrays.push_back(MakeArray("own", 1, DataOf(Floats(4, 9.0f), 1)));
  second.arrays.push_back(LinkedArray("coords", 0, 7, 0));
  second.arrays.push_back(LinkedArray("missing", 1, 7, 5));
  second.arrays.push_back(LinkedArray("chain", 0, 8, 0));
  auto positions = SaveGeometries(path_, {&source, &first, &second});

  ContainerReader reader(path_);
  Geometry s, a, b;
  // Loaded into a tree that already holds 3 nodes: identifiers move up by 3.
  LoadGeometries(reader.Index(), {&s, &a, &b}, positions, "0.7", 3);
  ASSERT_EQ(a.arrays[0].linkNode, 10u);
  ASSERT_EQ(b.arrays[2].linkNode, 11u);
  EXPECT_FALSE(a.arrays[0].data.HasBytes());  // linked arrays carry no data of their own

  LinkSources sources;
  s.EnterArrays(10, sources);
  a.EnterArrays(11, sources);
  b.EnterArrays(12, sources);
  EXPECT_EQ(sources.size(), 7u);
  s.ResolveLinks(sources);
  a.ResolveLinks(sources);
  b.ResolveLinks(sources);

  const std::uint8_t* coords = s.arrays[0].data.Bytes();
  ASSERT_NE(coords, nullptr);
  EXPECT_EQ(a.arrays[0].data.Bytes(), coords);  // one buffer, not a copy
  EXPECT_EQ(b.arrays[0].data.Bytes(), coords);
  EXPECT_EQ(s.arrays[0].data.data.use_count(), 4);  // the source, the map, two links
  EXPECT_EQ(a.arrays[0].data.componentCount, 3);
  EXPECT_EQ(ValuesOf<float>(b.arrays[0].data), Floats(9, 1.0f));
  // An absent source gives empty data, also entered in the map.
  EXPECT_EQ(b.arrays[1].data.byteSize, 0u);
  EXPECT_FALSE(b.arrays[1].data.HasBytes());
  EXPECT_EQ(sources.count({10, 5}), 1u);
  // A link to a linked array gets that array's data as entered: empty.
  EXPECT_FALSE(b.arrays[2].data.HasBytes());
  EXPECT_EQ(ValuesOf<float>(a.arrays[1].data), Floats(4, 9.0f));
}

TEST_F(GeometryLinks, ALinkedArrayKeepsItsOwnSubKind) {
  Geometry g;
  g.arrays.push_back(MakeArray("source", 5, DataOf(std::vector<std::int32_t>{1, 2}, 1)));
  g.arrays[0].data.subKind = 1;
  g.arrays.push_back(LinkedArray("link", 5, 2, 0));
  g.arrays[1].data.subKind = 4;
  LinkSources sources;
  g.EnterArrays(2, sources);
  g.ResolveLinks(sources);
  EXPECT_EQ(g.arrays[1].data.Bytes(), g.arrays[0].data.Bytes());
  EXPECT_EQ(g.arrays[1].data.subKind, 4u);
  EXPECT_EQ(sources.at({2, 0}).subKind, 1u);
}

TEST_F(GeometryLinks, ArraysOfEqualNamesKeepTheirOwnValues) {
  // Joined inputs without suffixes: every array is named stress followed by 0x1E.
  const std::string name = "stress\x1e";
  Geometry g;
  g.arrays.push_back(MakeArray(name, 1, DataOf(Floats(5, 1.0f), 1)));
  g.arrays.push_back(MakeArray(name, 1, DataOf(Floats(7, 100.0f), 3)));
  g.arrays.push_back(MakeArray(name, 4, DataOf(std::vector<std::int32_t>{3, 2, 1}, 1)));
  g.arrays.push_back(MakeArray(name, 4, DataOf(std::vector<std::int32_t>{9, 8}, 2)));
  auto positions = SaveGeometries(path_, {&g});

  ContainerReader reader(path_);
  Geometry back;
  LoadGeometries(reader.Index(), {&back}, positions, "0.7");
  ASSERT_EQ(back.arrays.size(), 4u);
  EXPECT_EQ(ValuesOf<float>(back.arrays[0].data), Floats(5, 1.0f));
  EXPECT_EQ(ValuesOf<float>(back.arrays[1].data), Floats(7, 100.0f));
  EXPECT_EQ(ValuesOf<std::int32_t>(back.arrays[2].data), (std::vector<std::int32_t>{3, 2, 1}));
  EXPECT_EQ(ValuesOf<std::int32_t>(back.arrays[3].data), (std::vector<std::int32_t>{9, 8}));
}

}  // namespace
