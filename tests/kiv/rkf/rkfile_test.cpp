// The container file: header bytes, version checks, opening and closing.
#include "kiv/rkf/rkfile.hpp"

#include <gtest/gtest.h>

#include "kiv/log/log_capture.hpp"
#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivRkf::RkFile;
using TestSupport::Bytes;
using TestSupport::CodeOf;

class Container : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("model.mox");
};

TEST_F(Container, OneUncompressedStreamOf100Bytes) {
  Bytes payload(100);
  for (int i = 0; i < 100; ++i) payload[i] = std::uint8_t(i + 1);
  TestSupport::WriteContainer(
      path_, [&](RkFile& f) { f.GetIndex().Put("Light Data", payload.data(), 100); });
  Bytes file = TestSupport::ReadFileBytes(path_);
  ASSERT_EQ(file.size(), 2900u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 20),
            (Bytes{0x89, 0x52, 0x4B, 0x46, 0x0D, 0x0A, 0x1A, 0x0A, 0x31, 0x2E,
                   0x33, 0x00, 0xE0, 0x0A, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00}));
  // Record of block 0: serial 1, name field of 128 bytes, storedSize 100, flags 0.
  std::size_t r0 = TestSupport::PrimaryRecordOffset(0);
  EXPECT_EQ(file[r0], 1);
  EXPECT_EQ(TestSupport::U32At(file, r0 + 1), 128u);
  EXPECT_EQ(std::string(file.begin() + r0 + 5, file.begin() + r0 + 15), "Light Data");
  EXPECT_EQ(Bytes(file.begin() + r0 + 15, file.begin() + r0 + 133), Bytes(118, 0));
  EXPECT_EQ(TestSupport::U32At(file, r0 + 133), 100u);
  EXPECT_EQ(file[r0 + 137], 0);
  EXPECT_EQ(file[r0 + 138], 0);
  // The other 19 blocks are unassigned and take no bytes.
  for (std::uint32_t k = 1; k < 20; ++k) {
    std::size_t r = TestSupport::PrimaryRecordOffset(k);
    EXPECT_EQ(file[r], k + 1);
    EXPECT_EQ(std::string(file.begin() + r + 5, file.begin() + r + 18), KivRkf::kEmptyBlockName);
    EXPECT_EQ(TestSupport::U32At(file, r + 133), 0u);
  }
  EXPECT_EQ(Bytes(file.begin() + 2800, file.end()), payload);

  TestSupport::ContainerReader reader(path_);
  Bytes back(100);
  reader.Index().Get("Light Data", back.data(), 100);
  EXPECT_EQ(back, payload);
  EXPECT_EQ(reader.Index().HeaderSize(), 16u);
  EXPECT_EQ(reader.Index().IndexBufferSize(), 2784u);
}

