// Ranges copied between files (by the kernel or in chunks); copied zlib blocks checked.
#include <fcntl.h>

#include <gtest/gtest.h>

#include "kiv/rkf/copied_block_check.hpp"
#include "kiv/rkf/range_copy.hpp"
#include "support/container_helpers.hpp"

namespace {

using namespace TestSupport;
using KivRkf::CopyOutcome;

Bytes Counting(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

struct KernelCopy {
  explicit KernelCopy(bool on) { KivRkf::SetKernelCopy(on); }
  ~KernelCopy() { KivRkf::SetKernelCopy(true); }
};

TEST(RangeCopyTest, BothWaysCopyTheRangeAndReportWhatFailed) {
  const Bytes source = Counting(9 << 20);  // more than two chunks of the buffered copy
  for (bool kernel : {true, false}) {
    SCOPED_TRACE(kernel ? "kernel" : "buffered");
    KernelCopy mode(kernel);
    MemFile from(source), to(Bytes(100, 0xAB));
    ASSERT_EQ(KivRkf::CopyRange(from.fd, 3, to.fd, 50, source.size() - 5), CopyOutcome::Done);
    const Bytes copied = to.Read();
    EXPECT_EQ(Bytes(copied.begin(), copied.begin() + 50), Bytes(50, 0xAB));
    EXPECT_TRUE(Bytes(copied.begin() + 50, copied.end()) ==
                Bytes(source.begin() + 3, source.end() - 2));
    // The source ends two bytes early; the destination cannot be written.
    EXPECT_EQ(KivRkf::CopyRange(from.fd, 3, to.fd, 0, source.size() - 1), CopyOutcome::ReadFailed);
    const int readOnly = open(to.Path().c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(KivRkf::CopyRange(from.fd, 0, readOnly, 0, 10), CopyOutcome::WriteFailed);
    close(readOnly);
    EXPECT_EQ(Failure([&] { KivRkf::CopyRangeOrRaise(from.fd, 1, to.fd, 0, source.size()); }),
              "9 Unable to read from file");
  }
}

TEST(CopiedBlockCheckTest, AcceptsOnlyBlocksThatInflateToTheirRecordedLength) {
  const Bytes framed = Zlib(Counting(70000));
  const MemFile file(Cat({Bytes(7, 0), framed}));
  const auto size = static_cast<std::uint32_t>(framed.size());
  const std::uint32_t n = 70000;
  struct Row {
    std::uint64_t offset;
    std::uint32_t stored, raw;
    std::uint64_t runsEnd;
    const char* expected;
  } rows[] = {
      {7, size, n, n, ""},
      {7, size, n - 1, 0, "9 Unable to decompress block"},         // recorded one byte short
      {7, size, n, n + 1, "9 Unable to decompress block"},         // a run ends past the block
      {7 + size - 2, size, n, n, "9 Unable to decompress block"},  // past the file's end
      {7, 3, 0, 0, "9 Unable to decompress block"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    const auto run = [&] {
      KivRkf::CopiedBlockCheck check(file.fd, 2);
      for (int k = 0; k < 3; ++k) check.Add(7, size, n, n);
      check.Add(row.offset, row.stored, row.raw, row.runsEnd);
      check.Finish();
    };
    if (*row.expected)
      EXPECT_EQ(Failure(run), row.expected);
    else
      EXPECT_NO_THROW(run());
  }
  // Ranges of a sound block are handed on; one that runs past it is left empty.
  std::vector<KivRkf::CheckedBytes> keep = {{0, 5, {}}, {n - 3, 3, {}}, {n - 2, 3, {}}};
  KivRkf::CopiedBlockCheck check(file.fd, 1, n);
  check.Add(7, size, n, n, &keep);
  check.Finish();
  const Bytes raw = Counting(n);
  EXPECT_EQ(keep[0].bytes, std::string(raw.begin(), raw.begin() + 5));
  EXPECT_EQ(keep[1].bytes, std::string(raw.end() - 3, raw.end()));
  EXPECT_EQ(keep[2].bytes, "");
  EXPECT_EQ(KivRkf::CopiedBlockCheck::Workers(0),
            std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(KivRkf::CopiedBlockCheck::Workers(KivRkf::CopiedBlockCheck::kMemoryBound), 1u);
  EXPECT_EQ(KivRkf::CopiedBlockCheck::Workers(~std::uint64_t{0}), 1u);
}

}  // namespace
