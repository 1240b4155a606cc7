// moxmerge's trace log: the records of every block written match the output's block table,
// and the count of heavy blocks inflated follows each load and the save.
#include <gtest/gtest.h>

#include "kiv/rkf/block_read.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

class TraceLogTest : public ::testing::TestWithParam<bool> {};

TEST_P(TraceLogTest, BlockRecordsMatchTheOutputsBlockTable) {
  // Rewritten with blocks of 16 bytes, the heavy data fills many blocks that are compressed
  // and written early, on other threads, and the table grows index blocks. Adopted, the
  // input's one heavy block is copied twice and the other streams fill the blocks.
  const bool adopt = GetParam();
  TempDir dir, logs;
  Model a("model-a");
  a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f)), IntArray("conn", {1, 2, 3})});
  a.Save(dir.File("a.mox"));
  Names args = {dir.File("a.mox"), dir.File("a.mox"), dir.File("out.mox")};
  if (!adopt) args.insert(args.begin(), "--rewrite-blocks");
  const auto run = RunMoxMerge(logs, args, {"KORVANE_MAX_MOX_BLOCK_SIZE=16"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The block records in block order (not an index block before the final write).
  const auto bytes = ReadFileBytes(logs.File("MoxMerge_trace.log"));
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string logged, expected, inflated;
  for (std::string line; std::getline(in, line);) {
    const std::string m = line.substr(line.find(" @ ") + 3);
    if (m.starts_with("Heavy data blocks inflated: "))
      inflated += m + "\n";
    else if (m.starts_with("Heavy data blocks adopted: "))
      EXPECT_EQ(m.starts_with("Heavy data blocks adopted: 2 (80 bytes, "), adopt) << m;
    else if (m.starts_with("Writing buffer ") || m.starts_with("Buffer length") ||
             (m.starts_with("Buffer ") && m.ends_with(" written to stream.")))
      logged += m + "\n";
  }
  ContainerReader output(dir.File("out.mox"));
  const KivRkf::BlockTable& table = output.Index().Table();
  KivRkf::BlockReader blocks(fileno(output.file.Stream()));
  std::size_t compressed = 0;
  for (std::uint64_t k = 0; k < table.Blocks().size(); ++k) {
    const KivRkf::BlockInfo& info = table.Blocks()[k];
    const std::string n = std::to_string(k);
    if (KivRkf::IsSpecialName(info.name, KivRkf::kIndexBlockName) &&
        !Has(logged, "Writing buffer " + n + " to stream."))
      continue;
    const bool zlib = info.flags & KivRkf::kFlagZlib;
    compressed += zlib;
    const KivRkf::BlockRead read = blocks.Read(info.offset, info.storedSize, zlib);
    ASSERT_TRUE(read.Exact()) << "block " << k;
    const auto size = read.length;
    EXPECT_TRUE(zlib || info.storedSize == size) << "block " << k;
    expected +=
        "Writing buffer " + n + " to stream.\n" +
        (size ? "Buffer length: " + std::to_string(size) + "\n" : "") +
        (zlib ? "Buffer length after transformations: " + std::to_string(info.storedSize) + "\n"
              : "") +
        "Writing buffer at position: " + std::to_string(info.offset) + "\nBuffer " + n +
        " written to stream.\n";
  }
  ASSERT_GT(table.Blocks().size(), KivRkf::kPrimaryBlocks + 1);
  EXPECT_GT(compressed, 2u);
  EXPECT_EQ(logged, expected);
  EXPECT_TRUE(Has(std::string(bytes.begin(), bytes.end()), "Heavy data blocks adopted: "));
  // A load reads no heavy block of an input without node sets; the save inflates each once,
  // from the input when it writes its arrays anew, from the output's copy when it adopts.
  EXPECT_EQ(inflated,
            "Heavy data blocks inflated: 0 (of 1)\nHeavy data blocks inflated: 0 (of 1)\n"
            "Heavy data blocks inflated: 2 (of 2)\n");
}

INSTANTIATE_TEST_SUITE_P(AdoptedOrRewritten, TraceLogTest, ::testing::Bool());

}  // namespace
