// A block compressed and written on a second thread: the bytes that reach the file, the
// buffers handed back, and failures raised on the caller's thread with the writer's texts.
#include "kiv/rkf/background_write.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "kiv/rkf/container_helpers.hpp"
#include "kiv/rkf/zlib.hpp"

namespace {

using KivRkf::BackgroundWrite;
using KivRkf::Block;
using TestSupport::Bytes;
using TestSupport::CodeOf;

Block Filled(std::uint32_t n) {
  Block block;
  std::uint8_t* p = block.Extend(n);
  for (std::uint32_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(i / 97);
  return block;
}

class BackgroundWriteTest : public ::testing::Test {
 protected:
  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("out.bin");
};

TEST_F(BackgroundWriteTest, WritesTheCompressedFramingAtItsOffset) {
  std::FILE* f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("head", 1, 4, f), 4u);
  BackgroundWrite job(Filled(50000), BackgroundWrite::Form::Compress, 10, f, {});
  BackgroundWrite::Done done = job.Finish();
  std::fclose(f);

  // The same framing as the compressor on this thread: length field, then the zlib stream.
  Block expected = Filled(50000);
  KivRkf::BlockZlibCompressor compress(6);
  compress(expected);
  EXPECT_EQ(done.storedSize, expected.Size());
  const Bytes file = TestSupport::ReadFileBytes(path_);
  ASSERT_EQ(file.size(), 10u + expected.Size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'h', 'e', 'a', 'd'}));
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 10), Bytes(6, 0));  // the gap reads as zeros
  EXPECT_EQ(Bytes(file.begin() + 10, file.end()),
            Bytes(expected.Data(), expected.Data() + expected.Size()));
}

TEST_F(BackgroundWriteTest, HandsBackBothBuffersOfALargeBlock) {
  std::FILE* f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  BackgroundWrite::Done done =
      BackgroundWrite(Filled(3u << 20), BackgroundWrite::Form::Compress, 0, f, {}).Finish();
  std::fclose(f);
  EXPECT_TRUE(done.spares.raw.Holds());
  EXPECT_GE(done.spares.raw.Capacity(), 3u << 20);
  EXPECT_TRUE(done.spares.packed.Holds());
  EXPECT_EQ(TestSupport::ReadFileBytes(path_).size(), done.storedSize);

  // Stored as it is: the raw bytes go to the file and come back as the raw spare.
  f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  done = BackgroundWrite(Filled(3u << 20), BackgroundWrite::Form::Stored, 0, f, {}).Finish();
  std::fclose(f);
  EXPECT_EQ(done.storedSize, 3u << 20);
  EXPECT_TRUE(done.spares.raw.Holds());
  EXPECT_FALSE(done.spares.packed.Holds());
  const Bytes file = TestSupport::ReadFileBytes(path_);
  Block expected = Filled(3u << 20);
  EXPECT_TRUE(file == Bytes(expected.Data(), expected.Data() + expected.Size()));
  // Compressed beforehand: written as it stands (not compressed twice), its buffer comes
  // back as the packed spare.
  Block packed = Filled(3u << 20);
  KivRkf::BlockZlibCompressor(6)(packed);
  const Bytes framing(packed.Data(), packed.Data() + packed.Size());
  f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  done = BackgroundWrite(std::move(packed), BackgroundWrite::Form::Packed, 0, f, {}).Finish();
  std::fclose(f);
  EXPECT_EQ(done.storedSize, framing.size());
  EXPECT_TRUE(TestSupport::ReadFileBytes(path_) == framing);
  EXPECT_FALSE(done.spares.raw.Holds());
  EXPECT_TRUE(done.spares.packed.Holds());
}

TEST_F(BackgroundWriteTest, AFailedWriteIsRaisedByFinish) {
  TestSupport::WriteFileBytes(path_, {1, 2, 3});
  std::FILE* readOnly = std::fopen(path_.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  std::string description;
  EXPECT_EQ(CodeOf(
                [&] {
                  BackgroundWrite(Filled(1000), BackgroundWrite::Form::Compress, 0, readOnly, {})
                      .Finish();
                },
                &description),
            static_cast<int>(Kiv::Util::ErrorCode::WriteError));
  EXPECT_EQ(description, "Unable to write to file");
  std::fclose(readOnly);
}

TEST_F(BackgroundWriteTest, AStreamThatCannotSeekIsRaisedByFinish) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* pipeEnd = fdopen(fds[1], "w");
  ASSERT_NE(pipeEnd, nullptr);
  std::string description;
  EXPECT_EQ(
      CodeOf(
          [&] {
            BackgroundWrite(Filled(1000), BackgroundWrite::Form::Stored, 0, pipeEnd, {}).Finish();
          },
          &description),
      static_cast<int>(Kiv::Util::ErrorCode::WriteError));
  EXPECT_EQ(description, "Saving the buffer failed");
  std::fclose(pipeEnd);
  close(fds[0]);
}

TEST_F(BackgroundWriteTest, AJobDroppedWithoutFinishIsWaitedFor) {
  std::FILE* f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  { BackgroundWrite job(Filled(200000), BackgroundWrite::Form::Compress, 0, f, {}); }
  // The thread has ended: the stream is the caller's again.
  ASSERT_EQ(std::fflush(f), 0);
  std::fclose(f);
  EXPECT_GT(TestSupport::ReadFileBytes(path_).size(), 4u);
}

}  // namespace
