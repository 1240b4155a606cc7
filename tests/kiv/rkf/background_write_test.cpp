// Blocks compressed and written on a second thread: the bytes that reach the file, turns,
// failures raised on the caller's thread with the writer's texts, and the buffers carried
// from one block to the next.
#include "kiv/rkf/background_write.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "kiv/rkf/container_helpers.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using KivRkf::BackgroundWrite;
using Form = KivRkf::BackgroundWrite::Form;
using TestSupport::Bytes;
using TestSupport::Failure;
using TestSupport::Zlib;

Bytes Filled(std::uint32_t n) {
  Bytes bytes(n);
  for (std::uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i / 97);
  return bytes;
}

KivRkf::Block Block(std::uint32_t n) {
  return TestSupport::BlockOf(Filled(n));
}

// Blocks written into an in-memory file; the file's bytes once the stream is closed.
struct Output {
  TestSupport::MemFile file;
  std::FILE* stream = std::fopen(file.Path().c_str(), "wb+");
  Bytes Close(Bytes before = {}) {
    std::fclose(stream);
    const Bytes bytes = file.Read();
    EXPECT_TRUE(Bytes(bytes.begin(), bytes.begin() + before.size()) == before);
    return Bytes(bytes.begin() + before.size(), bytes.end());
  }
};

// Two blocks compressed side by side reach the file in the order of their tickets, the
// second right after the first (plus the gap of the blocks between), although the second,
// small one is compressed long before the first. A job dropped without Finish is waited for.
TEST(BackgroundWrite, BlocksCompressedSideBySideAreWrittenInTurn) {
  Output out;
  KivRkf::WriteTurns turns;
  KivRkf::WritePlace first{7, false, &turns, turns.Take()}, second{5, true, &turns, turns.Take()};
  BackgroundWrite large(Block(8u << 20), Form::Compress, first, out.stream, {});
  BackgroundWrite small(Block(3000), Form::Stored, second, out.stream, {});
  const BackgroundWrite::Done a = large.Finish(), b = small.Finish();
  Bytes expected = Zlib(Filled(8u << 20));
  EXPECT_EQ(std::make_pair(a.offset, std::size_t(a.storedSize)),
            std::make_pair(7ul, expected.size()));
  expected.resize(expected.size() + 5, 0);
  const Bytes stored = Filled(3000);
  expected.insert(expected.end(), stored.begin(), stored.end());
  EXPECT_TRUE(out.Close(Bytes(7)) == expected);
  EXPECT_EQ(b.offset, 7u + a.storedSize + 5);
  Output dropped;
  { BackgroundWrite job(Block(200000), Form::Compress, 0, dropped.stream, {}); }
  ASSERT_EQ(std::fflush(dropped.stream), 0);  // the thread has ended: the stream is the caller's
  EXPECT_EQ(dropped.Close(), Zlib(Filled(200000)));
}

// A write that fails is raised by Finish and stops the ones after it: they leave the file
// alone and fail too, so that nothing is ever written at an offset counted from bytes that
// never arrived.
TEST(BackgroundWrite, FailuresAreRaisedByFinish) {
  TestSupport::MemFile file({1, 2, 3});
  std::FILE* readOnly = std::fopen(file.Path().c_str(), "rb");
  KivRkf::WriteTurns turns;
  BackgroundWrite failing(Block(1000), Form::Compress, {0, false, &turns, turns.Take()}, readOnly,
                          {});
  BackgroundWrite after(Block(1000), Form::Compress, {0, true, &turns, turns.Take()}, readOnly, {});
  EXPECT_EQ(Failure([&] { failing.Finish(); }), "10 Unable to write to file");
  EXPECT_EQ(Failure([&] { after.Finish(); }), "10 Unable to write to file");
  std::fclose(readOnly);
  EXPECT_EQ(file.Read(), (Bytes{1, 2, 3}));
  KivRkf::WriteTurns more;  // a ticket that never waits does not end another's turn
  const std::uint64_t t0 = more.Take(), t1 = more.Take();
  more.Done(t1, 100, false);
  more.Done(t0, 40, false);
  bool failedBefore = true;
  EXPECT_EQ(std::make_pair(more.WaitFor(t1, failedBefore), failedBefore),
            std::make_pair(40ul, false));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* pipeEnd = fdopen(fds[1], "w");  // a stream that cannot seek
  EXPECT_EQ(Failure([&] { BackgroundWrite(Block(1000), Form::Stored, 0, pipeEnd, {}).Finish(); }),
            "10 Saving the buffer failed");
  std::fclose(pipeEnd);
  close(fds[0]);
}

