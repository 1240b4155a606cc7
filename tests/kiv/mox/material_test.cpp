// Material records (versioned, "0.3", 84 bytes framed) and shape records in "Resources".
#include "kiv/mox/material.hpp"

#include <array>
#include <cstring>
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

// An older material record as an older writer framed it: size (unless legacy), version,
// group 1 and, from "0.2" on, value F.
void PutOlderRecord(KivRkf::Index& index, const Material& m, const std::string& version,
                    bool sized = true) {
  KivRkf::Block& b = index.WritingBlock(kResources);
  const std::uint32_t start = b.Position();
  if (sized) b.Put(std::uint32_t{0});
  b.Put(version);
  b.Put(m.colorA);
  b.Put(m.colorB);
  b.Put(m.colorC);
  b.Put(m.colorD);
  b.Put(m.valueE);
  if (version != "0.1") b.Put(m.valueF);
  if (!sized) return;
  const std::uint32_t end = b.Position();
  b.SetPosition(start);
  b.Put(end - start);
  b.SetPosition(end);
}

void ExpectGroupOne(const Material& read, const Material& written) {
  EXPECT_EQ(read.colorA, written.colorA);
  EXPECT_EQ(read.colorB, written.colorB);
  EXPECT_EQ(read.colorC[0], written.colorC[0]);
  EXPECT_EQ(read.colorD[2], written.colorD[2]);
  EXPECT_EQ(read.valueE, written.valueE);
}

std::uint32_t NextResource(KivRkf::Index& index) {
  std::uint32_t v = 0;
  index.Get(kResources, v);
  return v;
}

TEST(MaterialTest, DefaultsOfANewShapesMaterial) {
  Material m;
  EXPECT_EQ(m.GetTypeName(), "Material");
  EXPECT_EQ(m.GetVersion(), "0.3");
  EXPECT_EQ(m.GetRecordVersion(), "0.3");
  EXPECT_EQ(m.colorA, (std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f}));
  EXPECT_EQ(m.colorB, (std::array<float, 4>{0, 0, 0, 1.0f}));
  EXPECT_EQ(m.colorC[0], 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(m.colorD[i], 0.2f * m.colorA[i]);
  EXPECT_EQ(m.valueE, 0);
  EXPECT_EQ(m.valueF, 0.2f);
  EXPECT_EQ(m.flagG, 1);
}

TEST(MaterialTest, WrittenRecordIs84Bytes) {
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, Sample());
  ASSERT_EQ(b.Size(), 84u);
  const Bytes head(b.Data(), b.Data() + 11);
  EXPECT_EQ(head, (Bytes{84, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3'}));
  EXPECT_EQ(b.Data()[83], 0);  // flag G last
  float e = 0;
  std::memcpy(&e, b.Data() + 11 + 64, 4);
  EXPECT_EQ(e, 42.0f);
}

TEST(MaterialTest, ShapeWritesItsMaterialIntoResources) {
  Shape s;
  s.material = Sample();
  RecordFile file([&](KivRkf::Index& index) { KivMox::WriteShape(s, index); });
  Bytes resources = file.StreamBytes(kResources);
  EXPECT_EQ(resources.size(), 84u);
  EXPECT_TRUE(file.StreamBytes("Light Data").empty());
}

TEST(MaterialTest, CurrentShapeRoundTripsThroughACompressedFile) {
  Shape s;
  s.material = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        KivMox::WriteShape(s, index);
        index.Put(kResources, kSentinel);
      },
      true);
  Shape r;
  KivMox::ReadShape(r, file.Index(), kResources, "0.2");
  ExpectGroupOne(r.material, s.material);
  EXPECT_EQ(r.material.valueF, 0.75f);
  EXPECT_EQ(r.material.flagG, 0);
  EXPECT_EQ(NextResource(file.Index()), kSentinel);
}

TEST(MaterialTest, FourthFloatOfColorsCAndDIsIgnored) {
  RecordFile file([&](KivRkf::Index& index) { index.Put(kResources, Sample()); });
  Material r;
  file.Index().Get(kResources, r);
  EXPECT_EQ(r.colorC[2], 1.1f);
  EXPECT_EQ(r.colorC[3], 0.0f);
  EXPECT_EQ(r.colorD[2], 1.4f);
  EXPECT_EQ(r.colorD[3], 0.2f * 1.0f);
}

