// Merges that adopt the inputs' compressed heavy blocks: which blocks the output takes as
// stored, and that it is the model a merge writing every block anew gives; the trace log's
// records of every block written match the output's block table, and the count of heavy
// blocks inflated follows each load and the save.
#include <gtest/gtest.h>

#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/progress.hpp"
#include "kiv/rkf/block_read.hpp"
#include "merge/merge_operations.hpp"
#include "support/container_helpers.hpp"
#include "support/merge_fixtures.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace AppTest;

// Two geometries of three arrays and a node set of members members, saved in heavy blocks
// of at most about 4 KiB (the last one holds the node set after the arrays).
void WriteInput(const std::string& path, float seed, std::uint32_t members = 100) {
  AppTest::Model model("input " + std::to_string(seed));
  for (std::uint32_t g = 0; g < 2; ++g) {
    const std::vector<std::int32_t> conn(300, std::int32_t(g) + 7);
    model.AddGeometry(1, "mesh " + std::to_string(g),
                      {IntArray("conn", conn, 3), FloatArray("stress", Distinct(seed + g, 600)),
                       FloatArray("disp", Distinct(seed + g + 0.5f, 900), 3)});
  }
  auto sets = std::make_unique<KivMox::NodeSets>();
  sets->name = "sets";
  sets->sets.push_back({"edge", {}});
  for (std::uint32_t m = 0; m < members; ++m) sets->sets[0].members.emplace_back(2, m);
  model.tree.SetCurrentId(1);
  model.tree.AppendChildNode(std::move(sets));
  EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "4096");
  model.Save(path);
}

// The stored "Heavy Data" blocks, each after its flags: as recorded, or (adopted) those of
// a streaming zlib block, which an adopted block gets whatever its input's record said.
std::vector<Bytes> HeavyBlocks(const std::string& path, bool adopted = false) {
  const Bytes file = ReadFileBytes(path);
  std::vector<Bytes> blocks;
  for (const auto& row : BlocksOf(path))
    if (const auto at = file.begin() + row.offset; row.name == KivMox::kHeavyData)
      blocks.push_back(Cat({{adopted ? std::uint8_t{33} : row.flags}, {at, at + row.storedSize}}));
  return blocks;
}
std::vector<Bytes> Join(std::initializer_list<std::vector<Bytes>> parts) {
  std::vector<Bytes> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
bool StartsWith(const std::vector<Bytes>& blocks, const std::vector<Bytes>& prefix) {
  return blocks.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), blocks.begin());
}
std::string ModelText(const std::string& path) {
  return FuzzDescription::DescribeTree(*LoadTree(path));
}
// A name as the model text spells it.
std::string Spelled(const std::string& name) {
  return FuzzDescription::Writer().Bytes(name).Text();
}

// The lines of the model text that describe node sets, in tree order.
std::string SetLines(const std::string& path) {
  std::istringstream in(ModelText(path));
  std::string lines;
  for (std::string line; std::getline(in, line);)
    if (Has(line, " set=")) lines += line + "\n";
  return lines;
}
// The counts of the trace log's "Heavy data blocks inflated" records, in order.
std::string InflatedCounts(const TempDir& logs) {
  const std::string prefix = "Heavy data blocks inflated: ";
  const Bytes log = ReadFileBytes(logs.File("MoxMerge_trace.log"));
  std::istringstream in(std::string(log.begin(), log.end()));
  std::string counts;
  for (std::string line; std::getline(in, line);)
    if (const auto at = line.find(prefix); at != std::string::npos)
      counts += line.substr(at + prefix.size()) + "\n";
  return counts;
}

// The heavy data written, as the save reports it to a progress display.
struct WrittenSoFar : KivMox::ProgressListener {
  WrittenSoFar() { KivMox::SetProgressListener(this); }
  ~WrittenSoFar() override { KivMox::SetProgressListener(nullptr); }
  void Reading(const std::string&) override {}
  void Writing(std::uint64_t done, std::uint64_t total) override { calls.push_back({done, total}); }
  void Finished() override {}
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
};

class BlockAdoptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteInput(A, 1.0f);
    WriteInput(B, 2.0f);
    a = HeavyBlocks(A, true), b = HeavyBlocks(B, true);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(HeavyBlocks(A).back()[0], 1);  // the last one is not recorded as streaming
    // One heavy block of 40 bytes: 12 of "conn", then the 28 of "stress".
    AppTest::Model model("small");
    model.AddGeometry(1, "g", {FloatArray("stress", Distinct(1.0f)), IntArray("conn", {1, 2, 3})});
    model.Save(F("small.mox"));
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  // The heavy blocks of <name>.mox, which moxmerge makes of inputs, once <name>-ref.mox, made
  // with --rewrite-blocks, has been found the same model.
  std::vector<Bytes> MergedBothWays(const Names& inputs, const std::string& name = "out") {
    const std::string out = F(name + ".mox"), ref = F(name + "-ref.mox");
    Names args = inputs, rewrite = {"--rewrite-blocks"};
    args.push_back(out);
    rewrite.insert(rewrite.end(), inputs.begin(), inputs.end());
    rewrite.push_back(ref);
    for (const Names& run : {args, rewrite}) EXPECT_EQ(RunMoxMerge(logs, run).status, 0);
    EXPECT_EQ(ModelText(out), ModelText(ref));
    return HeavyBlocks(out);
  }
  TempDir dir, logs;
  const std::string A = F("a.mox"), B = F("b.mox");
  std::vector<Bytes> a, b;
};

TEST_F(BlockAdoptionTest, PlainMergeCopiesEveryBlockAndGivesTheSameModel) {
  const auto out = MergedBothWays({A, B});
  // The inputs' blocks in input order, then one block written anew: the node sets.
  EXPECT_TRUE(StartsWith(out, Join({a, b})));
  EXPECT_EQ(out.size(), a.size() + b.size() + 1);
  EXPECT_FALSE(StartsWith(HeavyBlocks(F("out-ref.mox")), a));
  EXPECT_TRUE(Has(ModelText(F("out.mox")), Spelled("mesh 1")));
  // moxdiff, which loads deferred, reads both alike (the save times of the history may
  // differ); a further merge adopts the output's blocks in turn.
  EXPECT_EQ(Execute({"moxdiff", {F("out.mox"), F("out-ref.mox"), "--ignore", "history"}}).status,
            0);
  EXPECT_TRUE(StartsWith(MergedBothWays({F("out.mox"), A}, "again"), Join({a, b, a})));
  // One input named twice is two inputs, each with its own copies. Progress counts each
  // adopted block's raw bytes, up to the total of the heavy data.
  WrittenSoFar progress;
  ASSERT_EQ(InProcess([&] { return MoxMerge::MergeFiles({A, A}, F("twice.mox")); }).first, 0);
  EXPECT_TRUE(StartsWith(HeavyBlocks(F("twice.mox")), Join({a, a})));
  ASSERT_GE(progress.calls.size(), 2 * a.size());
  EXPECT_EQ(progress.calls[0].first, 2 * 1200 + 2400u);  // two "conn" runs and a "stress"
  EXPECT_EQ(progress.calls.back().first, progress.calls.back().second);
  EXPECT_GT(progress.calls.back().second, 2 * 2 * (1200 + 2400 + 3600u));  // and node sets
}

TEST_F(BlockAdoptionTest, ViewPointSavesAdoptToo) {
  AppTest::Model views("views");
  views.SetViews("home", {"g"}, 5);
  views.Save(F("v.vpt"));
  // Adopted by the merge and again by the save that adds the view points; by the import
  // into a single Mox input.
  EXPECT_TRUE(StartsWith(MergedBothWays({A, B, F("v.vpt")}), Join({a, b})));
  EXPECT_FALSE(StartsWith(HeavyBlocks(F("out-ref.mox")), a));
  EXPECT_TRUE(Has(ModelText(F("out.mox")), Spelled("home")));
  EXPECT_TRUE(StartsWith(MergedBothWays({A, F("v.vpt")}, "single"), a));
  EXPECT_FALSE(StartsWith(HeavyBlocks(F("single-ref.mox")), a));
}

TEST_F(BlockAdoptionTest, BlocksWithTooManyBytesNoArrayTakesAreWrittenAnew) {
  // 300000 members: the block of the last arrays ends with 1.2 MB of node set members (more
  // than 1 MiB, and than an eighth of it), and a block of node set members alone follows.
  WriteInput(F("c.mox"), 3.0f, 300000);
  const auto c = HeavyBlocks(F("c.mox"), true);
  ASSERT_EQ(c.size(), 4u);
  const auto out = MergedBothWays({F("c.mox"), A});
  EXPECT_TRUE(StartsWith(out, Join({{c[0], c[1]}, a})));
  EXPECT_EQ(std::count(out.begin(), out.end(), c[2]), 0);
}

