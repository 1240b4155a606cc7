// Merges of damaged files: valid Mox files (compressed and stored) truncated and with
// bytes changed at many offsets (the header, the primary index records, a stride over
// every block), merged with a valid file as first input (full load) and as second input
// (nodes only). Whatever the damage: status 0 or 2; a failed merge prints an error text
// and leaves no output; a successful one leaves an output that loads. Damage the reader
// can detect (a wrong magic, a changed byte in the zlib stream of a section the merge
// reads, a cut inside such a section or the block table) must fail. Then crafted files
// whose records claim shared bytes, far reads, huge counts or impossible inflation.
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
  std::set<std::uint64_t> changed, cut;
  const auto change = [&](std::uint64_t offset, const std::string& where) {
    if (offset >= valid.size() || !changed.insert(offset).second) return;
    Damage d{"byte " + std::to_string(offset) + " changed (" + where + ")", valid, {}};
    d.bytes[offset] ^= 0xFF;
    // A wrong magic, or a byte in the zlib stream of a compressed block (past its length).
    for (bool nodes : {false, true}) {
      d.mustFail[nodes] = offset < 8;
      for (const auto& row : table.rows)
        if (offset >= row.offset + 4 && offset < row.offset + row.storedSize &&
            (row.flags & KivRkf::kFlagZlib) && ReadBy(row.name, nodes))
          d.mustFail[nodes] = true;
    }
    damages.push_back(std::move(d));
  };
  const auto cutAt = [&](std::uint64_t at) {
    if (at >= valid.size() || !cut.insert(at).second) return;
    Damage d{"cut at " + std::to_string(at), Bytes(valid.begin(), valid.begin() + at), {}};
    // Inside the header or the primary index, or inside a block that is read.
    for (bool nodes : {false, true}) {
      d.mustFail[nodes] = at < table.primaryOffset + table.primaryLength;
      for (const auto& row : table.rows)
        if (row.storedSize != 0 && row.offset + row.storedSize > at && ReadBy(row.name, nodes))
          d.mustFail[nodes] = true;
    }
    damages.push_back(std::move(d));
  };
  // Every byte of the header (magic, version, primary index length) and the count.
  for (std::uint64_t o = 0; o < 20; ++o) change(o, "header");
  // The fields of the records of the blocks in use: serial, name length, a name byte,
  // the four bytes of the stored size, the flags.
  for (const auto& row : table.rows)
    if (row.number < 20 && !KivRkf::IsSpecialName(row.name, KivRkf::kEmptyBlockName))
      for (std::uint64_t field : {0, 1, 5, 133, 135, 137})
        change(20 + 139 * row.number + field, "record of block " + std::to_string(row.number));
  // Each block: its first bytes (the length field and zlib header of a compressed block),
  // five more spread over the rest, and its last byte.
  for (const auto& row : table.rows) {
    if (row.storedSize == 0) continue;
    const std::string what = "block " + std::to_string(row.number);
    const std::uint64_t head = (row.flags & KivRkf::kFlagZlib) ? 6 : 2;
    for (std::uint64_t k = 0; k < std::min<std::uint64_t>(head, row.storedSize); ++k)
      change(row.offset + k, what);
    const std::uint64_t stride = std::max<std::uint64_t>(1, row.storedSize / 6);
    for (std::uint64_t k = head + stride / 2; k < row.storedSize; k += stride)
      change(row.offset + k, what);
    change(row.offset + row.storedSize - 1, what);
  }
  // Cuts in the header, in and after the primary index, and at the start, one byte in,
  // the middle and the last byte of every block.
  for (std::uint64_t t : {0, 4, 8, 11, 12, 15, 16, 20, 159}) cutAt(t);
  cutAt(table.primaryOffset + table.primaryLength - 1);
  for (const auto& row : table.rows)
    if (row.storedSize != 0)
      for (std::uint64_t t : {row.offset, row.offset + 1, row.offset + row.storedSize / 2,
                              row.offset + row.storedSize - 1})
        cutAt(t);
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
    const std::vector<Damage> damages =
        DamagesOf(ReadFileBytes(path), MoxInfo::ReadBlockTable(path));
    EXPECT_GT(damages.size(), 60u);
    EXPECT_LT(damages.size(), 300u);
    std::size_t failed = 0;
    for (std::size_t i = 0; i < damages.size(); ++i) {
      const Damage& d = damages[i];
      const bool second = i % 2;
      WriteFileBytes(damaged, d.bytes);
      const Names inputs = second ? Names{other, damaged} : Names{damaged, other};
      const auto [status, err] = InProcess([&] { return MoxMerge::MergeFiles(inputs, output); });
      SCOPED_TRACE(name + ", " + d.what + (second ? ", second input\n" : ", first input\n") + err);
      EXPECT_TRUE(status == 0 || status == 2) << status;
      if (d.mustFail[second]) {
        EXPECT_EQ(status, 2);
      }
      if (status == 2) {
        ++failed;
        EXPECT_TRUE(Has(err, "Exception \""));
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
      } else if (status == 0) {
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{"merged.mox"});
        std::unique_ptr<KivMox::Tree> merged;
        EXPECT_NO_THROW(merged = LoadTree(output));
        if (merged) {
          EXPECT_EQ(merged->GetNode(1)->name, "Merge");
        }
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

// A "0.6" geometry record of one float array of byteSize bytes at heavy position.
void PutGeometry06(KivRkf::Index& ix, std::uint32_t byteSize, std::uint32_t position) {
  ix.Put(KivMox::kLightData, std::uint32_t{1});
  ix.Put(KivMox::kLightData, std::string("values"));
  ix.Put(KivMox::kLightData, std::uint32_t{1});
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  ix.Put(KivMox::kLightData, byteSize);
  for (std::uint8_t b : {1, 0, 0}) ix.Put(KivMox::kLightData, b);
  for (std::uint32_t v : {0u, 0u}) ix.Put(KivMox::kLightData, v);
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  ix.Put(KivMox::kLightData, position);
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  for (int i = 0; i < 6; ++i) ix.Put(KivMox::kAttributes, std::uint32_t{0});
}

// A "0.3" record of an array "a" of the given bytes at a heavy position.
void PutArray03(KivRkf::Index& ix, std::uint32_t bytes, std::uint32_t position) {
  ix.Put(KivMox::kLightData, std::string("a"));
  for (std::uint32_t v : {0u, bytes}) ix.Put(KivMox::kLightData, v);  // kind, bytes
  for (std::uint8_t b : {1, 0, 0}) ix.Put(KivMox::kLightData, b);
  for (std::uint32_t v : {0u, 0u}) ix.Put(KivMox::kLightData, v);
  for (std::uint8_t b : {0, 0}) ix.Put(KivMox::kLightData, b);  // tagC, vibration
  ix.Put(KivMox::kLightData, position);
}

class CraftedFileTest : public ::testing::Test {
 protected:
  void SetUp() override { Model("other").Save(dir.File("other.mox")); }
  // Merges the file with a valid one, in both places; both merges must fail with a
  // description containing expected and leave no output.
  void ExpectRefused(const std::string& path, const std::string& expected) {
    for (bool first : {true, false}) {
      const Names inputs =
          first ? Names{path, dir.File("other.mox")} : Names{dir.File("other.mox"), path};
      const auto [status, err] =
          InProcess([&] { return MoxMerge::MergeFiles(inputs, out.File("merged.mox")); });
      EXPECT_EQ(status, 2) << (first ? "first" : "second") << "\n" << err;
      EXPECT_TRUE(Has(err, expected)) << err;
      EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
    }
  }
  TempDir dir, out;
};

TEST_F(CraftedFileTest, RecordsThatShareBytesAreRefused) {
  // Many geometry nodes whose arrays all name the same 64 KiB run: read as they say, a
  // file of a few hundred KiB would stand for hundreds of MiB of values.
  const std::string path = dir.File("shared-run.mox");
  {
    RawMox raw(path, true);
    const Bytes run(65536, 0x3F);
    raw.Ix().Put(KivMox::kHeavyData, run.data(), static_cast<std::uint32_t>(run.size()));
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{201});
    raw.Header(1, 0, 0, "", "", 0);
    for (std::uint32_t k = 0; k < 200; ++k) {
      raw.Header(k + 2, 1, k + 1 < 200 ? k + 3 : 0, "Geometry", "0.6", raw.LightSize());
      PutGeometry06(raw.Ix(), 65536, 0);
    }
    raw.Finish();
  }
  ExpectRefused(path, "Two records share bytes of \"Heavy Data\"");
  // Runs that only touch each other are fine.
  const std::string adjacent = dir.File("adjacent.mox");
  {
    RawMox raw(adjacent, true);
    const Bytes run(64, 0x3F);
    raw.Ix().Put(KivMox::kHeavyData, run.data(), 64);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{3});
    raw.Header(1, 0, 0, "", "", 0);
    raw.Header(2, 1, 3, "Geometry", "0.6", raw.LightSize());
    PutGeometry06(raw.Ix(), 32, 0);
    raw.Header(3, 1, 0, "Geometry", "0.6", raw.LightSize());
    PutGeometry06(raw.Ix(), 32, 32);
    raw.Finish();
  }
  EXPECT_EQ(LoadTree(adjacent)->Size(), 3u);

  // Every header names the light record of the first geometry, whose array list is long.
  const std::string light = dir.File("shared-light.mox");
  {
    RawMox raw(light, true);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{4});
    raw.Header(1, 0, 0, "", "", 0);
    const std::uint32_t at = raw.LightSize() + 1;  // a zero position would mean "read on"
    raw.Ix().Put(KivMox::kLightData, std::uint8_t{0});
    raw.Header(2, 1, 3, "Geometry", "0.3", at);
    raw.Ix().Put(KivMox::kLightData, std::uint32_t{1000});
    for (int i = 0; i < 1000; ++i) PutArray03(raw.Ix(), 0, 0);
    raw.Header(3, 1, 4, "Geometry", "0.3", at);
    raw.Header(4, 1, 0, "Geometry", "0.3", at);
    raw.Finish();
  }
  ExpectRefused(light, "Two records share bytes of \"Light Data\"");

  // Two node sets naming one heavy record.
  const std::string sets = dir.File("shared-sets.mox");
  {
    RawMox raw(sets, true);
    auto& ix = raw.Ix();
    ix.Put(KivMox::kHeavyData, std::vector<std::uint32_t>{0, 3});
    ix.Put(KivMox::kHeavyData, std::string("top"));
    for (auto v : {std::vector<std::uint32_t>{0, 2}, {6, 6}, {0, 1}}) ix.Put(KivMox::kHeavyData, v);
    const auto size = static_cast<std::uint32_t>(ix.GetSize(KivMox::kHeavyData));
    ix.Put(KivMox::kMoxTree, std::int32_t{3});
    raw.Header(1, 0, 0, "", "", 0);
    for (std::uint32_t id : {2u, 3u}) {
      raw.Header(id, 1, id == 2 ? 3 : 0, "NodeSets", "0.1", 0);
      for (std::uint32_t v : {16u, 1u}) ix.Put(KivMox::kLightData, v);
      ix.Put(KivMox::kLightData, std::uint64_t{0});
      ix.Put(KivMox::kLightData, size);
    }
    raw.Finish();
  }
  ExpectRefused(sets, "Two records share bytes of \"Heavy Data\"");
}

