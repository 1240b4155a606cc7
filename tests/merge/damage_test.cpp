// Merges of damaged files: valid files (compressed and stored) cut and with bytes changed
// in the header, the primary index records and over every block, merged with a valid
// file as first input (full load) and as second (nodes only): status 0 with an output that
// loads, or 2 with an error text and no output; damage the reader can detect must fail.
// Then crafted files whose records claim shared bytes, far reads, huge counts or
// impossible inflation.
#include <set>

#include <gtest/gtest.h>

#include "info/block_listing.hpp"
#include "kiv/rkf/block.hpp"
#include "merge/merge_fixtures.hpp"
#include "merge/merge_operations.hpp"

namespace {

using namespace AppTest;

// Blocks grow by 64 KiB instead of 10 MiB, which changes no byte read or written but
// makes each of the many merges much cheaper.
struct SmallBlocks {
  EnvGuard quantum{"KORVANE_DEFAULT_MOX_BLOCK_SIZE", "65536"};
  ~SmallBlocks() { KivRkf::Block::SetDefaultBlockSize(10485760); }
};

// The same streams written again, each as one block stored as it is (no compression).
void WriteUncompressed(const std::string& from, const std::string& to) {
  KivRkf::RkFile file;
  file.OpenFile(from, "rb");
  file.ReadIndex();
  KivRkf::Index& index = file.GetIndex();
  std::vector<std::pair<std::uint64_t, std::string>> order;
  for (const auto& [name, limiter] : index.Names())
    if (!KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) &&
        !KivRkf::IsSpecialName(name, KivRkf::kIndexBlockName))
      order.push_back({limiter.blocks.front(), name});
  std::sort(order.begin(), order.end());
  RawMox raw(to);
  for (const auto& [first, name] : order)
    while (KivRkf::Block* block = index.ReadingBlock(name)) {
      const std::uint32_t left = block->Remaining();
      if (left == 0) break;
      raw.Ix().Put(name, block->Skip(left), left);
    }
  raw.Finish();
}

struct Damage {
  std::string what;
  Bytes bytes;
  bool mustFail[2];  // with the damaged file as first and as second input
};

// The sections a full load reads whole (the index blocks too); a nodes-only load skips
// the history and the view points.
bool ReadBy(const std::string& name, bool nodesOnly) {
  return name != KivMox::kViewPoints && !KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) &&
         !(nodesOnly && name == KivMox::kGlobalInformation);
}

std::vector<Damage> DamagesOf(const Bytes& valid, const MoxInfo::BlockTable& table) {
  std::vector<Damage> damages;
  std::set<std::pair<bool, std::uint64_t>> done;
  // A changed byte must fail in the magic or in the zlib stream (past the length) of a
  // compressed block that is read; a cut, inside the header, the primary index or a block
  // that is read.
  const auto add = [&](bool cut, std::uint64_t at) {
    if (at >= valid.size() || !done.insert({cut, at}).second) return;
    Damage d{(cut ? "cut at " : "changed byte ") + std::to_string(at), valid, {}};
    cut ? d.bytes.resize(at) : void(d.bytes[at] ^= 0xFF);
    for (bool nodes : {false, true}) {
      d.mustFail[nodes] = at < (cut ? table.primaryOffset + table.primaryLength : 8);
      for (const auto& row : table.rows)
        d.mustFail[nodes] |=
            ReadBy(row.name, nodes) && at < row.offset + row.storedSize &&
            (cut ? row.storedSize != 0 : at >= row.offset + 4 && (row.flags & KivRkf::kFlagZlib));
    }
    damages.push_back(std::move(d));
  };
  // Every byte of the header (magic, version, primary index length) and the count; the
  // fields of the records of the blocks in use: serial, name length, a name byte, the
  // four bytes of the stored size, the flags.
  for (std::uint64_t o = 0; o < 20; ++o) add(false, o);
  for (const auto& row : table.rows)
    if (row.number < 20 && !KivRkf::IsSpecialName(row.name, KivRkf::kEmptyBlockName))
      for (std::uint64_t field : {0, 1, 5, 133, 135, 137})
        add(false, 20 + 139 * row.number + field);
  // Each block: its first bytes (the length field and zlib header of a compressed block),
  // five more spread over the rest, and its last byte.
  for (const auto& row : table.rows) {
    const std::uint64_t head = (row.flags & KivRkf::kFlagZlib) ? 6 : 2, size = row.storedSize,
                        stride = std::max<std::uint64_t>(1, size / 6);
    for (std::uint64_t k = 0; k < std::min(head, size); ++k) add(false, row.offset + k);
    for (std::uint64_t k = head + stride / 2; k < size; k += stride) add(false, row.offset + k);
    if (size != 0) add(false, row.offset + size - 1);
  }
  // Cuts in the header, in and after the primary index, and at the start, one byte in,
  // the middle and the last byte of every block.
  for (std::uint64_t t : {0, 4, 8, 11, 12, 15, 16, 20, 159}) add(true, t);
  add(true, table.primaryOffset + table.primaryLength - 1);
  for (const auto& row : table.rows)
    for (std::uint64_t t : {0u, 1u, row.storedSize / 2, row.storedSize - 1})
      if (row.storedSize != 0) add(true, row.offset + t);
  return damages;
}

class DamageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new TempDir;
    // As the program writes them: every section zlib-compressed.
    auto run = Execute({"moxsample",
                        {files_->File("zlib.mox"), "--parts", "2", "--heavy-mib", "0.01", "--seed",
                         "7", "--view-points", "1"}});
    ASSERT_EQ(run.status, 0) << run.err;
    WriteUncompressed(files_->File("zlib.mox"), files_->File("plain.mox"));
    Model other("other");
    other.AddGeometry(1, "mesh", {FloatArray("stress", Distinct(3.0f))});
    other.Save(files_->File("other.mox"));
  }
  static void TearDownTestSuite() { delete files_; }

  // Merges every damage of the file with the valid other file, with the damaged file
  // first and second in turn; returns the number of merges that failed.
  std::size_t MergeAll(const std::string& name) {
    SmallBlocks small;
    const std::string path = files_->File(name), damaged = work.File("damaged.mox"),
                      other = files_->File("other.mox"), output = out.File("merged.mox");
    const auto damages = DamagesOf(ReadFileBytes(path), MoxInfo::ReadBlockTable(path));
    EXPECT_TRUE(damages.size() > 60u && damages.size() < 300u) << damages.size();
    std::size_t failed = 0;
    for (std::size_t i = 0; i < damages.size(); ++i) {
      const bool second = i % 2;
      WriteFileBytes(damaged, damages[i].bytes);
      const Names inputs = second ? Names{other, damaged} : Names{damaged, other};
      const auto [status, err] = InProcess([&] { return MoxMerge::MergeFiles(inputs, output); });
      SCOPED_TRACE(name + ", " + damages[i].what + (second ? ", second\n" : ", first\n") + err);
      EXPECT_EQ(status, damages[i].mustFail[second] ? 2 : status);
      EXPECT_TRUE(status == 0 || status == 2) << status;
      failed += status == 2;
      EXPECT_EQ(Has(err, "Exception \""), status == 2);
      EXPECT_EQ(DirectoryEntries(out.Path()), status == 2 ? Names{} : Names{"merged.mox"});
      if (status == 0) {
        std::unique_ptr<KivMox::Tree> merged;
        EXPECT_NO_THROW(merged = LoadTree(output));
        EXPECT_EQ(merged ? merged->GetNode(1)->name : "", "Merge");
        std::filesystem::remove(output);
      }
    }
    return failed;
  }

  TempDir work, out;
  static TempDir* files_;
};

TempDir* DamageTest::files_ = nullptr;

TEST_F(DamageTest, CompressedFileDamagedAnywhere) {
  EXPECT_GT(MergeAll("zlib.mox"), 100u);  // nearly every damage is detected
}

TEST_F(DamageTest, UncompressedFileDamagedAnywhere) {
  ASSERT_EQ(MoxInfo::ReadBlockTable(files_->File("plain.mox")).rows.size(), 20u);
  MergeAll("plain.mox");
}

using u8 = std::uint8_t;
using u32 = std::uint32_t;

// A "0.6" geometry record of one float array of byteSize bytes at heavy position.
void Geometry06(RawMox& raw, u32 byteSize, u32 position) {
  raw.Put(KivMox::kLightData, u32{1}, std::string("values"), u32{1}, u8{0}, byteSize, u8{1}, u8{0},
          u8{0}, u32{0}, u32{0}, u8{0}, position, u8{0});
  for (int i = 0; i < 6; ++i) raw.Put(KivMox::kAttributes, u32{0});
}
// A "0.3" record of an array "a" of the given bytes at a heavy position.
void Array03(RawMox& raw, u32 bytes, u32 position) {
  raw.Put(KivMox::kLightData, std::string("a"), u32{0}, bytes, u8{1}, u8{0}, u8{0}, u32{0}, u32{0},
          u8{0}, u8{0}, position);
}

