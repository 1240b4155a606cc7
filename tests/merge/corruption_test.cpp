// moxmerge on damaged files: valid Mox files (compressed and stored) truncated and with
// bytes changed at many offsets (the header, the primary index records, a stride over
// every block), merged with a valid file as first input (full load) and as second input
// (nodes only). Whatever the damage: no signal, status 0 or 2; a failed run prints an
// error text and leaves no output; a successful one leaves an output that loads. Damage
// the reader can detect (a wrong magic, a changed byte in the zlib stream of a section the
// merge reads, a cut inside such a section or the block table) must fail. Then crafted
// files whose records claim shared bytes, far reads or huge counts.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "info/block_listing.hpp"
#include "kiv/mox/global_info.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/view_points.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::ReadFileBytes;
using TestSupport::WriteFileBytes;

constexpr std::uint32_t kRecordSize = 139;

// Every stream of a container as one run of bytes, in the order of its first block.
std::vector<std::pair<std::string, Bytes>> StreamsOf(const std::string& path) {
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  file.ReadIndex();
  KivRkf::Index& index = file.GetIndex();
  std::vector<std::pair<std::uint64_t, std::string>> order;
  for (const auto& [name, limiter] : index.Names())
    if (!KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) &&
        !KivRkf::IsSpecialName(name, KivRkf::kIndexBlockName))
      order.push_back({limiter.blocks.front(), name});
  std::sort(order.begin(), order.end());
  std::vector<std::pair<std::string, Bytes>> streams;
  for (const auto& [first, name] : order) {
    Bytes bytes;
    while (KivRkf::Block* block = index.ReadingBlock(name)) {
      const std::uint32_t left = block->Remaining();
      if (left == 0) break;
      const std::uint8_t* p = block->Skip(left);
      bytes.insert(bytes.end(), p, p + left);
    }
    streams.push_back({name, bytes});
  }
  return streams;
}

// The same streams written again through the container layer, each as one block stored
// as it is (no compression).
void WriteUncompressed(const std::string& from, const std::string& to) {
  const auto streams = StreamsOf(from);
  KivRkf::RkFile file;
  file.OpenFile(to, "wb+");
  file.WriteHeader();
  for (const auto& [name, bytes] : streams)
    file.GetIndex().Put(name, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  file.GetIndex().WriteAllBuffersToFileStream(file.Stream());
  file.CloseFile();
}

struct Damage {
  std::string what;
  Bytes bytes;
  // Whether the merge must fail with the damaged file as first and as second input.
  bool mustFailFirst = false;
  bool mustFailSecond = false;
};

// The sections a full load reads whole (the index blocks too); a nodes-only load skips
// the history and the view points.
bool ReadByFullLoad(const std::string& name) {
  return name != KivMox::kViewPoints && !KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName);
}
bool ReadByNodesLoad(const std::string& name) {
  return ReadByFullLoad(name) && name != KivMox::kGlobalInformation;
}

class DamagePlan {
 public:
  DamagePlan(const Bytes& valid, const MoxInfo::BlockTable& table) : valid_(valid), table_(table) {}

  std::vector<Damage> Make() {
    // Every byte of the header (magic, version, primary index length) and the count.
    for (std::uint64_t o = 0; o < 20; ++o) Change(o, "header");
    // The fields of the records of the blocks in use: serial, name length, a name byte,
    // the four bytes of the stored size, the flags.
    for (const auto& row : table_.rows) {
      if (row.number >= 20 || KivRkf::IsSpecialName(row.name, KivRkf::kEmptyBlockName)) continue;
      const std::uint64_t record = 20 + kRecordSize * row.number;
      for (std::uint64_t field : {0, 1, 5, 133, 135, 137})
        Change(record + field, "record of block " + std::to_string(row.number));
    }
    // Each block: its first bytes (the length field and zlib header of a compressed
    // block), then five more spread over the rest, and its last byte.
    for (const auto& row : table_.rows) {
      if (row.storedSize == 0) continue;
      const std::string what = "block " + std::to_string(row.number);
      const std::uint64_t head = (row.flags & KivRkf::kFlagZlib) ? 6 : 2;
      for (std::uint64_t k = 0; k < std::min(head, std::uint64_t{row.storedSize}); ++k)
        Change(row.offset + k, what);
      const std::uint64_t stride = std::max<std::uint64_t>(1, row.storedSize / 6);
      for (std::uint64_t k = head + stride / 2; k < row.storedSize; k += stride)
        Change(row.offset + k, what);
      Change(row.offset + row.storedSize - 1, what);
    }
    // Cuts: in the header, in and after the primary index, and at the start, one byte
    // in, the middle and the last byte of every block.
    for (std::uint64_t t : {0, 4, 8, 11, 12, 15, 16, 20, 159}) Cut(t);
    Cut(table_.primaryOffset + table_.primaryLength - 1);
    for (const auto& row : table_.rows) {
      if (row.storedSize == 0) continue;
      for (std::uint64_t t : {row.offset, row.offset + 1, row.offset + row.storedSize / 2,
                              row.offset + row.storedSize - 1})
        Cut(t);
    }
    return std::move(damages_);
  }