TEST_F(CraftedFileTest, ArraysThatSendTheReaderBackAndForthAreRefused) {
  // Two compressed heavy blocks of 1 MiB each; two thousand 4-byte arrays of the older
  // layout (read at once, in record order) lie alternately in the one and the other, so
  // that each array would make the reader inflate a whole block again.
  const std::string path = dir.File("back-and-forth.mox");
  {
    EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "1048576");
    RawMox raw(path, true);
    const Bytes chunk(65536, 0);
    for (int k = 0; k < 32; ++k) raw.Ix().Put(KivMox::kHeavyData, chunk.data(), 65536);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{2});
    raw.Header(1, 0, 0, "", "", 0);
    raw.Header(2, 1, 0, "Geometry", "0.3", raw.LightSize());
    raw.Ix().Put(KivMox::kLightData, std::uint32_t{2000});
    for (std::uint32_t i = 0; i < 2000; ++i)
      PutArray03(raw.Ix(), 4, (i % 2 ? 1048576u : 0u) + 4 * (i / 2));
    for (const char* section : {KivMox::kHeavyData, KivMox::kLightData, KivMox::kMoxTree})
      raw.Ix().SetBlockFlags(section, KivRkf::kFlagZlib);
    raw.Finish();
  }
  const auto rows = MoxInfo::ReadBlockTable(path).rows;
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                          [](const auto& row) { return row.name == KivMox::kHeavyData; }),
            2);
  ExpectRefused(path, "The records of the file send the reader back and forth between its blocks");
}

