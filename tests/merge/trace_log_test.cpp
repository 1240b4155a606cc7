// The trace log of a moxmerge run: written to MoxMerge_trace.log in the directory that
// TESSARA_TEMP_PATH names, one "<source file> : <line> @ <message>" line per record, and
// discarded with a notice when that directory cannot be written.
#include <gtest/gtest.h>

#include <optional>

#include "kiv/rkf/rkfile.hpp"
#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Model a("model-a");
    a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f))});
    a.Save(dir.File("a.mox"));
    Model b("model-b");
    b.Save(dir.File("b.mox"));
  }

  TempDir dir;
  TempDir logs;
};

// "<source file name, without directories> : <line number> @ <message>".
bool IsRecordLine(const std::string& line) {
  const auto colon = line.find(" : ");
  const std::string file = line.substr(0, colon);
  std::size_t p = colon + 3;
  const std::size_t digits = p;
  while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
  return colon != 0 && colon != std::string::npos &&
         file.find_first_of("/\\ ") == std::string::npos &&
         (file.ends_with(".cpp") || file.ends_with(".hpp")) && p > digits &&
         line.compare(p, 3, " @ ") == 0;
}

// The records of a trace file; every line must have the record form.
Names RecordsOf(const std::string& path) {
  const auto bytes = TestSupport::ReadFileBytes(path);
  Names records = Lines(std::string(bytes.begin(), bytes.end()));
  for (const auto& line : records) EXPECT_TRUE(IsRecordLine(line)) << "not a record line: " << line;
  return records;
}

bool HasRecord(const Names& records, const std::string& message) {
  return std::any_of(records.begin(), records.end(),
                     [&](const std::string& r) { return r.ends_with(message); });
}

TEST_F(TraceLogTest, LogIsWrittenWhereTheEnvironmentPointsOrDiscarded) {
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string path = logs.Path() + "/MoxMerge_trace.log";
  EXPECT_EQ(run.err, "Writing log to \"" + path + "\"\n");
  Names records = RecordsOf(path);
  EXPECT_TRUE(HasRecord(records, "@ Saving mox tree ... ")) << ::testing::PrintToString(records);
  EXPECT_TRUE(HasRecord(records, "@ Mox tree saved. "));
  EXPECT_TRUE(HasRecord(records, "@ Saving global information ..."));

  // Failures are logged too.
  run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("missing.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 2);
  std::string text;
  for (const auto& record : RecordsOf(path)) text += record + "\n";
  EXPECT_TRUE(Has(text, "Unable to open file \"" + dir.File("missing.mox") + "\"")) << text;

  // A directory that does not exist cannot be written, whoever runs the test.
  std::filesystem::remove(path);
  run = Execute({"moxmerge",
                 {dir.File("a.mox"), dir.File("b.mox"), dir.File("out2.mox")},
                 {"TESSARA_TEMP_PATH=" + logs.Path() + "/no/such/directory"}});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "Unable to set log file.Log information will be discorded.\n");
  EXPECT_EQ(DirectoryEntries(logs.Path()), Names{});
  EXPECT_EQ(ChildNames(*LoadTree(dir.File("out2.mox")), 1), (Names{"model-a", "model-b"}));
}

// What the trace log says of one block written: its number, length, length after
// compression and position.
struct BlockRecords {
  std::uint64_t block = 0;
  std::uint64_t length = 0;  // 0 when there is no "Buffer length" record
  std::optional<std::uint64_t> stored;
  std::optional<std::uint64_t> position;
  bool operator==(const BlockRecords&) const = default;
};

void PrintTo(const BlockRecords& r, std::ostream* os) {
  *os << "{block " << r.block << ", length " << r.length << ", stored "
      << (r.stored ? std::to_string(*r.stored) : "-") << ", position "
      << (r.position ? std::to_string(*r.position) : "-") << "}";
}

// The number in message between prefix and suffix, when message has that form.
std::optional<std::uint64_t> NumberIn(const std::string& message, const std::string& prefix,
                                      const std::string& suffix = "") {
  if (message.size() <= prefix.size() + suffix.size() || !message.starts_with(prefix) ||
      !message.ends_with(suffix))
    return std::nullopt;
  const std::string digits =
      message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoull(digits);
}