TEST_F(BlockAdoptionTest, NodeSetsAreTakenFromBlocksTheSaveInflatesAnyway) {
  // The loads read no heavy block. Node sets come from the check of an adopted block, from the
  // block the writer inflated to write the arrays anew, or, for the 300000 members of c that
  // run on from a block written anew into a block of members alone, where they lie: every
  // heavy block is inflated once. An instance merge keeps the first input's node sets.
  const std::string C = F("c.mox");
  WriteInput(C, 3.0f, 300000);
  const struct {
    Names args, setsOf;
    const char* counts;
  } rows[] = {
      {{A, B}, {A, B}, "0 (of 3)\n0 (of 3)\n6 (of 6)\n"},
      {{"--rewrite-blocks", A, B}, {A, B}, "0 (of 3)\n0 (of 3)\n6 (of 6)\n"},
      {{C, A}, {C, A}, "0 (of 4)\n0 (of 3)\n7 (of 7)\n"},
      {{"--merge-as-instances", C, B}, {C}, "0 (of 4)\n0 (of 3)\n7 (of 7)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    TempDir logs;
    Names args = row.args;
    args.push_back(F("out.mox"));
    ASSERT_EQ(RunMoxMerge(logs, args).status, 0);
    EXPECT_EQ(InflatedCounts(logs), row.counts);
    // The inputs' node sets as a load that reads them at once gives them.
    std::string expected;
    for (const std::string& input : row.setsOf) expected += SetLines(input);
    EXPECT_NE(expected, "");
    EXPECT_EQ(SetLines(F("out.mox")), expected);
  }
}

TEST_F(BlockAdoptionTest, OnlyBlocksTheWriterCouldHaveMadeUnderTheLimitAreAdopted) {
  const auto small = HeavyBlocks(F("small.mox"), true);
  for (const char* limit : {"12", "13"}) {
    EnvGuard guard("KORVANE_MAX_MOX_BLOCK_SIZE", limit);
    EXPECT_EQ(StartsWith(MergedBothWays({F("small.mox"), F("small.mox")}), Join({small, small})),
              limit[1] == '3');
  }
}

TEST_F(BlockAdoptionTest, OlderOrUncompressedInputsAreWrittenAnew) {
  const auto values = Distinct(9.0f, 2000);
  struct Row {
    const char version[4];
    bool zlib, adopted;
  } rows[] = {
      {"0.6", false, false}, {"0.6", true, false}, {"1.3", false, false}, {"1.3", true, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.version) + (row.zlib ? " zlib" : ""));
    Write06(
        F("old.mox"), 2,
        [&](RawMox& raw) {
          raw.Ix().Put(KivMox::kHeavyData, values.data(), 8000);
          if (row.zlib) raw.Ix().SetBlockFlags(KivMox::kHeavyData, KivRkf::kFlagZlib);
          raw.Header(2, 1, 0, "Geometry", "0.6", raw.LightSize());
          Geometry06(raw, 8000, 0);
        },
        row.version);
    const auto old = HeavyBlocks(F("old.mox"), true);
    EXPECT_TRUE(StartsWith(MergedBothWays({F("old.mox"), A}), row.adopted ? Join({old, a}) : a));
  }
}

TEST_F(BlockAdoptionTest, DamagedAdoptedBlocksFailTheMergeAndLeaveNoFile) {
  const auto table = BlocksOf(A);
  const auto& first = *std::find_if(table.begin(), table.end(),
                                    [](const auto& r) { return r.name == KivMox::kHeavyData; });
  // A flipped byte in the zlib stream; a raw length four bytes more, or less (the last run
  // ends beyond the block).
  const Bytes valid = ReadFileBytes(A);
  Bytes flipped = valid, longer = valid, shorter = valid;
  flipped[first.offset + first.storedSize / 2] ^= 0x08;
  SetU32At(longer, first.offset, U32At(valid, first.offset) + 4);
  SetU32At(shorter, first.offset, U32At(valid, first.offset) - 4);
  TempDir out;
  for (const Bytes& bytes : {flipped, longer, shorter}) {
    SCOPED_TRACE("raw length " + std::to_string(U32At(bytes, first.offset)));
    WriteFileBytes(F("damaged.mox"), bytes);
    for (const Names& inputs : {Names{F("damaged.mox"), B}, Names{B, F("damaged.mox")}}) {
      const auto [status, err] =
          InProcess([&] { return MoxMerge::MergeFiles(inputs, out.File("m.mox")); });
      EXPECT_EQ(status, 2);
      EXPECT_TRUE(Has(err, "Exception \"")) << err;
      EXPECT_EQ(DirectoryEntries(out.Path()), Names{});
    }
  }
}

TEST_F(BlockAdoptionTest, TraceLogBlockRecordsMatchTheOutputsBlockTable) {
  // Rewritten with blocks of 16 bytes, the heavy data fills many blocks that are compressed
  // and written early, on other threads, and the table grows index blocks. Adopted, the
  // input's one heavy block is copied twice and the other streams fill the blocks.
  for (const bool adopt : {false, true}) {
    SCOPED_TRACE(adopt ? "adopted" : "rewritten");
    TempDir logs;
    Names args = {F("small.mox"), F("small.mox"), F("out.mox")};
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
    ContainerReader output(F("out.mox"));
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
}

}  // namespace
