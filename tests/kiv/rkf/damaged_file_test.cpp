// Damaged container files: every fault shows as a Kiv::Util::Exception with the right
// code, never as a crash, a huge allocation or a read outside a buffer.
#include <gtest/gtest.h>

#include "kiv/rkf/container_helpers.hpp"

namespace {

using KivRkf::RkFile;
using TestSupport::Bytes;
using TestSupport::CodeOf;

class DamagedFile : public ::testing::Test {
 protected:
  // A 100-byte stream "A" in block 0, compressed when asked.
  Bytes Written(bool compressed) {
    TestSupport::WriteContainer(path_, [&](RkFile& f) {
      Bytes payload(100);
      for (int i = 0; i < 100; ++i) payload[i] = std::uint8_t(i * 7);
      f.GetIndex().Put("A", payload.data(), 100);
      if (compressed) f.SetBlockFlags("A", KivRkf::kFlagZlib);
    });
    return TestSupport::ReadFileBytes(path_);
  }
  // Code of the failure of reading the whole container, with the description.
  int ReadFails(const Bytes& file, std::string* description = nullptr) {
    TestSupport::WriteFileBytes(path_, file);
    return CodeOf(
        [&] {
          TestSupport::ContainerReader reader(path_);
          Bytes back(100);
          reader.Index().Get("A", back.data(), 100);
        },
        description);
  }
  TestSupport::SmallBlocks small_{nullptr};
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("damaged.mox");
};

TEST_F(DamagedFile, HeaderCutInsideTheIndexLength) {
  Bytes file = Written(false);
  file.resize(14);
  std::string description;
  EXPECT_EQ(ReadFails(file, &description), 9);
  EXPECT_EQ(description, "Unable to read from file");
}

TEST_F(DamagedFile, PrimaryIndexLengthBeyondTheEnd) {
  Bytes file = Written(false);
  TestSupport::SetU32At(file, 12, 0xFFFFFFF0u);
  EXPECT_EQ(ReadFails(file), 9);
  file = Written(false);
  file.resize(2000);  // the primary index itself is cut
  EXPECT_EQ(ReadFails(file), 9);
}

TEST_F(DamagedFile, BlockCutByTheEndOfFile) {
  Bytes file = Written(false);
  file.resize(2850);
  std::string description;
  EXPECT_EQ(ReadFails(file, &description), 9);
  EXPECT_EQ(description, "Unable to read from file");
}

TEST_F(DamagedFile, BlockSizeBeyondTheEndOfFile) {
  Bytes file = Written(false);
  TestSupport::SetU32At(file, TestSupport::PrimaryRecordOffset(0) + 133, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFails(file), 9);
}

TEST_F(DamagedFile, FlippedBytesInAZlibStream) {
  Bytes file = Written(true);
  ASSERT_EQ(file[2804], 0x78);
  file[2812] ^= 0x55;
  file[2813] ^= 0xAA;
  std::string description;
  EXPECT_EQ(ReadFails(file, &description), 9);
  EXPECT_EQ(description, "Unable to decompress block");
}

TEST_F(DamagedFile, AbsurdCountsInTheTable) {
  Bytes file = Written(false);
  TestSupport::SetU32At(file, 16, 0xFFFFFFFFu);  // number of records
  EXPECT_EQ(ReadFails(file), 1);
  file = Written(false);
  TestSupport::SetU32At(file, TestSupport::PrimaryRecordOffset(3) + 1, 0xFFFFFFF0u);  // name
  EXPECT_EQ(ReadFails(file), 1);
}

TEST_F(DamagedFile, IndexBlockBeyondTheEndOfFile) {
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t s = 0; s < 20; ++s) f.GetIndex().Put("S" + std::to_string(s), s);
  });
  Bytes file = TestSupport::ReadFileBytes(path_);
  file.resize(file.size() - 100);  // cuts the end of index block 19
  TestSupport::WriteFileBytes(path_, file);
  RkFile f;
  f.OpenFile(path_, "rb");
  EXPECT_EQ(CodeOf([&] { f.ReadIndex(); }), 9);
}

TEST_F(DamagedFile, EmptiedIndexBlockEndsTheTable) {
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    for (std::uint32_t s = 0; s < 20; ++s) f.GetIndex().Put("S" + std::to_string(s), s);
  });
  Bytes file = TestSupport::ReadFileBytes(path_);
  TestSupport::SetU32At(file, 2800 + 19 * 4, 0);  // index block 19 now lists no blocks
  TestSupport::WriteFileBytes(path_, file);
  TestSupport::ContainerReader reader(path_);
  EXPECT_EQ(reader.Index().Blocks().size(), 20u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S19", 77u), 77u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S18"), 18u);
}

// Every single damaged byte, in a container with a plain and a compressed stream, either
// reads back or fails with an exception of the system.
TEST_F(DamagedFile, EveryFlippedByteFailsCleanly) {
  TestSupport::WriteContainer(path_, [](RkFile& f) {
    f.GetIndex().Put("Plain", std::vector<std::string>{"alpha", "beta"});
    f.GetIndex().Put("Packed", std::vector<std::uint32_t>(64, 5));
    f.SetBlockFlags("Packed", KivRkf::kFlagZlib);
  });
  const Bytes original = TestSupport::ReadFileBytes(path_);
  int failures = 0;
  for (std::size_t at = 0; at < original.size(); ++at) {
    Bytes file = original;
    file[at] ^= 0xFF;
    TestSupport::WriteFileBytes(path_, file);
    try {
      TestSupport::ContainerReader reader(path_);
      reader.Get<std::vector<std::string>>("Plain");
      reader.Get<std::vector<std::uint32_t>>("Packed");
    } catch (const Kiv::Util::Exception&) {
      ++failures;
    }
  }
  // Bytes of the name fields and of the values are damaged silently; lengths, counts and
  // the zlib stream are not.
  EXPECT_GT(failures, 20);
}

}  // namespace
