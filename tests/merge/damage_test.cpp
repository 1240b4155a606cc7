// Merges of damaged files (cut, or a byte changed) as first input (full load) and second
// (nodes only), and of crafted files whose records claim shared bytes or far reads.
#include <set>

#include <gtest/gtest.h>

#include "kiv/rkf/rkfile.hpp"
#include "merge/merge_operations.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

struct Damage {
  std::string what;
  Bytes bytes;
  bool mustFail[2];           // with the damaged file as first and as second input
  std::string cutShort = "";  // what the failure tells after the file's quoted path
};

// The sections a full load reads whole (the index blocks too); a nodes-only load skips
// the history and the view points.
bool ReadBy(const std::string& name, bool nodesOnly) {
  return name != KivMox::kViewPoints && !KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) &&
         !(nodesOnly && name == KivMox::kGlobalInformation);
}

std::vector<Damage> DamagesOf(const Bytes& valid, const std::vector<KivRkf::BlockInfo>& rows) {
  std::vector<Damage> damages;
  std::set<std::pair<bool, std::uint64_t>> done;
  // Must fail: a changed byte in the magic or a read zlib stream (past the length); any cut
  // (the file ends before its last block, whichever section that is).
  const auto add = [&](bool cut, std::uint64_t at) {
    if (at >= valid.size() || !done.insert({cut, at}).second) return;
    Damage d{(cut ? "cut at " : "changed byte ") + std::to_string(at), valid, {}};
    cut ? d.bytes.resize(at) : void(d.bytes[at] ^= 0xFF);
    // A file cut after its primary index is refused when it is opened, read whole or not.
    if (cut && at >= rows.front().offset)
      d.cutShort = " is cut short: its block table ends at byte " + std::to_string(valid.size()) +
                   ", the file has " + std::to_string(at) + " bytes";
    for (bool nodes : {false, true}) {
      d.mustFail[nodes] = cut || at < 8;
      for (const auto& row : rows)
        d.mustFail[nodes] |= ReadBy(row.name, nodes) && at < row.offset + row.storedSize &&
                             at >= row.offset + 4 && (row.flags & KivRkf::kFlagZlib);
    }
    damages.push_back(std::move(d));
  };
  // Every byte of the header and the count; the fields of the records of the blocks in
  // use: serial, name length, a name byte, the four bytes of the stored size, the flags.
  for (std::uint64_t o = 0; o < 20; ++o) add(false, o);
  for (std::uint64_t number = 0; number < std::min<std::size_t>(rows.size(), 20); ++number)
    if (!KivRkf::IsSpecialName(rows[number].name, KivRkf::kEmptyBlockName))
      for (std::uint64_t field : {0, 1, 5, 133, 135, 137}) add(false, 20 + 139 * number + field);
  // Each block: its first bytes (length field and zlib header), five more, its last byte.
  for (const auto& row : rows) {
    const std::uint64_t head = (row.flags & KivRkf::kFlagZlib) ? 6 : 2, size = row.storedSize,
                        stride = std::max<std::uint64_t>(1, size / 6);
    for (std::uint64_t k = 0; k < std::min(head, size); ++k) add(false, row.offset + k);
    for (std::uint64_t k = head + stride / 2; k < size; k += stride) add(false, row.offset + k);
    if (size != 0) add(false, row.offset + size - 1);
  }
  // Cuts in the header, in and after the primary index, and over every block.
  for (std::uint64_t t : {0, 4, 8, 11, 12, 15, 16, 20, 159}) add(true, t);
  add(true, rows.front().offset - 1);  // the last byte of the primary index
  for (const auto& row : rows)
    for (std::uint64_t t : {0u, 1u, row.storedSize / 2, row.storedSize - 1})
      if (row.storedSize != 0) add(true, row.offset + t);
  return damages;
}