TEST_F(CraftedFileTest, ABlockClaimingMoreThanDeflateCanGiveIsRefused) {
  // A valid file whose compressed heavy block states an inflated length beyond what its
  // stream could ever give (1032 bytes per stored byte and a little more).
  const std::string path = dir.File("bomb.mox");
  Model model("model");
  model.AddGeometry(1, "mesh", {FloatArray("stress", Distinct(1.0f))});
  model.Save(path);
  Bytes bytes = ReadFileBytes(path);
  for (const auto& row : MoxInfo::ReadBlockTable(path).rows) {
    if (row.name != KivMox::kHeavyData) continue;
    ASSERT_TRUE(row.flags & KivRkf::kFlagZlib);
    const std::uint64_t claimed = 1032ull * (row.storedSize - 4) + 1025;
    for (int k = 0; k < 4; ++k) bytes[row.offset + k] = std::uint8_t(claimed >> (8 * k));
  }
  WriteFileBytes(path, bytes);
  ExpectRefused(path, "Unable to decompress block");
}

TEST_F(CraftedFileTest, ACountOfRecordsIsCheckedAgainstWhatTheRecordsNeed) {
  // The action collection of the view points claims four million entries, backed by
  // 16 MiB of zeros (16 KiB in the file): four bytes each would do for the count of a
  // string, but an entry needs more than a hundred, and takes about two hundred in memory.
  const std::string path = dir.File("many-entries.mox");
  {
    RawMox raw(path, true);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{1});
    raw.Header(1, 0, 0, "", "", 0);
    raw.Ix().Put(KivMox::kViewPoints, KivMox::ViewPointEntry{});
    raw.Ix().Put(KivMox::kViewPoints, std::uint32_t{0});  // no groups
    const std::uint32_t zeros = 16u << 20;
    raw.Ix().Put(KivMox::kViewPoints, std::uint32_t{4 + 7 + 4 + zeros});  // frame size
    raw.Ix().Put(KivMox::kViewPoints, std::string("0.1"));
    raw.Ix().Put(KivMox::kViewPoints, std::uint32_t{zeros / 4});  // entry count
    const Bytes chunk(65536, 0);
    for (std::uint32_t k = 0; k < zeros / 65536; ++k)
      raw.Ix().Put(KivMox::kViewPoints, chunk.data(), 65536);
    raw.Ix().SetBlockFlags(KivMox::kViewPoints, KivRkf::kFlagZlib);
    raw.Finish();
  }
  ASSERT_LT(ReadFileBytes(path).size(), 100000u);
  TempDir logs;
  const Outcome run = RunMoxMerge(logs, {path, dir.File("other.mox"), out.File("merged.mox")});
  // The actions cannot be read; as with any damaged action collection the view points
  // stay, without actions. The run stays small in memory.
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peakKiB, 400 * 1024);
  auto merged = LoadTree(out.File("merged.mox"));
  EXPECT_TRUE(merged->HasViewPoints());
  EXPECT_TRUE(merged->views.actions.entries.empty());
}

}  // namespace