 private:
  const MoxInfo::BlockRow* RowAt(std::uint64_t offset) const {
    for (const auto& row : table_.rows)
      if (offset >= row.offset && offset < row.offset + row.storedSize) return &row;
    return nullptr;
  }

  void Change(std::uint64_t offset, const std::string& where) {
    if (offset >= valid_.size() || !changed_.insert(offset).second) return;
    Damage d;
    d.what = "byte " + std::to_string(offset) + " changed (" + where + ")";
    d.bytes = valid_;
    d.bytes[offset] ^= 0xFF;
    const bool magic = offset < 8;
    // Inside the zlib stream of a compressed block (past its length field).
    const MoxInfo::BlockRow* row = RowAt(offset);
    const bool zlibStream = row && (row->flags & KivRkf::kFlagZlib) && offset >= row->offset + 4;
    d.mustFailFirst = magic || (zlibStream && ReadByFullLoad(row->name));
    d.mustFailSecond = magic || (zlibStream && ReadByNodesLoad(row->name));
    damages_.push_back(std::move(d));
  }

  void Cut(std::uint64_t at) {
    if (at >= valid_.size() || !cut_.insert(at).second) return;
    Damage d;
    d.what = "cut at " + std::to_string(at);
    d.bytes.assign(valid_.begin(), valid_.begin() + static_cast<std::ptrdiff_t>(at));
    // Cut inside the header or the primary index, or inside a block that is read.
    bool first = at < table_.primaryOffset + table_.primaryLength;
    bool second = first;
    for (const auto& row : table_.rows) {
      if (row.storedSize == 0 || row.offset + row.storedSize <= at) continue;
      first = first || ReadByFullLoad(row.name);
      second = second || ReadByNodesLoad(row.name);
    }
    d.mustFailFirst = first;
    d.mustFailSecond = second;
    damages_.push_back(std::move(d));
  }

  const Bytes& valid_;
  const MoxInfo::BlockTable& table_;
  std::set<std::uint64_t> changed_, cut_;
  std::vector<Damage> damages_;
};

class CorruptionTest : public ::testing::Test {
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
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }

  // Merges every damage of the file with the valid second file, with the damaged file
  // first and second in turn; returns the number of runs that failed.
  std::size_t RunAll(const std::string& name) {
    const std::string path = files_->File(name);
    const Bytes valid = ReadFileBytes(path);
    const MoxInfo::BlockTable table = MoxInfo::ReadBlockTable(path);
    const std::vector<Damage> damages = DamagePlan(valid, table).Make();
    EXPECT_GT(damages.size(), 60u);
    EXPECT_LT(damages.size(), 300u);
    std::size_t failed = 0;
    for (std::size_t i = 0; i < damages.size(); ++i) {
      const Damage& d = damages[i];
      const bool first = i % 2 == 0;
      const std::string damaged = work.File("damaged.mox");
      WriteFileBytes(damaged, d.bytes);
      const std::string output = out.File("merged.mox");
      const Names args = first ? Names{damaged, files_->File("other.mox"), output}
                               : Names{files_->File("other.mox"), damaged, output};
      // Blocks grow by 64 KiB instead of 10 MiB, which changes no byte read or written
      // but makes each of the many runs much cheaper.
      const auto run = RunMoxMerge(logs, args, {"KORVANE_DEFAULT_MOX_BLOCK_SIZE=65536"});
      const std::string context =
          name + ", " + d.what + (first ? ", first input" : ", second input") + "\n" + run.err;
      EXPECT_EQ(run.signal, 0) << context;
      EXPECT_TRUE(run.status == 0 || run.status == 2) << run.status << " " << context;
      if (first ? d.mustFailFirst : d.mustFailSecond) {
        EXPECT_EQ(run.status, 2) << context;
      }
      if (run.status == 2) {
        ++failed;
        EXPECT_NE(ErrorsOf(run).find("Exception \""), std::string::npos) << context;
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{}) << context;
      } else if (run.status == 0) {
        EXPECT_EQ(DirectoryEntries(out.Path()), Names{"merged.mox"}) << context;
        std::unique_ptr<KivMox::Tree> merged;
        EXPECT_NO_THROW(merged = LoadMox(output)) << context;
        if (merged) {
          EXPECT_EQ(merged->GetNode(1)->name, "Merge") << context;
        }
        std::filesystem::remove(output);
      }
    }
    return failed;
  }

  TempDir work;
  TempDir out;
  TempDir logs;
  static TempDir* files_;
};