// Merges the file with a valid one, in both places; both merges must fail with a
// description containing expected and leave no output.
void ExpectRefused(const std::string& path, const std::string& expected) {
  TempDir dir;
  Model("other").Save(dir.File("other.mox"));
  for (const Names& inputs : {Names{path, dir.File("other.mox")}, {dir.File("other.mox"), path}}) {
    const auto [status, err] =
        InProcess([&] { return MoxMerge::MergeFiles(inputs, dir.File("merged.mox")); });
    EXPECT_EQ(status, 2) << err;
    EXPECT_TRUE(Has(err, expected)) << err;
    EXPECT_EQ(DirectoryEntries(dir.Path()), Names{"other.mox"});
  }
}

TEST(CraftedFileTest, RecordsThatShareBytesAreRefused) {
  TempDir dir;
  // Many geometry nodes whose arrays all name the same 64 KiB run: read as they say, a
  // file of a few hundred KiB would stand for hundreds of MiB of values.
  const Bytes run(65536, 0x3F);
  {
    RawMox raw(dir.File("shared-run.mox"), true);
    raw.Ix().Put(KivMox::kHeavyData, run.data(), 65536);
    raw.Put(KivMox::kMoxTree, std::int32_t{201});
    raw.Header(1, 0, 0, "", "", 0);
    for (u32 k = 0; k < 200; ++k) {
      raw.Header(k + 2, 1, k + 1 < 200 ? k + 3 : 0, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, 65536, 0);
    }
    raw.Finish();
  }
  ExpectRefused(dir.File("shared-run.mox"), "Two records share bytes of \"Heavy Data\"");
  // Runs that only touch each other are fine.
  {
    RawMox raw(dir.File("adjacent.mox"), true);
    raw.Ix().Put(KivMox::kHeavyData, run.data(), 64);
    raw.Put(KivMox::kMoxTree, std::int32_t{3});
    raw.Header(1, 0, 0, "", "", 0);
    for (u32 k : {0u, 1u}) {
      raw.Header(2 + k, 1, k ? 0 : 3, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, 32, 32 * k);
    }
    raw.Finish();
  }
  EXPECT_EQ(LoadTree(dir.File("adjacent.mox"))->Size(), 3u);

  // Every header names the light record of the first geometry, whose array list is long.
  {
    RawMox raw(dir.File("shared-light.mox"), true);
    raw.Put(KivMox::kMoxTree, std::int32_t{4});
    raw.Header(1, 0, 0, "", "", 0);
    const u32 at = raw.LightSize() + 1;  // a zero position would mean "read on"
    raw.Put(KivMox::kLightData, u8{0});
    for (u32 id : {2u, 3u, 4u}) {
      raw.Header(id, 1, id < 4 ? id + 1 : 0, "Geometry", "0.3", at);
      if (id > 2) continue;
      raw.Put(KivMox::kLightData, u32{1000});
      for (int i = 0; i < 1000; ++i) Array03(raw, 0, 0);
    }
    raw.Finish();
  }
  ExpectRefused(dir.File("shared-light.mox"), "Two records share bytes of \"Light Data\"");

  // Two node sets naming one heavy record.
  {
    RawMox raw(dir.File("shared-sets.mox"), true);
    using V = std::vector<u32>;
    raw.Put(KivMox::kHeavyData, V{0, 3}, std::string("top"), V{0, 2}, V{6, 6}, V{0, 1});
    const auto size = static_cast<u32>(raw.Ix().GetSize(KivMox::kHeavyData));
    raw.Put(KivMox::kMoxTree, std::int32_t{3});
    raw.Header(1, 0, 0, "", "", 0);
    for (u32 id : {2u, 3u}) {
      raw.Header(id, 1, id == 2 ? 3 : 0, "NodeSets", "0.1", 0);
      raw.Put(KivMox::kLightData, u32{16}, u32{1}, std::uint64_t{0}, size);
    }
    raw.Finish();
  }
  ExpectRefused(dir.File("shared-sets.mox"), "Two records share bytes of \"Heavy Data\"");
}