// Status 0 with an output that loads, or 2 with an error text and no output.
TEST(DamageTest, CompressedFileDamagedAnywhere) {
  TempDir files, out;
  const std::string path = files.File("zlib.mox"), damaged = files.File("damaged.mox"),
                    other = files.File("other.mox"), output = out.File("merged.mox");
  const auto run =
      Execute({"moxsample",
               {path, "--parts", "2", "--heavy-mib", "0.01", "--seed", "7", "--view-points", "1"}});
  ASSERT_EQ(run.status, 0) << run.err;
  Model model("other");
  model.AddGeometry(1, "mesh", {FloatArray("stress", Distinct(3.0f))});
  model.Save(other);
  // Blocks grow by 64 KiB instead of 10 MiB: no byte read or written changes, merges are cheaper.
  SmallBlocks small(nullptr, "65536");
  const auto damages = DamagesOf(ReadFileBytes(path), BlocksOf(path));
  EXPECT_TRUE(damages.size() > 60u && damages.size() < 300u) << damages.size();
  std::size_t failed = 0;
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const bool second = i % 2;
    WriteFileBytes(damaged, damages[i].bytes);
    const Names inputs = second ? Names{other, damaged} : Names{damaged, other};
    const auto [status, err] = InProcess([&] { return MoxMerge::MergeFiles(inputs, output); });
    SCOPED_TRACE(damages[i].what + (second ? ", second\n" : ", first\n") + err);
    EXPECT_EQ(status, damages[i].mustFail[second] || status != 0 ? 2 : 0);  // 2 if it must fail
    failed += status == 2;
    EXPECT_EQ(Has(err, "Exception \""), status == 2);
    const std::string& cutShort = damages[i].cutShort;
    EXPECT_TRUE(cutShort.empty() || Has(err, "\"" + damaged + "\"" + cutShort));
    EXPECT_EQ(DirectoryEntries(out.Path()), status == 2 ? Names{} : Names{"merged.mox"});
    if (status == 0) {
      std::unique_ptr<KivMox::Tree> merged;
      EXPECT_NO_THROW(merged = LoadTree(output));
      EXPECT_EQ(merged ? merged->GetNode(1)->name : "", "Merge");
      std::filesystem::remove(output);
    }
  }
  EXPECT_GT(failed, 100u);
}

// A "0.3" array record of bytes at heavy position.
void Array03(RawMox& raw, u32 bytes, u32 position) {
  raw.Put(KivMox::kLightData, std::string("a"), u32{0}, bytes, u8{1}, u8{0}, u8{0}, u32{0}, u32{0},
          u8{0}, u8{0}, position);
}

// Merges with the file first and second must fail with expected and leave no output.
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