TempDir* CorruptionTest::files_ = nullptr;

TEST_F(CorruptionTest, CompressedFileDamagedAnywhere) {
  // Nearly every damage of a compressed file is detected.
  const std::size_t failed = RunAll("zlib.mox");
  EXPECT_GT(failed, 100u);
}

TEST_F(CorruptionTest, UncompressedFileDamagedAnywhere) {
  ASSERT_EQ(MoxInfo::ReadBlockTable(files_->File("plain.mox")).rows.size(), 20u);
  RunAll("plain.mox");
}

// A Mox file of container version "0.6" written through the container layer, for
// records that no sound writer produces.
class RawMox {
 public:
  explicit RawMox(const std::string& path) {
    file_.OpenFile(path, "wb+");
    const char version[4] = {'0', '.', '6', '\0'};
    std::fwrite(KivRkf::kMagic, 1, 8, file_.Stream());
    std::fwrite(version, 1, 4, file_.Stream());
  }
  KivRkf::Index& Ix() { return file_.GetIndex(); }
  // A header whose light position is given (32 bits wide in "0.6").
  void Header(std::uint32_t id, std::uint32_t parent, std::uint32_t next, const std::string& type,
              const std::string& version, std::uint32_t light) {
    for (std::uint32_t v : {id, parent, 0u, next, 0u, 0u}) Ix().Put(KivMox::kMoxTree, v);
    Ix().Put(KivMox::kMoxTree, "node " + std::to_string(id));
    Ix().Put(KivMox::kMoxTree, type);
    Ix().Put(KivMox::kMoxTree, version);
    Ix().Put(KivMox::kMoxTree, light);
  }
  std::uint32_t LightSize() { return static_cast<std::uint32_t>(Ix().GetSize(KivMox::kLightData)); }
  void Finish() {
    Ix().WriteAllBuffersToFileStream(file_.Stream());
    file_.CloseFile();
  }

 private:
  KivRkf::RkFile file_;
};

// A "0.6" geometry record of one float array of byteSize bytes at heavy position.
void PutGeometry06(KivRkf::Index& ix, std::uint32_t byteSize, std::uint32_t position) {
  ix.Put(KivMox::kLightData, std::uint32_t{1});
  ix.Put(KivMox::kLightData, std::string("values"));
  ix.Put(KivMox::kLightData, std::uint32_t{1});
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  ix.Put(KivMox::kLightData, byteSize);
  for (std::uint8_t b : {1, 0, 0}) ix.Put(KivMox::kLightData, b);
  ix.Put(KivMox::kLightData, std::uint32_t{0});
  ix.Put(KivMox::kLightData, std::uint32_t{0});
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  ix.Put(KivMox::kLightData, position);
  ix.Put(KivMox::kLightData, std::uint8_t{0});
  for (int i = 0; i < 6; ++i) ix.Put(KivMox::kAttributes, std::uint32_t{0});
}

class CraftedFileTest : public ::testing::Test {
 protected:
  // Merges the file with a valid one, in both places; both runs must fail with a
  // description containing expected and leave no output.
  void ExpectRefused(const std::string& path, const std::string& expected) {
    Model other("other");
    other.Save(dir.File("other.mox"));
    for (bool first : {true, false}) {
      const std::string output = out.File("merged.mox");
      const Names args = first ? Names{path, dir.File("other.mox"), output}
                               : Names{dir.File("other.mox"), path, output};
      const auto run = RunMoxMerge(logs, args);
      EXPECT_EQ(run.status, 2) << (first ? "first" : "second") << "\n" << run.err;
      EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
      EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
    }
  }

  TempDir dir;
  TempDir out;
  TempDir logs;
};

