// The block index written and read; blocks compressed and written on a second thread.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "kiv/rkf/background_write.hpp"
#include "support/container_helpers.hpp"

namespace {

using namespace KivRkf;
using namespace TestSupport;
using Form = BackgroundWrite::Form;
using Numbers = std::vector<std::uint64_t>;

Bytes Filled(std::uint32_t n) {
  Bytes bytes(n);
  for (std::uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i / 97);
  return bytes;
}

struct Output {
  ~Output() {
    if (stream) std::fclose(stream);
  }
  Bytes Close() { return std::fclose(std::exchange(stream, nullptr)), file.Read(); }
  MemFile file;
  std::FILE* stream = std::fopen(file.Path().c_str(), "wb+");
};

TEST(IndexWrite, FirstBlocksAndTheIndexBlockOfTheTwentiethStream) {
  IndexWriter index;
  const BlockTable& built = index.Table();
  const auto blocksOf = [&](const std::string& name) {
    index.Put(name, std::uint32_t{0});
    return built.Names().at(name).blocks;
  };
  EXPECT_EQ(built.IndexBufferSize(), 0u);
  EXPECT_EQ(blocksOf("S0"), Numbers{0});
  EXPECT_EQ(built.IndexBufferSize() + built.HeaderSize(), 2800u);
  EXPECT_EQ(built.Names().at("\vEmpty Block ").blocks.back(), 1u);
  for (int s = 1; s < 19; ++s)
    EXPECT_EQ(blocksOf("S" + std::to_string(s)), Numbers{Numbers::value_type(s)});
  EXPECT_EQ(blocksOf("S19"), Numbers{20});
  ASSERT_EQ(built.Blocks().size(), 220u);
  const auto& b19 = built.Blocks()[19];
  EXPECT_EQ(std::make_pair(b19.name, b19.storedSize), std::make_pair(kIndexBlockName, 27804u));
  EXPECT_EQ(built.Names().at(kIndexBlockName).limit, 27804u);
  EXPECT_EQ(blocksOf("S20"), Numbers{21});
  // Offsets are computed for the table's blocks only, also when its vector is full.
  BlockTable table;
  for (int b = 0; b < 20; ++b) table.CreateBlock("A");
  for (auto& info : table.Blocks()) info.storedSize = 10;
  table.Blocks().shrink_to_fit();
  table.SetIndexBufferSize(2788);
  table.ComputeAllOffsets();
  EXPECT_EQ(std::make_pair(table.Blocks()[0].offset, table.Blocks()[19].offset),
            std::make_pair(2800ul, 2990ul));
  Numbers limits;  // the limit of each new name comes from the environment
  for (const char* limit : {"100", "4294967295", static_cast<const char*>(nullptr)}) {
    EnvGuard env("KORVANE_MAX_MOX_BLOCK_SIZE", limit);
    limits.push_back(index.StreamLimit(limit ? limit : "unset"));
  }
  EXPECT_EQ(limits, (Numbers{100, 209715200, 209715200}));
}

TEST(IndexWrite, StreamLimitsFlagsAndEarlyWrites) {
  SmallBlocks small("8");
  IndexWriter plain;
  plain.Put("A", std::uint32_t{1});
  plain.Put("AB", std::uint32_t{1});
  plain.SetBlockFlags("A", kFlagZlib);
  plain.Put("A", std::uint32_t{2});      // size 8 == limit: the block is full
  plain.Put("A", std::string(20, 'x'));  // a new block (flags 0) takes it whole
  EXPECT_EQ(plain.Table().Names().at("A").blocks, (Numbers{0, 2}));
  EXPECT_EQ(std::make_pair(plain.Table().Buffer(2).Size(), plain.GetSize("A")),
            std::make_pair(24u, 32ul));
  Output out;
  IndexWriter index;
  for (std::uint32_t i = 0; i < 5; ++i) {
    index.Put("Heavy Data", i);
    index.SetBlockFlags("Heavy Data", kFlagStreaming | kFlagZlib);
    index.FlushFrozen(out.stream);
  }
  auto written = [&] {  // per block of the stream: its bytes handed to a write, or held
    std::string text;
    for (std::uint64_t b : index.Table().Names().at("Heavy Data").blocks)
      text += index.Table().Buffer(b).HasBuffer() ? "-" : "w";
    return text;
  };
  EXPECT_EQ(written(), "ww-");                // blocks 0 and 1 are full and written
  index.Put("Light Data", std::uint32_t{0});  // block 3, not written early
  index.Put("Heavy Data", std::uint32_t{5});  // block 2 full
  index.Put("Heavy Data", std::uint64_t{6});  // block 4 full, after block 3
  index.SetBlockFlags("Heavy Data", kFlagStreaming);
  EXPECT_EQ(Failure([&] { index.FlushFrozen(out.stream); }), "13 Not Implemented");
  EXPECT_EQ(written(), "www-");
}

// The flags byte of every block record in the file (the primary index, then the records of
// index block 19), a run of equal neighbours as one word: "33 1x2".
std::string RecordFlags(const Bytes& file) {
  std::vector<int> flags;
  std::size_t chained = 2800;
  for (std::uint32_t k = 0; k < 20; ++k) {
    flags.push_back(file[PrimaryRecordOffset(k) + 137]);
    if (k < 19) chained += U32At(file, PrimaryRecordOffset(k) + 133);
  }
  if (file[PrimaryRecordOffset(19) + 6] == 'I')
    for (std::uint32_t k = 0; k < U32At(file, chained); ++k)
      flags.push_back(file[chained + 4 + 139 * k + 137]);
  std::string text;
  for (std::size_t k = 0, n = 1; k < flags.size(); k += n, n = 1) {
    while (k + n < flags.size() && flags[k + n] == flags[k]) ++n;
    text += (text.empty() ? "" : " ") + std::to_string(flags[k]) +
            (n > 1 ? "x" + std::to_string(n) : "");
  }
  return text;
}

// A block's record has the flags set on its stream while the block belonged to it; a pool
// block keeps those set on the pool. "A" puts a value into stream A (a block of its own),
// "Ax3" three; "A|32" sets flags 32 on A; "E" is the pool; "F" writes full blocks early.
TEST(IndexWrite, EachBlockHasTheFlagsSetWhileItBelongedToItsStream) {
  SmallBlocks small("4");
  const std::pair<const char*, const char*> cases[] = {
      {"A A|32 A A|1 A", "33 1 0x18"},
      {"A B A|1 B|32 A", "1 32 0x18"},
      {"A|1 A A", "0x20"},
      {"A E|2 B A|1 B", "1 2x19"},
      {"Ax18 E|2 Ax3 A|1", "1x18 3 34 1x2 0x198"},
      {"A A|33 A F A|2 A", "35 2 0x18"},
      {"H|32 H|1 H H|32 H|1 H H H|1", "33 1x2 0x17"}};
  for (const auto& [words, expected] : cases) {
    const Bytes bytes = ContainerBytes([&](RkFile& f) {
      std::istringstream in(words);
      for (std::string w; in >> w;) {
        const std::string name = w[0] == 'E' ? kEmptyBlockName : w.substr(0, 1);
        if (w == "F")
          f.Writer().FlushFrozen(f.Stream());
        else if (w.size() > 1 && w[1] == '|')
          f.SetBlockFlags(name, std::uint8_t(std::stoi(w.substr(2))));
        else
          for (int n = w.size() > 1 ? std::stoi(w.substr(2)) : 1; n > 0; --n)
            f.Writer().Put(name, std::uint32_t(n));
      }
    });
    EXPECT_EQ(RecordFlags(bytes), expected) << words;
  }
}

// An adopted block is copied to the end of the file: refused while any stream, its own or
// another, still holds a block that is not written; taken once every block is.
TEST(IndexWrite, AdoptionWaitsForEveryEarlierBlock) {
  SmallBlocks small("4");
  const Bytes framed = Zlib(Filled(300));
  const MemFile source(framed);
  const auto stored = static_cast<std::uint32_t>(framed.size());
  for (const char* open : {"Heavy Data", "Light Data"}) {
    SCOPED_TRACE(open);
    Output out;
    IndexWriter index;
    index.Put(open, std::uint32_t{7});  // a full block, not written yet
    index.SetBlockFlags(open, kFlagStreaming | kFlagZlib);
    const auto adopt = [&] {
      return index.AdoptBlock("Heavy Data", source.fd, 0, stored, 300, out.stream).block;
    };
    const auto heavyBlocks = [&] {
      const BlockTable& built = index.Table();
      return built.HasName("Heavy Data") ? built.Names().at("Heavy Data").blocks.size() : 0;
    };
    const std::size_t before = heavyBlocks();
    const bool own = std::string(open) == "Heavy Data";
    EXPECT_EQ(Failure([&] { adopt(); }), own ? "14 Mis-match Error" : "13 Not Implemented");
    EXPECT_EQ(heavyBlocks(), before);
    index.FlushFrozen(out.stream);
    std::uint64_t adopted = 0;
    EXPECT_NO_THROW(adopted = adopt());
    EXPECT_EQ(std::pair(adopted, heavyBlocks()), std::pair(std::uint64_t{1}, before + 1));
    // Adopted blocks follow each other in the stream and in the file.
    const std::uint64_t before2 = index.GetSize("Heavy Data");
    const auto second = index.AdoptBlock("Heavy Data", source.fd, 0, stored, 300, out.stream);
    EXPECT_EQ(std::pair(second.position, index.GetSize("Heavy Data")),
              std::pair(before2, before2 + 300));
    EXPECT_EQ(second.offset, index.Table().Blocks()[1].offset + stored);
  }
}

// 501 blocks of 16 bytes: index blocks 19, 219, 419. Written early (the blocks left packed
// while the last full one is written) or not, the file is the same.
TEST(IndexRead, StreamOverThreeIndexBlocks) {
  SmallBlocks small("16");
  auto write = [&](bool early) {
    return ContainerBytes(
        [&](RkFile& f) {
          for (std::uint32_t i = 0; i < 2002; ++i) {
            f.Writer().Put("Heavy Data", i * 3u);
            f.SetBlockFlags("Heavy Data", kFlagStreaming | kFlagZlib);
            if (early) f.Writer().FlushFrozen(f.Stream());
          }
          for (std::uint32_t i = 0; i < 3; ++i) f.Writer().Put("Light Data", i * 7);
          f.SetBlockFlags("Light Data", kFlagZlib);
        },
        [](RkFile& f) { EXPECT_EQ(f.Writer().GetSize("Heavy Data"), 2002u * 4); });
  };
  const Bytes bytes = write(true);
  EXPECT_EQ(bytes, write(false));
  ContainerReader reader(bytes);
  ASSERT_EQ(reader.Index().Table().Blocks().size(), 620u);
  EXPECT_EQ(reader.Index().Table().Names().at(kIndexBlockName).blocks, (Numbers{19, 219, 419}));
  for (std::uint32_t i = 0; i < 2002; ++i)
    ASSERT_EQ(reader.Get<std::uint32_t>("Heavy Data"), i * 3u) << i;
  EXPECT_EQ(Failure([&] { reader.Get<std::uint32_t>("Heavy Data"); }),
            "1 Not enough bytes in the block");
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data") + reader.Get<std::uint32_t>("Light Data"), 7u);
}

// Blocks load when first reached; a seek passes over blocks by their stored size or the
// length field of their framing (checked later).
TEST(IndexRead, LoadingAndPositions) {
  SmallBlocks small("8");
  for (bool compressed : {false, true}) {
    Bytes bytes = ContainerBytes([&](RkFile& f) {
      for (std::uint32_t i = 0; i < 10; ++i) f.Writer().Put("A", i * 7u);
      f.Writer().Put("B", std::string("b"));
      if (compressed) f.SetBlockFlags("A", kFlagZlib);
    });
    ContainerReader reader(bytes);
    IndexReader& index = reader.Index();
    auto value = [&] { return reader.Get<std::uint32_t>("A"); };
    auto states = [&] {  // per block of A: loaded, holding bytes, size unchecked
      std::string text;
      for (std::uint64_t b = 0; b < 4; ++b)
        text += {"-l"[index.ReadState(b).loaded], "-b"[index.Table().Buffer(b).HasBuffer()],
                 "-u"[index.ReadState(b).sizeUnchecked], ' '};
      return text;
    };
    EXPECT_EQ(states(), "--- --- --- --- ");
    index.SetReadingPosition("A", 20);  // blocks 0 and 1 passed over
    EXPECT_EQ(value(), 35u);
    EXPECT_EQ(states(), compressed ? "--u --u lb- --- " : "--- --- lb- --- ");
    EXPECT_EQ(index.Table().Buffer(1).Size(), 8u);
    index.CheckRecordedSizes();  // inflates them once and frees them again
    EXPECT_EQ(states(), "--- --- lb- --- ");
    EXPECT_EQ(value(), 42u);
    index.SetReadingPosition("A", 8);  // the first block's length: the second's start
    EXPECT_EQ(value(), 14u);
    index.SetReadingPosition("A", 4);
    for (std::uint32_t i = 1; i < 10; ++i) ASSERT_EQ(value(), i * 7u) << i;
    EXPECT_EQ(CodeOf([&] { value(); }), 1);
    EXPECT_EQ(Failure([&] { index.SetReadingPosition("A", 41); }), "1 Invalid block position");
    EXPECT_EQ(reader.Get<std::string>("B"), "b");
    if (!compressed) continue;
    // A length field that lies fails once its block is checked, or inflated from the start.
    SetU32At(bytes, 2800, 12);  // block 0 says it holds 12 bytes; it inflates to 8
    ContainerReader checked(bytes), back(bytes);
    checked.Index().SetReadingPosition("A", 20);  // believed: the start of block 2
    back.Index().SetReadingPosition("A", 20);
    EXPECT_EQ(Failure([&] { checked.Index().CheckRecordedSizes(); }),
              "9 Unable to decompress block");
    EXPECT_EQ(Failure([&] { back.Index().SetReadingPosition("A", 0); }),
              "9 Unable to decompress block");
    EXPECT_EQ(ContainerReader(bytes).Get<std::uint32_t>("A"), 0u);
  }
}

// 20 streams: block 19 is the index block of blocks 20..219; S19 takes block 20.
TEST(IndexRead, ReaderHonoursCompressionOnAnIndexBlock) {
  const Bytes file = ContainerBytes([](RkFile& f) {
    for (std::uint32_t s = 0; s < 20; ++s) f.Writer().Put("S" + std::to_string(s), s + 100);
  });
  const std::size_t at = 2800 + 19 * 4, record19 = PrimaryRecordOffset(19);
  const Bytes packed = Zlib(Bytes(file.begin() + at, file.begin() + at + 27804));
  Bytes rebuilt = Cat({Bytes(file.begin(), file.begin() + at), packed,
                       Bytes(file.begin() + at + 27804, file.end())});
  SetU32At(rebuilt, record19 + 133, static_cast<std::uint32_t>(packed.size()));
  rebuilt[record19 + 137] = 33;  // streaming and zlib
  ContainerReader reader(rebuilt);
  EXPECT_EQ(reader.Index().Table().Blocks().size(), 220u);
  EXPECT_EQ(reader.Get<std::uint32_t>("S19") + reader.Get<std::uint32_t>("S0"), 219u);
}

// Written in the order of their tickets, right after the block before plus the gap.
TEST(BackgroundWrite, WrittenInTurnAndFailuresRaisedByFinish) {
  Output out, dropped;
  WriteTurns turns;
  WritePlace first{7, false, &turns, turns.Take()}, second{5, true, &turns, turns.Take()};
  BackgroundWrite large(BlockOf(Filled(8u << 20)), Form::Compress, first, out.stream, {});
  BackgroundWrite small(BlockOf(Filled(3000)), Form::Stored, second, out.stream, {});
  const BackgroundWrite::Done a = large.Finish(), b = small.Finish();
  const Bytes packed = Zlib(Filled(8u << 20));
  EXPECT_TRUE(out.Close() == Cat({Bytes(7), packed, Bytes(5), Filled(3000)}));
  EXPECT_EQ(std::make_tuple(a.offset, std::uint64_t(a.storedSize), b.offset),
            std::make_tuple(7ul, std::uint64_t(packed.size()), 7 + packed.size() + 5));
  { BackgroundWrite job(BlockOf(Filled(200000)), Form::Compress, 0, dropped.stream, {}); }
  ASSERT_EQ(std::fflush(dropped.stream), 0);  // the thread has ended: the stream is the caller's
  EXPECT_EQ(dropped.Close(), Zlib(Filled(200000)));
  // A failed write is raised by Finish and fails the ones after it, leaving the file.
  MemFile file({1, 2, 3});
  std::FILE* readOnly = std::fopen(file.Path().c_str(), "rb");
  WriteTurns chain;
  BackgroundWrite failing(BlockOf(Filled(1000)), Form::Compress, {0, false, &chain, chain.Take()},
                          readOnly, {});
  BackgroundWrite after(BlockOf(Filled(1000)), Form::Compress, {0, true, &chain, chain.Take()},
                        readOnly, {});
  EXPECT_EQ(Failure([&] { failing.Finish(); }), "10 Unable to write to file");
  EXPECT_EQ(Failure([&] { after.Finish(); }), "10 Unable to write to file");
  std::fclose(readOnly);
  EXPECT_EQ(file.Read(), (Bytes{1, 2, 3}));
  WriteTurns more;  // a ticket that never waits does not end another's turn
  const std::uint64_t t0 = more.Take(), t1 = more.Take();
  more.Done(t1, 100, false);
  more.Done(t0, 40, false);
  bool failedBefore = true;
  EXPECT_EQ(std::make_pair(more.WaitFor(t1, failedBefore), failedBefore),
            std::make_pair(40ul, false));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* pipeEnd = fdopen(fds[1], "w");  // a stream that cannot seek
  EXPECT_EQ(Failure([&] {
              BackgroundWrite(BlockOf(Filled(1000)), Form::Stored, 0, pipeEnd, {}).Finish();
            }),
            "10 Saving the buffer failed");
  std::fclose(pipeEnd);
  close(fds[0]);
}

// Block k + 2 fills the buffer of block k (a fresh one would hold zeros at the marks);
// reading on, a block left behind gives its buffer to the next.
TEST(SpareBuffers, StreamingBlocksTakeTurnsWithTwoBuffers) {
  EnvGuard quantum("KORVANE_DEFAULT_MOX_BLOCK_SIZE", nullptr);
  EnvGuard limit("KORVANE_MAX_MOX_BLOCK_SIZE", "2097152");
  constexpr std::uint32_t kRun = 3u << 20, kMarkAt = 5u << 20;
  auto value = [](std::uint32_t run, std::uint32_t i) { return std::uint8_t(run * 7 + i / 512); };
  std::vector<std::uint8_t*> raw;
  const Bytes bytes = ContainerBytes([&](RkFile& f) {
    IndexWriter& index = f.Writer();
    for (std::uint32_t run = 0; run < 6; ++run) {
      index.SetBlockFlags("Heavy Data", kFlagStreaming | kFlagZlib);
      Block& block = index.WritingBlock("Heavy Data", false);
      std::uint8_t* p = block.Extend(kRun);
      for (std::uint32_t i = 0; i < kRun; ++i) p[i] = value(run, i);
      ASSERT_GE(block.Capacity(), kMarkAt + 8);
      const char* mark = run % 2 ? "spare 1" : "spare 0";
      if (run < 2) std::memcpy(block.Data() + kMarkAt, mark, 8);
      EXPECT_EQ(std::memcmp(block.Data() + kMarkAt, mark, 8), 0) << "block " << run;
      raw.push_back(block.Data());
      index.SetBlockFlags("Heavy Data", kFlagStreaming | kFlagZlib);
      index.FlushFrozen(f.Stream());
    }
    index.Put("Light Data", std::uint32_t{42});  // another stream does not take the buffer
    for (std::uint8_t* buffer : raw) EXPECT_NE(index.Table().Buffer(6).Data(), buffer);
  });
  EXPECT_NE(raw[1], raw[0]);
  for (std::size_t k = 2; k < raw.size(); ++k) EXPECT_EQ(raw[k], raw[k - 2]) << "block " << k;

  ContainerReader reader(bytes);
  IndexReader& index = reader.Index();
  auto check = [&](std::uint32_t run) {
    Bytes back(kRun);
    index.Get("Heavy Data", back.data(), kRun);
    for (std::uint32_t i = 0; i < kRun; i += 4099)
      ASSERT_EQ(back[i], value(run, i)) << run << " " << i;
  };
  const std::uint8_t* first = (check(0), index.Table().Buffer(0).Data());
  for (std::uint32_t run = 1; run < 4; ++run) check(run);
  EXPECT_EQ(index.Table().Buffer(3).Data(), first);  // block 3 has the buffer block 0 had
  index.ReleaseLoadedBlocks("Heavy Data");
  EXPECT_FALSE(index.Table().Buffer(3).HasBuffer());
  index.SetReadingPosition("Heavy Data", 3 * kRun);
  check(3);
  index.SetReadingPosition("Heavy Data", 0);
  for (std::uint32_t run = 0; run < 6; ++run) check(run);
  EXPECT_EQ(reader.Get<std::uint32_t>("Light Data"), 42u);
}

}  // namespace