// Runs of 3 MiB with a stream limit of 2 MiB: every run fills a block, written at once.
// While one block is compressed and written in the background, the next fills a second
// buffer; from then on the two take turns: block k + 2 fills the buffer of block k (a fresh
// buffer would hold zeros where the marks are). Reading on, a block left behind gives its
// buffer to the next block; released blocks are read again when a position needs them.
TEST(SpareBuffers, StreamingBlocksTakeTurnsWithTwoBuffers) {
  TestSupport::EnvGuard quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", nullptr);
  TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "2097152");
  constexpr std::uint32_t kRun = 3u << 20, kMarkAt = 5u << 20;
  auto value = [](std::uint32_t run, std::uint32_t i) { return std::uint8_t(run * 7 + i / 512); };
  std::vector<std::uint8_t*> raw;
  const Bytes bytes = TestSupport::ContainerBytes([&](KivRkf::RkFile& f) {
    KivRkf::Index& index = f.GetIndex();
    for (std::uint32_t run = 0; run < 6; ++run) {
      index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      KivRkf::Block& block = index.WritingBlock("Heavy Data", false);
      std::uint8_t* p = block.Extend(kRun);
      for (std::uint32_t i = 0; i < kRun; ++i) p[i] = value(run, i);
      ASSERT_GE(block.Capacity(), kMarkAt + 8);
      const char* mark = run % 2 ? "spare 1" : "spare 0";
      if (run < 2) std::memcpy(block.Data() + kMarkAt, mark, 8);
      EXPECT_EQ(std::memcmp(block.Data() + kMarkAt, mark, 8), 0) << "block " << run;
      raw.push_back(block.Data());
      index.SetBlockFlags("Heavy Data", KivRkf::kFlagStreaming | KivRkf::kFlagZlib);
      index.FlushFrozen(f.Stream());
    }
    index.Put("Light Data", std::uint32_t{42});  // another stream does not take the buffer
    for (std::uint8_t* buffer : raw) EXPECT_NE(index.Buffer(6).Data(), buffer);
  });
  EXPECT_NE(raw[1], raw[0]);
  for (std::size_t k = 2; k < raw.size(); ++k) EXPECT_EQ(raw[k], raw[k - 2]) << "block " << k;

  TestSupport::ContainerReader reader(bytes);
  KivRkf::Index& index = reader.Index();
  ASSERT_EQ(index.Names().at("Heavy Data").blocks, (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5}));
  auto check = [&](std::uint32_t run) {
    Bytes back(kRun);
    index.Get("Heavy Data", back.data(), kRun);
    for (std::uint32_t i = 0; i < kRun; i += 4099)
      ASSERT_EQ(back[i], value(run, i)) << run << " " << i;
  };
  check(0);
  const std::uint8_t* first = index.Buffer(0).Data();
  for (std::uint32_t run = 1; run < 4; ++run) check(run);
  EXPECT_EQ(index.Buffer(3).Data(), first);  // block 3 has the buffer block 0 had
  for (std::uint64_t b : {0, 1, 2})
    EXPECT_FALSE(index.Buffer(b).HasBuffer() || index.Blocks()[b].loaded) << b;
  index.ReleaseLoadedBlocks("Heavy Data");
  EXPECT_FALSE(index.Buffer(3).HasBuffer());
  index.SetReadingPosition("Heavy Data", 3 * kRun);
  check(3);
  index.SetReadingPosition("Heavy Data", 0);
  for (std::uint32_t run = 0; run < 6; ++run) check(run);
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data"), 42u);
}

}  // namespace