TEST_F(CraftedFileTest, ArraysThatShareOneHeavyRunAreRefused) {
  // Many geometry nodes whose arrays all name the same 64 KiB run: read as they say, a
  // file of a few hundred KiB would stand for hundreds of MiB of values.
  const std::string path = dir.File("shared-run.mox");
  {
    RawMox raw(path);
    const Bytes run(65536, 0x3F);
    raw.Ix().Put(KivMox::kHeavyData, run.data(), static_cast<std::uint32_t>(run.size()));
    const std::uint32_t nodes = 200;
    raw.Ix().Put(KivMox::kMoxTree, static_cast<std::int32_t>(nodes + 1));
    raw.Header(1, 0, 0, "", "", 0);
    for (std::uint32_t k = 0; k < nodes; ++k) {
      raw.Header(k + 2, 1, k + 1 < nodes ? k + 3 : 0, "Geometry", "0.6", raw.LightSize());
      PutGeometry06(raw.Ix(), 65536, 0);
    }
    raw.Finish();
  }
  ExpectRefused(path, "Two records share bytes of \"Heavy Data\"");
  // Runs that only touch each other are fine.
  const std::string adjacent = dir.File("adjacent.mox");
  {
    RawMox raw(adjacent);
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
  EXPECT_EQ(LoadMox(adjacent)->Size(), 3u);
}

TEST_F(CraftedFileTest, NodesThatShareOneLightRecordAreRefused) {
  // Every header names the light record of the first geometry, whose array list is long.
  const std::string path = dir.File("shared-light.mox");
  {
    RawMox raw(path);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{4});
    raw.Header(1, 0, 0, "", "", 0);
    const std::uint32_t at = raw.LightSize() + 1;  // a zero position would mean "read on"
    raw.Ix().Put(KivMox::kLightData, std::uint8_t{0});
    raw.Header(2, 1, 3, "Geometry", "0.3", at);
    raw.Ix().Put(KivMox::kLightData, std::uint32_t{1000});
    for (int i = 0; i < 1000; ++i) {
      raw.Ix().Put(KivMox::kLightData, std::string("a"));
      for (std::uint32_t v : {0u, 0u}) raw.Ix().Put(KivMox::kLightData, v);
      for (std::uint8_t b : {1, 0, 0}) raw.Ix().Put(KivMox::kLightData, b);
      for (std::uint32_t v : {0u, 0u}) raw.Ix().Put(KivMox::kLightData, v);
      for (std::uint8_t b : {0, 0}) raw.Ix().Put(KivMox::kLightData, b);  // tagC, vibration
      raw.Ix().Put(KivMox::kLightData, std::uint32_t{0});                 // heavy position
    }
    raw.Header(3, 1, 4, "Geometry", "0.3", at);
    raw.Header(4, 1, 0, "Geometry", "0.3", at);
    raw.Finish();
  }
  ExpectRefused(path, "Two records share bytes of \"Light Data\"");
}

TEST_F(CraftedFileTest, NodeSetsThatShareOneHeavyRecordAreRefused) {
  const std::string path = dir.File("shared-sets.mox");
  {
    RawMox raw(path);
    auto& ix = raw.Ix();
    ix.Put(KivMox::kHeavyData, std::vector<std::uint32_t>{0, 3});
    ix.Put(KivMox::kHeavyData, std::string("top"));
    ix.Put(KivMox::kHeavyData, std::vector<std::uint32_t>{0, 2});
    ix.Put(KivMox::kHeavyData, std::vector<std::uint32_t>{6, 6});
    ix.Put(KivMox::kHeavyData, std::vector<std::uint32_t>{0, 1});
    const auto size = static_cast<std::uint32_t>(ix.GetSize(KivMox::kHeavyData));
    ix.Put(KivMox::kMoxTree, std::int32_t{3});
    raw.Header(1, 0, 0, "", "", 0);
    for (std::uint32_t id : {2u, 3u}) {
      raw.Header(id, 1, id == 2 ? 3 : 0, "NodeSets", "0.1", 0);
      ix.Put(KivMox::kLightData, std::uint32_t{16});
      ix.Put(KivMox::kLightData, std::uint32_t{1});
      ix.Put(KivMox::kLightData, std::uint64_t{0});
      ix.Put(KivMox::kLightData, size);
    }
    raw.Finish();
  }
  ExpectRefused(path, "Two records share bytes of \"Heavy Data\"");
}

