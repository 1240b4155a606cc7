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

// Two blocks compressed side by side reach the file in the order of their tickets, the
// second right after the first (plus the gap of the blocks between), although the second,
// small one is compressed long before the first.
TEST_F(BackgroundWriteTest, BlocksCompressedSideBySideAreWrittenInTurn) {
  std::FILE* f = std::fopen(path_.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  KivRkf::WriteTurns turns;
  KivRkf::WritePlace first{7, false, &turns, turns.Take()};
  KivRkf::WritePlace second{5, true, &turns, turns.Take()};
  BackgroundWrite large(Filled(8u << 20), BackgroundWrite::Form::Compress, first, f, {});
  BackgroundWrite small(Filled(3000), BackgroundWrite::Form::Stored, second, f, {});
  const BackgroundWrite::Done a = large.Finish();
  const BackgroundWrite::Done b = small.Finish();
  std::fclose(f);
  EXPECT_EQ(a.offset, 7u);
  EXPECT_EQ(b.offset, 7u + a.storedSize + 5);
  Block expected = Filled(8u << 20);
  KivRkf::BlockZlibCompressor(6)(expected);
  const Bytes file = TestSupport::ReadFileBytes(path_);
  ASSERT_EQ(file.size(), b.offset + 3000);
  EXPECT_TRUE(Bytes(file.begin() + 7, file.begin() + 7 + a.storedSize) ==
              Bytes(expected.Data(), expected.Data() + expected.Size()));
  const Block raw = Filled(3000);
  EXPECT_TRUE(Bytes(file.begin() + b.offset, file.end()) ==
              Bytes(raw.Data(), raw.Data() + raw.Size()));
}

// A write that fails is raised by Finish and stops the ones after it: they leave the file
// alone and fail too, so that nothing is ever written at an offset counted from bytes that
// never arrived.
TEST_F(BackgroundWriteTest, AFailedWriteStopsTheWritesAfterIt) {
  TestSupport::WriteFileBytes(path_, {1, 2, 3});
  std::FILE* readOnly = std::fopen(path_.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  KivRkf::WriteTurns turns;
  BackgroundWrite failing(Filled(1000), BackgroundWrite::Form::Compress,
                          KivRkf::WritePlace{0, false, &turns, turns.Take()}, readOnly, {});
  BackgroundWrite after(Filled(1000), BackgroundWrite::Form::Compress,
                        KivRkf::WritePlace{0, true, &turns, turns.Take()}, readOnly, {});
  std::string description;
  EXPECT_EQ(CodeOf([&] { failing.Finish(); }, &description),
            static_cast<int>(Kiv::Util::ErrorCode::WriteError));
  EXPECT_EQ(description, "Unable to write to file");
  EXPECT_EQ(CodeOf([&] { after.Finish(); }, &description),
            static_cast<int>(Kiv::Util::ErrorCode::WriteError));
  EXPECT_EQ(description, "Unable to write to file");
  std::fclose(readOnly);
  EXPECT_EQ(TestSupport::ReadFileBytes(path_), (Bytes{1, 2, 3}));
  // A ticket that never waits does not end another's turn.
  KivRkf::WriteTurns more;
  const std::uint64_t t0 = more.Take(), t1 = more.Take();
  more.Done(t1, 100, false);
  more.Done(t0, 40, false);
  bool failedBefore = true;
  EXPECT_EQ(more.WaitFor(t1, failedBefore), 40u);
  EXPECT_FALSE(failedBefore);
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