// The block records of a trace log, each block's from "Writing buffer N to stream." to
// "Buffer N written to stream.", in the order the records must come in.
std::vector<BlockRecords> BlockRecordsOf(const Names& records) {
  std::vector<BlockRecords> blocks;
  int step = 0;  // the last record of the open block: 1 to 4, or 0 when none is open
  for (const auto& line : records) {
    const std::string message = line.substr(line.find(" @ ") + 3);
    const auto inOrder = [&](bool ok) {
      if (!ok) ADD_FAILURE() << "record out of order: " << line;
      return ok;
    };
    if (auto n = NumberIn(message, "Writing buffer ", " to stream.")) {
      if (!inOrder(step == 0)) break;
      blocks.push_back({*n, 0, std::nullopt, std::nullopt});
      step = 1;
    } else if (auto length = NumberIn(message, "Buffer length: ")) {
      if (!inOrder(step == 1)) break;
      blocks.back().length = *length;
      step = 2;
    } else if (auto stored = NumberIn(message, "Buffer length after transformations: ")) {
      if (!inOrder(step == 1 || step == 2)) break;
      blocks.back().stored = *stored;
      step = 3;
    } else if (auto position = NumberIn(message, "Writing buffer at position: ")) {
      if (!inOrder(step >= 1 && step <= 3)) break;
      blocks.back().position = *position;
      step = 4;
    } else if (auto written = NumberIn(message, "Buffer ", " written to stream.")) {
      if (!inOrder(step == 4 && *written == blocks.back().block)) break;
      step = 0;
    }
  }
  EXPECT_EQ(step, 0) << "the last block's records are not complete";
  return blocks;
}

TEST_F(TraceLogTest, BlockRecordsMatchTheOutputsBlockTable) {
  // With blocks of 16 bytes, the heavy data fills many blocks that are compressed and
  // written early, on other threads, and the table grows index blocks.
  Model a("model-a");
  a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f)), IntArray("conn", {1, 2, 3})});
  a.Save(dir.File("a.mox"));
  Model b("model-b");
  b.AddGeometry(1, "partB", {FloatArray("strain", Distinct(2.0f))});
  b.Save(dir.File("b.mox"));
  const auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")},
                               {"KORVANE_MAX_MOX_BLOCK_SIZE=16"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto logged = BlockRecordsOf(RecordsOf(logs.Path() + "/MoxMerge_trace.log"));

  // Every block in number order, each with its numbers in the file; an index block before
  // the first block of the final write is written only by its own pair of records.
  KivRkf::RkFile file;
  file.OpenFile(dir.File("out.mox"), "rb");
  file.ReadIndex();
  KivRkf::Index& index = file.GetIndex();
  std::vector<BlockRecords> expected;
  std::size_t compressed = 0;
  for (std::uint64_t k = 0; k < index.Blocks().size(); ++k) {
    const KivRkf::BlockInfo& info = index.Blocks()[k];
    const bool indexBlock = KivRkf::IsSpecialName(info.name, KivRkf::kIndexBlockName);
    const bool written = std::any_of(logged.begin(), logged.end(),
                                     [&](const BlockRecords& r) { return r.block == k; });
    if (indexBlock && !written) continue;
    index.LoadBlock(k, file.Stream());
    BlockRecords r{k, index.Buffer(k).Size(), std::nullopt, std::nullopt};
    if (info.flags & KivRkf::kFlagZlib) {
      r.stored = info.storedSize;
      ++compressed;
    } else {
      EXPECT_EQ(info.storedSize, r.length) << "block " << k;
    }
    r.position = index.BlockOffset(k);
    expected.push_back(r);
  }
  ASSERT_GT(index.Blocks().size(), KivRkf::kPrimaryBlocks + 1);
  EXPECT_GT(compressed, 2u);
  EXPECT_EQ(logged, expected);
}

}  // namespace