TEST_F(CraftedFileTest, ArraysThatSendTheReaderBackAndForthAreRefused) {
  // Two compressed heavy blocks of 1 MiB each; two thousand 4-byte arrays of the older
  // layout (read at once, in record order) lie alternately in the one and the other, so
  // that each array would make the reader inflate a whole block again.
  const std::string path = dir.File("back-and-forth.mox");
  {
    TestSupport::EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "1048576");
    RawMox raw(path);
    const Bytes chunk(65536, 0);
    for (int k = 0; k < 32; ++k) raw.Ix().Put(KivMox::kHeavyData, chunk.data(), 65536);
    raw.Ix().Put(KivMox::kMoxTree, std::int32_t{2});
    raw.Header(1, 0, 0, "", "", 0);
    raw.Header(2, 1, 0, "Geometry", "0.3", raw.LightSize());
    const std::uint32_t arrays = 2000;
    raw.Ix().Put(KivMox::kLightData, arrays);
    for (std::uint32_t i = 0; i < arrays; ++i) {
      raw.Ix().Put(KivMox::kLightData, std::string("a"));
      for (std::uint32_t v : {0u, 4u}) raw.Ix().Put(KivMox::kLightData, v);  // kind, bytes
      for (std::uint8_t b : {1, 0, 0}) raw.Ix().Put(KivMox::kLightData, b);
      for (std::uint32_t v : {0u, 0u}) raw.Ix().Put(KivMox::kLightData, v);
      for (std::uint8_t b : {0, 0}) raw.Ix().Put(KivMox::kLightData, b);
      const std::uint32_t position = (i % 2 ? 1048576u : 0u) + 4 * (i / 2);
      raw.Ix().Put(KivMox::kLightData, position);
    }
    for (const char* section : {KivMox::kHeavyData, KivMox::kLightData, KivMox::kMoxTree})
      raw.Ix().SetBlockFlags(section, KivRkf::kFlagZlib);
    raw.Finish();
  }
  const MoxInfo::BlockTable table = MoxInfo::ReadBlockTable(path);
  EXPECT_EQ(std::count_if(table.rows.begin(), table.rows.end(),
                          [](const auto& row) { return row.name == KivMox::kHeavyData; }),
            2);
  ExpectRefused(path, "The records of the file send the reader back and forth between its blocks");
}

TEST_F(CraftedFileTest, ACountOfRecordsIsCheckedAgainstWhatTheRecordsNeed) {
  // The action collection of the view points claims four million entries, backed by
  // 16 MiB of zeros (16 KiB in the file): four bytes each would do for the count of a
  // string, but an entry needs more than a hundred, and takes about two hundred in memory.
  const std::string path = dir.File("many-entries.mox");
  {
    RawMox raw(path);
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
  Model other("other");
  other.Save(dir.File("other.mox"));
  const std::string output = out.File("merged.mox");
  const Outcome run = RunMoxMerge(logs, {path, dir.File("other.mox"), output});
  // The actions cannot be read; as with any damaged action collection the view points
  // stay, without actions.
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peakKiB, 400 * 1024);
  auto merged = LoadMox(output);
  EXPECT_TRUE(merged->HasViewPoints());
  EXPECT_TRUE(merged->views.actions.entries.empty());
}

TEST_F(CraftedFileTest, ABlockClaimingMoreThanDeflateCanGiveIsRefused) {
  // A valid file whose first compressed block states an inflated length beyond what its
  // stream could ever give (1032 bytes per stored byte and a little more).
  const std::string path = dir.File("bomb.mox");
  Model model("model");
  model.AddGeometry(1, "mesh", {FloatArray("stress", Distinct(1.0f))});
  model.Save(path);
  Bytes bytes = ReadFileBytes(path);
  const MoxInfo::BlockTable table = MoxInfo::ReadBlockTable(path);
  const MoxInfo::BlockRow* heavy = nullptr;
  for (const auto& row : table.rows)
    if (row.name == KivMox::kHeavyData) heavy = &row;
  ASSERT_NE(heavy, nullptr);
  ASSERT_TRUE(heavy->flags & KivRkf::kFlagZlib);
  const std::uint64_t claimed = 1032ull * (heavy->storedSize - 4) + 1025;
  for (int k = 0; k < 4; ++k) bytes[heavy->offset + k] = std::uint8_t(claimed >> (8 * k));
  WriteFileBytes(path, bytes);
  ExpectRefused(path, "Unable to decompress block");
}

}  // namespace