TEST(CraftedFileTest, RecordsThatShareBytesOrSendTheReaderBackAndForthAreRefused) {
  // Many geometry nodes whose arrays all name the same 64 KiB run: read as they say, a
  // file of a few hundred KiB would stand for hundreds of MiB of values.
  TempDir dir;
  const Bytes run(65536, 0x3F);
  Write06(dir.File("shared.mox"), 201, [&](RawMox& raw) {
    raw.Ix().Put(KivMox::kHeavyData, run.data(), 65536);
    for (u32 k = 0; k < 200; ++k) {
      raw.Header(k + 2, 1, k + 1 < 200 ? k + 3 : 0, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, 65536, 0);
    }
  });
  ExpectRefused(dir.File("shared.mox"), "Two records share bytes of \"Heavy Data\"");
  // Runs that only touch each other are fine.
  Write06(dir.File("adjacent.mox"), 3, [&](RawMox& raw) {
    raw.Ix().Put(KivMox::kHeavyData, run.data(), 64);
    for (u32 k : {0u, 1u}) {
      raw.Header(2 + k, 1, k ? 0 : 3, "Geometry", "0.6", raw.LightSize());
      Geometry06(raw, 32, 32 * k);
    }
  });
  EXPECT_EQ(LoadTree(dir.File("adjacent.mox"))->Size(), 3u);
  // Every header names the light record of the first geometry, whose array list is long.
  Write06(dir.File("shared-light.mox"), 4, [](RawMox& raw) {
    const u32 at = raw.LightSize() + 1;  // a zero position would mean "read on"
    raw.Put(KivMox::kLightData, u8{0});
    for (u32 id : {2u, 3u, 4u}) raw.Header(id, 1, id < 4 ? id + 1 : 0, "Geometry", "0.3", at);
    raw.Put(KivMox::kLightData, u32{1000});
    for (int i = 0; i < 1000; ++i) Array03(raw, 0, 0);
  });
  ExpectRefused(dir.File("shared-light.mox"), "Two records share bytes of \"Light Data\"");
  // Two node sets naming one heavy record.
  Write06(dir.File("shared-sets.mox"), 3, [](RawMox& raw) {
    using V = std::vector<u32>;
    raw.Put(KivMox::kHeavyData, V{0, 3}, std::string("top"), V{0, 2}, V{6, 6}, V{0, 1});
    const auto size = static_cast<u32>(raw.Ix().GetSize(KivMox::kHeavyData));
    for (u32 id : {2u, 3u}) {
      raw.Header(id, 1, id == 2 ? 3 : 0, "NodeSets", "0.1", 0);
      raw.Put(KivMox::kLightData, u32{16}, u32{1}, std::uint64_t{0}, size);
    }
  });
  ExpectRefused(dir.File("shared-sets.mox"), "Two records share bytes of \"Heavy Data\"");
  // The same after an array in a block that a merge adopts: the check of its copy hands the
  // node sets on.
  Write06(
      dir.File("shared-adopted.mox"), 4,
      [&](RawMox& raw) {
        using V = std::vector<u32>;
        raw.Ix().Put(KivMox::kHeavyData, run.data(), 64);
        raw.Header(2, 1, 3, "Geometry", "0.6", raw.LightSize());
        Geometry06(raw, 64, 0);
        raw.Put(KivMox::kHeavyData, V{0, 3}, std::string("top"), V{0, 2}, V{6, 6}, V{0, 1});
        const auto size = static_cast<u32>(raw.Ix().GetSize(KivMox::kHeavyData) - 64);
        for (u32 id : {3u, 4u}) {
          raw.Header(id, 1, id == 3 ? 4 : 0, "NodeSets", "0.1", 0);
          raw.Put(KivMox::kLightData, u32{16}, u32{1}, std::uint64_t{64}, size);
        }
        raw.Ix().SetBlockFlags(KivMox::kHeavyData, KivRkf::kFlagZlib);
      },
      "1.3");
  ExpectRefused(dir.File("shared-adopted.mox"), "Two records share bytes of \"Heavy Data\"");
  // Two thousand 4-byte arrays of the older layout (read in record order) lie alternately
  // in two compressed heavy blocks of 1 MiB: each would inflate a whole block again.
  Write06(dir.File("back-and-forth.mox"), 2, [](RawMox& raw) {
    EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "1048576");
    const Bytes chunk(65536, 0);
    for (int k = 0; k < 32; ++k) raw.Ix().Put(KivMox::kHeavyData, chunk.data(), 65536);
    raw.Header(2, 1, 0, "Geometry", "0.3", raw.LightSize());
    raw.Put(KivMox::kLightData, u32{2000});
    for (u32 i = 0; i < 2000; ++i) Array03(raw, 4, (i % 2 ? 1048576u : 0u) + 4 * (i / 2));
    for (const char* section : {KivMox::kHeavyData, KivMox::kLightData, KivMox::kMoxTree})
      raw.Ix().SetBlockFlags(section, KivRkf::kFlagZlib);
  });
  ExpectRefused(dir.File("back-and-forth.mox"),
                "The records of the file send the reader back and forth between its blocks");
}

TEST(CraftedFileTest, ACountOfRecordsIsCheckedAgainstWhatTheRecordsNeed) {
  // The action collection of the view points claims four million entries, backed by 16 MiB
  // of zeros (16 KiB in the file): four bytes each would do for the count of a string, but an
  // entry needs more than a hundred, and takes about two hundred in memory.
  TempDir dir, logs;
  const std::string path = dir.File("many-entries.mox");
  Write06(path, 1, [](RawMox& raw) {
    const u32 zeros = 16u << 20;
    // The current view point, no groups, the frame's size, version and entry count.
    raw.Put(KivMox::kViewPoints, KivMox::ViewPointEntry{}, u32{0}, u32{4 + 7 + 4 + zeros},
            std::string("0.1"), u32{zeros / 4});
    const Bytes chunk(65536, 0);
    for (u32 k = 0; k < zeros / 65536; ++k) raw.Ix().Put(KivMox::kViewPoints, chunk.data(), 65536);
    raw.Ix().SetBlockFlags(KivMox::kViewPoints, KivRkf::kFlagZlib);
  });
  ASSERT_LT(ReadFileBytes(path).size(), 100000u);
  Model("other").Save(dir.File("other.mox"));
  const Outcome run = RunMoxMerge(logs, {path, dir.File("other.mox"), dir.File("merged.mox")});
  // As with any damaged action collection the view points stay, without actions, and the
  // run stays small in memory.
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peakKiB, 400 * 1024);
  auto merged = LoadTree(dir.File("merged.mox"));
  EXPECT_TRUE(merged->HasViewPoints());
  EXPECT_TRUE(merged->views.actions.entries.empty());
}

}  // namespace