TEST(MaterialTest, VersionZeroOneKeepsValueFAndFlagG) {
  RecordFile file([&](KivRkf::Index& index) {
    PutOlderRecord(index, Sample(), "0.1");
    index.Put(kResources, kSentinel);
  });
  Material r;
  file.Index().Get(kResources, r);
  ExpectGroupOne(r, Sample());
  EXPECT_EQ(r.valueF, 0.2f);
  EXPECT_EQ(r.flagG, 1);
  EXPECT_EQ(NextResource(file.Index()), kSentinel);
}

TEST(MaterialTest, VersionZeroTwoKeepsFlagG) {
  RecordFile file([&](KivRkf::Index& index) {
    PutOlderRecord(index, Sample(), "0.2");
    index.Put(kResources, kSentinel);
  });
  Material r;
  file.Index().Get(kResources, r);
  EXPECT_EQ(r.valueF, 0.75f);
  EXPECT_EQ(r.flagG, 1);
  EXPECT_EQ(NextResource(file.Index()), kSentinel);
}

TEST(MaterialTest, NewerRecordIsReadAndItsExtraBytesSkipped) {
  RecordFile file([&](KivRkf::Index& index) {
    KivRkf::Block& b = index.WritingBlock(kResources);
    KivRkf::Block record;
    KivRkf::CopyToBlock_Versioned(record, Sample());
    // Turn the "0.3" record into a "0.4" one with five more bytes.
    record.SetPosition(10u);
    record.Put(std::uint8_t{'4'});
    record.SetPosition(84u);
    record.Put(std::array<std::uint8_t, 5>{1, 2, 3, 4, 5});
    record.SetPosition(0u);
    record.Put(std::uint32_t{89});
    b.Put(record.Data(), record.Size());
    index.Put(kResources, kSentinel);
  });
  Material r;
  file.Index().Get(kResources, r);
  ExpectGroupOne(r, Sample());
  EXPECT_EQ(r.flagG, 0);
  EXPECT_EQ(NextResource(file.Index()), kSentinel);
}

TEST(MaterialTest, LegacyContainerRecordHasNoSize) {
  RecordFile file([&](KivRkf::Index& index) {
    PutOlderRecord(index, Sample(), "0.2", false);
    index.Put(kResources, kSentinel);
  });
  KivRkf::ScopedContainerVersion legacy("0.1b");
  Material r;
  file.Index().Get(kResources, r);
  ExpectGroupOne(r, Sample());
  EXPECT_EQ(r.valueF, 0.75f);
  EXPECT_EQ(NextResource(file.Index()), kSentinel);
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

TEST(ShapeTest, TypeNameAndVersion) {
  Shape s;
  EXPECT_EQ(s.GetTypeName(), "Shape");
  EXPECT_EQ(s.GetVersion(), "0.2");
}

TEST(ShapeTest, OldShapesKeepTheDefaultMaterial) {
  for (const char* version : {"0.0a", "0.1"}) {
    RecordFile file([&](KivRkf::Index& index) { index.Put(kResources, kSentinel); });
    Shape r;
    KivMox::ReadShape(r, file.Index(), kResources, version);
    EXPECT_EQ(r.material.colorA, (std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f}));
    EXPECT_EQ(NextResource(file.Index()), kSentinel) << version;
  }
}

TEST(ShapeTest, AnyOtherVersionReadsTheMaterialRecord) {
  for (const char* version : {"0.2", "0.3", "0.1a"}) {
    RecordFile file([&](KivRkf::Index& index) {
      index.Put(kResources, Sample());
      index.Put(kResources, kSentinel);
    });
    Shape r;
    KivMox::ReadShape(r, file.Index(), kResources, version);
    EXPECT_EQ(r.material.valueE, 42.0f) << version;
    EXPECT_EQ(NextResource(file.Index()), kSentinel) << version;
  }
}

}  // namespace