TEST_F(Container, CompressedStreamRoundTrip) {
  std::vector<double> values(5000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = double(i % 97) * 0.5;
  TestSupport::WriteContainer(path_, [&](RkFile& f) {
    f.GetIndex().Put("Heavy Data", values);
    f.GetIndex().Put("Mox Tree", std::string("root"));
    f.SetBlockFlags("Heavy Data", KivRkf::kFlagZlib);
  });
  Bytes file = TestSupport::ReadFileBytes(path_);
  EXPECT_LT(file.size(), 2800u + 40000u);
  EXPECT_EQ(TestSupport::U32At(file, 2800), 4u + 8u * 5000u);  // the uncompressed length
  EXPECT_EQ(file[2804], 0x78);
  TestSupport::ContainerReader reader(path_);
  EXPECT_EQ(reader.Get<std::vector<double>>("Heavy Data"), values);
  EXPECT_EQ(reader.Get<std::string>("Mox Tree"), "root");
}

// The first 12 bytes: magic, then the version text up to its first zero byte.
TEST_F(Container, Header) {
  {
    RkFile f;
    f.OpenFile(path_, "wb+");
    f.WriteHeader();
  }
  const Bytes written = TestSupport::ReadFileBytes(path_);
  EXPECT_EQ(written, (Bytes{0x89, 'R', 'K', 'F', 0x0D, 0x0A, 0x1A, 0x0A, '1', '.', '3', 0}));
  struct Case {
    Bytes bytes;
    bool container;
    std::string version;  // "" with code
    int code;
  };
  const Bytes magic = {0x89, 'R', 'K', 'F', 0x0D, 0x0A, 0x1A, 0x0A};
  auto with = [&](Bytes tail) {
    Bytes b = magic;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  const Case cases[] = {
      {written, true, "1.3", 0},
      {with({'0', '.', '1', 'a'}), true, "0.1a", 0},
      {with({'0', 0, '1', 'a'}), true, "0", 0},
      {with({'1', '.'}), true, "", 9},
      {Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0}, false, "", -1},
      {Bytes{0x89, 'R', 'K', 'F', 0x0D, 0x0A, 0x1A}, false, "", -1},
      {Bytes{}, false, "", -1},
  };
  RkFile closed;
  EXPECT_FALSE(closed.IsContainerFile());  // nothing open
  for (const Case& c : cases) {
    TestSupport::WriteFileBytes(path_, c.bytes);
    RkFile f;
    f.OpenFile(path_, "rb");
    EXPECT_EQ(f.IsContainerFile(), c.container) << c.bytes.size() << " bytes";
    if (c.code > 0) {
      EXPECT_EQ(CodeOf([&] { f.ReadVersion(); }), c.code);
    } else if (c.code == 0) {
      EXPECT_EQ(f.ReadVersion(), c.version);
    }
  }
}

// Version texts count tenths; up to "1.3" is read, "wide" (64-bit light positions) above
// "0.6"; newer versions are refused with the system's text.
TEST(CheckSupport, VersionsUpTo13) {
  const std::pair<const char*, int> tenths[] = {{"1.3", 13}, {"0.6", 6}, {"0.7", 7}, {"1.4", 14},
                                                {"0.1a", 1}, {"v1", 0},  {"", 0},    {"nan", 0}};
  for (const auto& [text, n] : tenths) EXPECT_EQ(KivRkf::VersionNumber(text), n) << text;
  EXPECT_GT(KivRkf::VersionNumber("9e99"), 13);
  EXPECT_GT(KivRkf::VersionNumber("inf"), 13);
  RkFile f;
  const std::pair<const char*, bool> wide[] = {
      {"1.3", true}, {"0.6", false}, {"0.7", true}, {"0.1", false}, {"junk", false}};
  for (const auto& [text, expected] : wide) {
    bool flag = !expected;
    f.CheckSupport(text, flag);
    EXPECT_EQ(flag, expected) << text;
  }
  bool flag = false;
  std::string description;
  EXPECT_EQ(CodeOf([&] { f.CheckSupport("1.4", flag); }, &description), 2);
  EXPECT_EQ(description,
            "This file is of mox file version 14.\n"
            "This version of Tessara only supports mox file version upto 13.\n");
  EXPECT_EQ(CodeOf([&] { f.CheckSupport("9e99", flag); }), 2);
}

TEST_F(Container, OpeningAMissingFileFails) {
  RkFile f;
  const std::string missing = dir_.File("missing.mox");
  std::string description;
  EXPECT_EQ(CodeOf([&] { f.OpenFile(missing, "rb"); }, &description), 16);
  EXPECT_EQ(description, "Unable to open file \"" + missing + "\"");
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(Container, OpeningADirectoryFails) {
  RkFile f;
  std::string description;
  EXPECT_EQ(CodeOf([&] { f.OpenFile(dir_.Path(), "rb"); }, &description), 16);
  EXPECT_EQ(description, "Unable to open file \"" + dir_.Path() + "\"");
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(CodeOf([&] { f.OpenFile(dir_.Path(), "wb+"); }), 16);
}

TEST_F(Container, OpeningTwiceKeepsTheFirstStream) {
  TestSupport::WriteContainer(path_, [](RkFile& f) { f.GetIndex().Put("A", 7u); });
  const std::string other = dir_.File("other.mox");
  TestSupport::WriteFileBytes(other, {1, 2, 3});
  RkFile f;
  f.OpenFile(path_, "rb");
  std::FILE* first = f.Stream();
  std::string description;
  EXPECT_EQ(CodeOf([&] { f.OpenFile(other, "rb"); }, &description), 16);
  EXPECT_EQ(description, "File stream is already in use");
  EXPECT_EQ(f.Stream(), first);
  EXPECT_TRUE(f.IsContainerFile());
  f.EnsureIndex();
  std::uint32_t v = 0;
  f.GetIndex().Get("A", v);
  EXPECT_EQ(v, 7u);
}

TEST_F(Container, ClosingTwiceLogsCloseOnce) {
  TestSupport::WriteFileBytes(path_, {1});
  RkFile f;
  f.OpenFile(path_, "rb");
  TestSupport::LogCapture capture;
  f.CloseFile();
  f.CloseFile();
  EXPECT_EQ(capture.Count("Closing file ..."), 2);
  EXPECT_EQ(capture.Count("File closed."), 1);
  EXPECT_FALSE(f.IsOpen());
  f.OpenFile(path_, "rb");  // a closed container opens again
  EXPECT_TRUE(f.IsOpen());
}

TEST_F(Container, ReadIndexLogsAroundTheTable) {
  TestSupport::WriteContainer(path_, [](RkFile& f) { f.GetIndex().Put("A", 1u); });
  RkFile f;
  f.OpenFile(path_, "rb");
  TestSupport::LogCapture capture;
  f.EnsureIndex();
  f.EnsureIndex();  // the table is there: nothing is read again
  EXPECT_EQ(capture.Count("Reading index positions ... "), 1);
  EXPECT_EQ(capture.Count("Index read. "), 1);
  EXPECT_EQ(f.GetIndex().Blocks().size(), 20u);
}

TEST_F(Container, ValuesLoadedBeforeClosingStayReadable) {
  TestSupport::SmallBlocks small("8");
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t i = 0; i < 4; ++i) f.GetIndex().Put("A", i);
  });
  RkFile f;
  f.OpenFile(path_, "rb");
  f.ReadIndex();
  std::uint32_t v = 99;
  f.GetIndex().Get("A", v);
  EXPECT_EQ(v, 0u);
  f.CloseFile();
  f.GetIndex().Get("A", v);  // same block, already loaded
  EXPECT_EQ(v, 1u);
  v = 99;
  f.GetIndex().Get("A", v);  // the next block was never loaded: reads as nothing
  EXPECT_EQ(v, 99u);
}

}  // namespace
