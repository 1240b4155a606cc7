// Material records (versioned, "0.3", 84 bytes framed) and shape records in "Resources".
#include "kiv/mox/material.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivMox::Material;
using KivMox::Shape;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::Next;
using TestSupport::RecordFile;

const std::string kResources = "Resources";
constexpr std::uint32_t kSentinel = 0x5EA1ED00;

Material Sample() {
  Material m;
  m.colorA = {0.1f, 0.2f, 0.3f, 0.4f};
  m.colorB = {0.5f, 0.6f, 0.7f, 0.8f};
  m.colorC = {0.9f, 1.0f, 1.1f, 9.0f};
  m.colorD = {1.2f, 1.3f, 1.4f, 9.5f};
  m.valueE = 42.0f;
  m.valueF = 0.75f;
  m.flagG = 0;
  return m;
}

// Colors A and B and value E as written; the fourth floats of C and D are not read.
void ExpectGroupOne(const Material& r) {
  const Material w = Sample();
  EXPECT_EQ(r.colorA, w.colorA);
  EXPECT_EQ(r.colorB, w.colorB);
  EXPECT_EQ(r.colorC, (std::array<float, 4>{0.9f, 1.0f, 1.1f, 0.0f}));
  EXPECT_EQ(r.colorD, (std::array<float, 4>{1.2f, 1.3f, 1.4f, 0.2f}));
  EXPECT_EQ(r.valueE, 42.0f);
}

TEST(MaterialTest, ShapeWritesAnEightyFourByteRecordThatReadsBack) {
  Shape s;
  s.material = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        KivMox::WriteShape(s, index);
        index.Put(kResources, kSentinel);
      },
      true);
  const Bytes b = file.StreamBytes(kResources);
  ASSERT_EQ(b.size(), 88u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 11), (Bytes{84, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3'}));
  EXPECT_EQ(b[83], 0);  // flag G last
  float e = 0;
  std::memcpy(&e, b.data() + 11 + 64, 4);
  EXPECT_EQ(e, 42.0f);
  EXPECT_TRUE(file.StreamBytes("Light Data").empty());
  Shape r;
  KivMox::ReadShape(r, file.Index(), kResources, "0.2");
  ExpectGroupOne(r.material);
  EXPECT_EQ(r.material.valueF, 0.75f);
  EXPECT_EQ(r.material.flagG, 0);
  EXPECT_EQ(Next(file.Index(), kResources), kSentinel);
}

// Older records (with or, in a legacy container, without a size) and a newer one with
// five more bytes: what is missing keeps its default, what is extra is skipped.
TEST(MaterialTest, OlderNewerAndUnsizedRecords) {
  struct Case {
    const char* version;
    bool sized;
    float valueF;
  };
  for (const Case& c : {Case{"0.1", true, 0.2f}, Case{"0.2", true, 0.75f},
                        Case{"0.2", false, 0.75f}, Case{"0.4", true, 0.75f}}) {
    SCOPED_TRACE(std::string(c.version) + (c.sized ? " sized" : " unsized"));
    RecordFile file([&](KivRkf::Index& index) {
      KivRkf::Block record;
      const Material m = Sample();
      if (c.sized) record.Put(std::uint32_t{0});
      record.Put(std::string(c.version));
      record.Put(m.colorA);
      record.Put(m.colorB);
      record.Put(m.colorC);
      record.Put(m.colorD);
      record.Put(m.valueE);
      if (c.version != std::string("0.1")) record.Put(m.valueF);
      if (c.version == std::string("0.4"))
        record.Put(std::array<std::uint8_t, 6>{0, 1, 2, 3, 4, 5});  // flag G and five more
      const std::uint32_t size = record.Position();
      if (c.sized) {
        record.SetPosition(0u);
        record.Put(size);
      }
      index.Put(kResources, record.Data(), size);
      index.Put(kResources, kSentinel);
    });
    std::optional<KivRkf::ScopedContainerVersion> legacy;
    if (!c.sized) legacy.emplace("0.1b");
    Material r;
    file.Index().Get(kResources, r);
    ExpectGroupOne(r);
    EXPECT_EQ(r.valueF, c.valueF);
    EXPECT_EQ(r.flagG, std::string(c.version) == "0.4" ? 0 : 1);
    EXPECT_EQ(Next(file.Index(), kResources), kSentinel);
  }
}

TEST(MaterialTest, SizeShorterThanTheGroupsIsAnUnknownVersion) {
  RecordFile file([&](KivRkf::Index& index) {
    KivRkf::Block record;
    KivRkf::CopyToBlock_Versioned(record, Sample());
    record.SetPosition(0u);
    record.Put(std::uint32_t{80});
    index.Put(kResources, record.Data(), record.Size());
  });
  Material r;
  EXPECT_EQ(CodeOf([&] { file.Index().Get(kResources, r); }), 2);
}

// Shapes of "0.0a" and "0.1" have no material record and keep the default material; any
// other version reads one.
TEST(ShapeTest, OnlyOldShapesHaveNoMaterialRecord) {
  for (const char* version : {"0.0a", "0.1", "0.2", "0.3", "0.1a"}) {
    SCOPED_TRACE(version);
    const bool old = version == std::string("0.0a") || version == std::string("0.1");
    RecordFile file([&](KivRkf::Index& index) {
      if (!old) index.Put(kResources, Sample());
      index.Put(kResources, kSentinel);
    });
    Shape r;
    KivMox::ReadShape(r, file.Index(), kResources, version);
    EXPECT_EQ(Next(file.Index(), kResources), kSentinel);
    if (!old) {
      EXPECT_EQ(r.material.valueE, 42.0f);
      continue;
    }
    const Material& m = r.material;
    EXPECT_EQ(m.colorA, (std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f}));
    EXPECT_EQ(m.colorB, (std::array<float, 4>{0, 0, 0, 1.0f}));
    EXPECT_EQ(m.colorC, (std::array<float, 4>{0, 0, 0, 0}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m.colorD[i], 0.2f * m.colorA[i]);
    EXPECT_EQ(m.valueE, 0);
    EXPECT_EQ(m.valueF, 0.2f);
    EXPECT_EQ(m.flagG, 1);
  }
}

}  // namespace
