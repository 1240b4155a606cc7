// The trace log of a moxmerge run: written to MoxMerge_trace.log in the directory that
// TESSARA_TEMP_PATH names, one "<source file> : <line> @ <message>" line per record, with
// the records of every block written matching the output's block table. (A directory
// that cannot be written is a row of the exit status table in moxmerge_test.cpp.)
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

TEST(TraceLogTest, LogIsWrittenWhereTheEnvironmentPoints) {
  TempDir dir, logs;
  Model("model-a").Save(dir.File("a.mox"));
  Model("model-b").Save(dir.File("b.mox"));
  const std::string path = logs.File("MoxMerge_trace.log");
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "Writing log to \"" + path + "\"\n");
  Names messages = MessagesOf(path);
  for (const char* m :
       {"Saving mox tree ... ", "Mox tree saved. ", "Saving global information ..."})
    EXPECT_NE(std::find(messages.begin(), messages.end(), m), messages.end()) << m;
  // Failures are logged too.
  run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("missing.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 2);
  messages = MessagesOf(path);
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
    return Has(m, "Unable to open file \"" + dir.File("missing.mox") + "\"");
  }));
}

// The number in message between prefix and suffix, or -1 when message has another form.
long long NumberIn(const std::string& message, const std::string& prefix,
                   const std::string& suffix = "") {
  if (message.size() <= prefix.size() + suffix.size() || !message.starts_with(prefix) ||
      !message.ends_with(suffix))
    return -1;
  const std::string digits =
      message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
  return digits.find_first_not_of("0123456789") == std::string::npos ? std::stoll(digits) : -1;
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
  // Each block's records, from "Writing buffer N to stream." to "Buffer N written to
  // stream.", in this order, as "N length L [stored S] at P" (L 0 when not logged).
  std::vector<std::string> logged;
  std::set<long long> loggedBlocks;
  std::string length, stored, position;
  int step = 0;  // the last record of the open block: 1 to 4, or 0 when none is open
  long long open = -1, n;
  for (const auto& m : MessagesOf(logs.File("MoxMerge_trace.log"))) {
    const auto next = [&](bool inOrder, int to, std::string* field) {
      EXPECT_TRUE(inOrder) << "record out of order: " << m;
      step = to;
      if (field) *field = std::to_string(n);
    };
    if ((n = NumberIn(m, "Writing buffer ", " to stream.")) >= 0) {
      next(step == 0, 1, nullptr);
      loggedBlocks.insert(open = n);
      length = "0", stored = position = "";
    } else if ((n = NumberIn(m, "Buffer length: ")) >= 0) {
      next(step == 1, 2, &length);
    } else if ((n = NumberIn(m, "Buffer length after transformations: ")) >= 0) {
      next(step == 1 || step == 2, 3, &stored);
    } else if ((n = NumberIn(m, "Writing buffer at position: ")) >= 0) {
      next(step >= 1 && step <= 3, 4, &position);
    } else if ((n = NumberIn(m, "Buffer ", " written to stream.")) >= 0) {
      next(step == 4 && n == open, 0, nullptr);
      logged.push_back(std::to_string(open) + " length " + length +
                       (stored.empty() ? "" : " stored " + stored) + " at " + position);
    }
  }
  EXPECT_EQ(step, 0) << "the last block's records are not complete";

  // Every block in number order, each with its numbers in the file; an index block before
  // the first block of the final write is written only by its own pair of records.
  KivRkf::RkFile file;
  file.OpenFile(dir.File("out.mox"), "rb");
  file.ReadIndex();
  KivRkf::Index& index = file.GetIndex();
  std::vector<std::string> expected;
  std::size_t compressed = 0;
  for (std::uint64_t k = 0; k < index.Blocks().size(); ++k) {
    const KivRkf::BlockInfo& info = index.Blocks()[k];
    if (KivRkf::IsSpecialName(info.name, KivRkf::kIndexBlockName) && !loggedBlocks.count(k))
      continue;
    index.LoadBlock(k, file.Stream());
    const bool zlib = info.flags & KivRkf::kFlagZlib;
    compressed += zlib;
    EXPECT_TRUE(zlib || info.storedSize == index.Buffer(k).Size()) << "block " << k;
    expected.push_back(std::to_string(k) + " length " + std::to_string(index.Buffer(k).Size()) +
                       (zlib ? " stored " + std::to_string(info.storedSize) : "") + " at " +
                       std::to_string(index.BlockOffset(k)));
  }
  ASSERT_GT(index.Blocks().size(), KivRkf::kPrimaryBlocks + 1);
  EXPECT_GT(compressed, 2u);
  EXPECT_EQ(logged, expected);
}

}  // namespace