TEST(CraftedFileTest, ArraysThatSendTheReaderBackAndForthAreRefused) {
  // Two compressed heavy blocks of 1 MiB each; two thousand 4-byte arrays of the older
  // layout (read at once, in record order) lie alternately in the one and the other, so
  // that each array would make the reader inflate a whole block again.
  TempDir dir;
  const std::string path = dir.File("back-and-forth.mox");
  {
    EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "1048576");
    RawMox raw(path, true);
    const Bytes chunk(65536, 0);
    for (int k = 0; k < 32; ++k) raw.Ix().Put(KivMox::kHeavyData, chunk.data(), 65536);
    raw.Put(KivMox::kMoxTree, std::int32_t{2});
    raw.Header(1, 0, 0, "", "", 0);
    raw.Header(2, 1, 0, "Geometry", "0.3", raw.LightSize());
    raw.Put(KivMox::kLightData, u32{2000});
    for (u32 i = 0; i < 2000; ++i) Array03(raw, 4, (i % 2 ? 1048576u : 0u) + 4 * (i / 2));
    for (const char* section : {KivMox::kHeavyData, KivMox::kLightData, KivMox::kMoxTree})
      raw.Ix().SetBlockFlags(section, KivRkf::kFlagZlib);
    raw.Finish();
  }
  const auto rows = MoxInfo::ReadBlockTable(path).rows;
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                          [](const auto& row) { return row.name == KivMox::kHeavyData; }),
            2);
  ExpectRefused(path, "The records of the file send the reader back and forth between its blocks");

  // A valid file whose compressed heavy block states an inflated length beyond what its
  // stream could ever give (1032 bytes per stored byte and a little more).
  const std::string bomb = dir.File("bomb.mox");
  Model model("model");
  model.AddGeometry(1, "mesh", {FloatArray("stress", Distinct(1.0f))});
  model.Save(bomb);
  Bytes bytes = ReadFileBytes(bomb);
  for (const auto& row : MoxInfo::ReadBlockTable(bomb).rows) {
    if (row.name != KivMox::kHeavyData) continue;
    ASSERT_TRUE(row.flags & KivRkf::kFlagZlib);
    const std::uint64_t claimed = 1032ull * (row.storedSize - 4) + 1025;
    for (int k = 0; k < 4; ++k) bytes[row.offset + k] = u8(claimed >> (8 * k));
  }
  WriteFileBytes(bomb, bytes);
  ExpectRefused(bomb, "Unable to decompress block");
}

TEST(CraftedFileTest, ACountOfRecordsIsCheckedAgainstWhatTheRecordsNeed) {
  // The action collection of the view points claims four million entries, backed by
  // 16 MiB of zeros (16 KiB in the file): four bytes each would do for the count of a
  // string, but an entry needs more than a hundred, and takes about two hundred in memory.
  TempDir dir, logs;
  const std::string path = dir.File("many-entries.mox");
  {
    RawMox raw(path, true);
    raw.Put(KivMox::kMoxTree, std::int32_t{1});
    raw.Header(1, 0, 0, "", "", 0);
    const u32 zeros = 16u << 20;
    // The current view point, no groups, the frame's size, version and entry count.
    raw.Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}, u32{4 + 7 + 4 + zeros},
            std::string("0.1"), u32{zeros / 4});
    const Bytes chunk(65536, 0);
    for (u32 k = 0; k < zeros / 65536; ++k) raw.Ix().Put(KivMox::kViewPoints, chunk.data(), 65536);
    raw.Ix().SetBlockFlags(KivMox::kViewPoints, KivRkf::kFlagZlib);
    raw.Finish();
  }
  ASSERT_LT(ReadFileBytes(path).size(), 100000u);
  Model("other").Save(dir.File("other.mox"));
  const Outcome run = RunMoxMerge(logs, {path, dir.File("other.mox"), dir.File("merged.mox")});
  // The actions cannot be read; as with any damaged action collection the view points
  // stay, without actions. The run stays small in memory.
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peakKiB, 400 * 1024);
  auto merged = LoadTree(dir.File("merged.mox"));
  EXPECT_TRUE(merged->HasViewPoints());
  EXPECT_TRUE(merged->views.actions.entries.empty());
}

}  // namespace
