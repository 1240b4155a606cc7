// The trace log of a moxmerge run (MoxMerge_trace.log in the directory TESSARA_TEMP_PATH
// names; where it goes is checked by the exit status table): one "<source file> : <line>
// @ <message>" line per record, the records of every block written matching the output's
// block table, and a failure logged.
#include <set>

#include <gtest/gtest.h>

#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// The messages of a trace file; every line must have the form "<source file name, without
// directories> : <line number> @ <message>".
Names MessagesOf(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  Names messages;
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(" : "), at = line.find(" @ ");
    const std::string file = line.substr(0, colon), number = line.substr(colon + 3, at - colon - 3);
    EXPECT_TRUE(colon != 0 && at != std::string::npos && at > colon + 3 &&
                file.find_first_of("/\\ ") == std::string::npos &&
                (file.ends_with(".cpp") || file.ends_with(".hpp")) &&
                number.find_first_not_of("0123456789") == std::string::npos)
        << "not a record line: " << line;
    messages.push_back(at == std::string::npos ? line : line.substr(at + 3));
  }
  return messages;
}

TEST(TraceLogTest, BlockRecordsMatchTheOutputsBlockTable) {
  // With blocks of 16 bytes, the heavy data fills many blocks that are compressed and
  // written early, on other threads, and the table grows index blocks.
  TempDir dir, logs;
  Model a("model-a");
  a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f)), IntArray("conn", {1, 2, 3})});
  a.Save(dir.File("a.mox"));
  Model b("model-b");
  b.AddGeometry(1, "partB", {FloatArray("strain", Distinct(2.0f))});
  b.Save(dir.File("b.mox"));
  const auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")},
                               {"KORVANE_MAX_MOX_BLOCK_SIZE=16"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The records of the blocks written, each block's from "Writing buffer N to stream."
  // to "Buffer N written to stream.", in block number order with the numbers in the file
  // (an index block before the first block of the final write is not among them).
  std::string logged, expected;
  for (const auto& m : MessagesOf(logs.File("MoxMerge_trace.log")))
    if (m.starts_with("Writing buffer ") || m.starts_with("Buffer length") ||
        (m.starts_with("Buffer ") && m.ends_with(" written to stream.")))
      logged += m + "\n";
  KivRkf::RkFile file;
  file.OpenFile(dir.File("out.mox"), "rb");
  file.ReadIndex();
  KivRkf::Index& index = file.GetIndex();
  std::size_t compressed = 0;
  for (std::uint64_t k = 0; k < index.Blocks().size(); ++k) {
    const KivRkf::BlockInfo& info = index.Blocks()[k];
    const std::string n = std::to_string(k);
    if (KivRkf::IsSpecialName(info.name, KivRkf::kIndexBlockName) &&
        !Has(logged, "Writing buffer " + n + " to stream."))
      continue;
    index.LoadBlock(k, file.Stream());
    const bool zlib = info.flags & KivRkf::kFlagZlib;
    compressed += zlib;
    EXPECT_TRUE(zlib || info.storedSize == index.Buffer(k).Size()) << "block " << k;
    const auto size = index.Buffer(k).Size();
    expected +=
        "Writing buffer " + n + " to stream.\n" +
        (size ? "Buffer length: " + std::to_string(size) + "\n" : "") +
        (zlib ? "Buffer length after transformations: " + std::to_string(info.storedSize) + "\n"
              : "") +
        "Writing buffer at position: " + std::to_string(index.BlockOffset(k)) + "\nBuffer " + n +
        " written to stream.\n";
  }
  ASSERT_GT(index.Blocks().size(), KivRkf::kPrimaryBlocks + 1);
  EXPECT_GT(compressed, 2u);
  EXPECT_EQ(logged, expected);

  // A failure is logged too.
  const std::string missing = dir.File("missing.mox");
  ASSERT_EQ(RunMoxMerge(logs, {dir.File("a.mox"), missing, dir.File("out.mox")}).status, 2);
  const Names messages = MessagesOf(logs.File("MoxMerge_trace.log"));
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
    return Has(m, "Unable to open file \"" + missing + "\"");
  }));
}

}  // namespace
