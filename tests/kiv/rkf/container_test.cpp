// The container file: byte layout, header, versions, opening, damage and cuts.
#include <gtest/gtest.h>

#include "support/container_helpers.hpp"
#include "support/log_capture.hpp"

namespace {

using namespace KivRkf;
using namespace TestSupport;

// The whole file against the literal layout (flags byte 1 is zlib), and read back.
TEST(Container, LayoutOfAPlainAndACompressedStream) {
  Bytes payload(100), back(100);
  std::vector<double> values(5000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = double(i % 97) * 0.5;
  for (int i = 0; i < 100; ++i) payload[i] = std::uint8_t(i + 1);
  Block heavy;
  heavy.Put(values);
  const Bytes written = ContainerBytes([&](RkFile& f) {
    f.Writer().Put("Heavy Data", values);
    f.Writer().Put("Light Data", payload.data(), 100);
    f.SetBlockFlags("Heavy Data", kFlagZlib);
  });
  const Bytes image =
      ContainerImage({{"Heavy Data", Zlib(BytesOf(heavy)), 1}, {"Light Data", payload, 0}});
  EXPECT_EQ(written, image);
  ContainerReader reader(image);
  reader.Index().Get("Light Data", back.data(), 100);
  EXPECT_EQ(std::make_pair(reader.Get<std::vector<double>>("Heavy Data"), back),
            std::make_pair(values, payload));
  EXPECT_EQ(reader.Index().Table().HeaderSize() + reader.Index().Table().IndexBufferSize(), 2800u);
}

// Magic, version text to its first zero byte, in tenths: "wide" above "0.6", up to "1.3".
TEST(Container, HeaderAndVersions) {
  MemFile file;
  const std::string cut = "9 Unable to read from file";
  auto check = [&](const std::string& text, bool container, const std::string& version) {
    Bytes bytes;
    for (char c : text) bytes.push_back(c == '~' ? 0 : c);  // '~' stands for a zero byte
    file.Write(bytes);
    RkFile f;
    f.OpenFile(file.Path(), "rb");
    if (version == cut) {
      EXPECT_EQ(Failure([&] { f.ReadVersion(); }), cut);
    } else {
      const std::string read = f.ReadVersion();
      bool wide = false, alsoWide = true;
      f.CheckSupport(read, wide), f.CheckSupport(read, alsoWide);
      EXPECT_EQ(read + " " + std::to_string(VersionNumber(read)) + (wide ? "w" : "") +
                    (alsoWide ? "W" : ""),
                version);
    }
    EXPECT_EQ(f.IsContainerFile(), container) << text;
  };
  const std::pair<std::string, std::string> afterMagic[] = {
      {"1.3~", "1.3 13wW"}, {"0.1a", "0.1a 1"}, {"0~1a", "0 0"},   {"0.6~", "0.6 6"},
      {"0.7~", "0.7 7wW"},  {"v1~~", "v1 0"},   {"nan~", "nan 0"}, {"~~~~", " 0"},
      {"1.", cut},          {"", cut}};
  for (const auto& [tail, version] : afterMagic) check("\x89RKF\r\n\x1A\n" + tail, true, version);
  check("\x89RKF\r\n\x1A", false, cut);
  check("", false, cut);
  check("\x89PNG\r\n\x1A\n~~~~", false, " 0");
  EXPECT_FALSE(RkFile().IsContainerFile());  // nothing open
  RkFile w;  // the header goes to the start, wherever the stream was
  w.OpenFile(file.Path(), "wb+");
  std::fputs("0123456789abcdef", w.Stream());
  w.WriteHeader();
  w.CloseFile();
  EXPECT_EQ(file.Read(), (Bytes{0x89, 'R', 'K', 'F', 0x0D, 0x0A, 0x1A, 0x0A, '1', '.', '3', 0, 'c',
                                'd', 'e', 'f'}));
  EXPECT_GT(VersionNumber("inf"), 13);
  bool flag = false;
  EXPECT_EQ(Failure([&] { RkFile().CheckSupport("1.4", flag); }),
            "2 This file is of mox file version 14.\n"
            "This version of Tessara only supports mox file version upto 13.\n");
  EXPECT_EQ(CodeOf([&] { RkFile().CheckSupport("9e99", flag); }), 2);
}

TEST(Container, OpeningReadingAndClosing) {
  TempDir dir;
  RkFile f;
  SmallBlocks small("8");
  MemFile file(ContainerBytes([](RkFile& w) {
    for (std::uint32_t i = 0; i < 4; ++i) w.Writer().Put("A", i);
  }));
  f.OpenFile(file.Path(), "rb");
  EXPECT_EQ(Failure([&] { f.OpenFile(dir.Path(), "rb"); }), "16 File stream is already in use");
  EXPECT_TRUE(f.IsContainerFile());
  LogCapture capture;
  f.EnsureIndex();
  f.EnsureIndex();  // the table is there: nothing is read again
  std::uint32_t v[3] = {99, 99, 99};
  f.Reader().Get("A", v[0]);
  f.CloseFile();
  f.CloseFile();
  f.Reader().Get("A", v[1]);  // same block, already loaded
  f.Reader().Get("A", v[2]);  // the next block was never loaded: reads as nothing
  EXPECT_EQ(std::vector(v, v + 3), (std::vector<std::uint32_t>{0, 1, 99}));
  EXPECT_EQ(capture.Count("Reading index positions ... ") + capture.Count("Index read. "), 2);
  EXPECT_EQ(std::make_pair(capture.Count("Closing file ..."), capture.Count("File closed.")),
            std::make_pair(2, 1));
  f.OpenFile(file.Path(), "rb");  // a closed container opens again
  EXPECT_TRUE(f.IsOpen());
}

// Damage to a 100-byte stream "A" in block 0 (compressed, or not), and to index block 19.
TEST(Container, DamagedFilesFailWithTheCodeOfTheDamage) {
  SmallBlocks small(nullptr);
  auto written = [](std::uint32_t streams, bool compressed) {
    return ContainerBytes([&](RkFile& f) {
      Bytes payload(100);
      for (int i = 0; i < 100; ++i) payload[i] = std::uint8_t(i * 7);
      f.Writer().Put("A", payload.data(), 100);
      for (std::uint32_t s = 1; s < streams; ++s) f.Writer().Put("S" + std::to_string(s), s);
      if (compressed) f.SetBlockFlags("A", kFlagZlib);
    });
  };
  const std::string cut = "9 Unable to read from file", count = "1 Not enough bytes in the block";
  const std::tuple<int, char, std::size_t, std::uint32_t, std::string> cases[] = {
      // streams (-1: one compressed), 'c'ut at / 'u'32 set at / 'x'or at, value, failure
      {1, 'c', 14, 0, cut},            // in the primary index length
      {1, 'u', 12, 0xFFFFFFF0u, cut},  // the primary index length
      {1, 'c', 2000, 0, cut},          // in the primary index
      {-1, 'x', 2812, 0x55, "9 Unable to decompress block"},
      {1, 'u', 16, ~0u, count},                                // the number of records
      {1, 'u', PrimaryRecordOffset(3) + 1, ~0u - 15, count}};  // a name length
  for (const auto& [streams, kind, at, value, failure] : cases) {
    Bytes file = written(std::abs(streams), streams < 0);
    kind == 'c'   ? file.resize(at)
    : kind == 'u' ? SetU32At(file, at, value)
                  : void(file[at] ^= value);
    EXPECT_EQ(Failure([&] { ContainerReader(file).Index().Get("A", Bytes(100).data(), 100); }),
              failure)
        << kind << at;
  }
  Bytes file = written(20, false);
  SetU32At(file, 2800 + 100 + 18 * 4, 0);  // an index block emptied of records ends the table
  ContainerReader reader(file);
  EXPECT_EQ(
      std::make_tuple(reader.Index().Table().Blocks().size(), reader.Get<std::uint32_t>("S19", 77u),
                      reader.Get<std::uint32_t>("S18")),
      std::make_tuple(20ul, 77u, 18u));
}

// Blocks read ahead are read from memory: once the file's blocks are wiped, exactly those
// within the limit still read, each inflated once; a damaged block stops the reading ahead
// and fails its load as it fails without it.
TEST(Container, BlocksReadAheadAreTakenFromMemory) {
  const auto values = [](std::uint32_t from) {
    Bytes raw(1000);
    for (std::uint32_t i = 0; i < 1000; ++i) raw[i] = std::uint8_t(from + i);
    return raw;
  };
  const Bytes image = ContainerImage({{"A", Zlib(values(0)), kFlagZlib},
                                      {"A", Zlib(values(1)), kFlagZlib},
                                      {"Heavy Data", Zlib(values(2)), kFlagZlib},
                                      {"B", values(3), 0}});
  // The second byte read, or the failure's text.
  const auto first = [](RkFile& f, const std::string& name) -> std::string {
    Bytes got(1000);
    try {
      f.Reader().Get(name, got.data(), 1000);
    } catch (const Kiv::Util::Exception& e) {
      return e.GetDescription();
    }
    return std::to_string(got[1]);
  };
  const std::string ok0 = "1", ok1 = "2", ok3 = "4", wiped = "Unable to decompress block";
  const std::tuple<std::uint64_t, std::uint64_t, std::string, std::string, std::string> cases[] = {
      // limit, bytes read ahead, the reads of A's two blocks and of B after the wipe
      {1 << 20, 3000, ok0, ok1, ok3},
      {2999, 2000, ok0, ok1, "0"},
      {1999, 1000, ok0, wiped, "0"},
      {999, 0, wiped, "", ""}};
  for (const auto& [limit, ahead, a0, a1, b] : cases) {
    MemFile file(image);
    RkFile f;
    f.OpenFile(file.Path(), "rb");
    f.ReadIndex();
    EXPECT_EQ(f.Reader().Preload("Heavy Data", limit), ahead) << limit;
    Bytes blank = image;
    std::fill(blank.begin() + 2800, blank.end(), 0);
    file.Write(blank);
    EXPECT_EQ(first(f, "A"), a0) << limit;
    if (a0 != ok0) continue;
    EXPECT_EQ(first(f, "A"), a1) << limit;
    EXPECT_EQ(first(f, "B"), b) << limit;
    EXPECT_EQ(f.Reader().Inflations("A"), a1 == ok1 ? 2u : 1u) << limit;
    EXPECT_EQ(first(f, "Heavy Data"), wiped) << limit;
  }
  Bytes damaged = image;
  damaged[2800 + Zlib(values(0)).size() + 5] ^= 0x55;  // inside A's second block
  std::string failures[2];
  for (bool ahead : {false, true}) {
    MemFile file(damaged);
    RkFile f;
    f.OpenFile(file.Path(), "rb");
    f.ReadIndex();
    EXPECT_EQ(ahead ? f.Reader().Preload("Heavy Data", 1 << 20) : 1000u, 1000u);
    first(f, "A");
    failures[ahead] = first(f, "A");
  }
  EXPECT_EQ(failures[1], failures[0]);
  EXPECT_EQ(failures[0], wiped);
  // Twenty streams of one value each: the index block that the table needs is not read again.
  ContainerReader twenty(ContainerBytes([](RkFile& w) {
    for (std::uint32_t s = 0; s < 20; ++s) w.Writer().Put("S" + std::to_string(s), s);
  }));
  EXPECT_EQ(twenty.Index().Preload("", 1 << 20), 20 * 4u);
}

// A file cut anywhere before the end of its blocks is refused when the table is read; kept,
// its table and blocks read as far as the file holds them. Bytes after the end are no cut.
TEST(Container, CutFilesAreRefusedWhenTheTableIsRead) {
  SmallBlocks small("1");  // every value in a block of its own
  // Blocks 0 to 18 and 20 to 25 hold 10 to 34 bytes each; block 19 is an index block.
  const Bytes whole = ContainerBytes([](RkFile& f) {
    for (std::uint32_t k = 0; k < 25; ++k)
      f.Writer().Put("S" + std::to_string(k % 3), Bytes(10 + k, std::uint8_t(k)).data(), 10 + k);
  });
  ContainerReader sound(whole);
  const std::vector<BlockInfo> blocks = sound.Index().Table().Blocks();
  ASSERT_EQ(blocks[19].name, kIndexBlockName);
  ASSERT_EQ(blocks[25].offset + blocks[25].storedSize, whole.size());
  const auto inside = [&](std::uint64_t b) { return blocks[b].offset + blocks[b].storedSize / 2; };
  const auto cutAt = [&](std::uint64_t length) {
    return Bytes(whole.begin(), whole.begin() + length);
  };
  const std::string end = std::to_string(whole.size());
  const std::uint64_t chainEnd = blocks[19].offset + blocks[19].storedSize;
  Bytes lying = whole;  // block 1 claims 4 GiB: the index block after it lies past the end
  SetU32At(lying, PrimaryRecordOffset(1) + 133, ~0u);
  const std::string lyingEnd = std::to_string(chainEnd - blocks[1].storedSize + ~0u);
  // the file, where its table ends as far as it is known, the first block past the end
  const std::tuple<Bytes, std::string, std::uint64_t> cases[] = {
      {cutAt(whole.size() - 1), end, 25},   // the last byte of the last block
      {cutAt(inside(24)), end, 24},         // inside the block before the last
      {cutAt(blocks[23].offset), end, 23},  // the last three blocks cut off whole
      {cutAt(inside(19)), std::to_string(chainEnd) + " or later", 19},  // inside the index block
      {cutAt(blocks[19].offset), std::to_string(chainEnd) + " or later", 19},
      {lying, lyingEnd + " or later", 1}};
  for (const auto& [bytes, tableEnd, first] : cases) {
    MemFile cut(bytes);
    const std::uint64_t length = bytes.size();
    RkFile refused, kept;
    refused.OpenFile(cut.Path(), "rb");
    EXPECT_EQ(Failure([&] { refused.ReadIndex(); }),
              "9 \"" + cut.Path() + "\" is cut short: its block table ends at byte " + tableEnd +
                  ", the file has " + std::to_string(length) + " bytes");
    kept.OpenFile(cut.Path(), "rb");
    kept.ReadIndex(OnCut::Keep);
    const std::optional<FileCut>& found = kept.Reader().Cut();
    ASSERT_TRUE(found) << length;
    EXPECT_EQ(std::make_pair(found->fileSize, found->firstBlockPast),
              std::make_pair(length, first));
    EXPECT_EQ(found->Describe(), "its block table ends at byte " + tableEnd + ", the file has " +
                                     std::to_string(length) + " bytes");
    // Blocks inside the file read; the first past its end is not read.
    Bytes head(10);
    kept.Reader().Get("S0", head.data(), 10);
    EXPECT_EQ(head, Bytes(10, 0));
    EXPECT_EQ(Failure([&] { kept.Reader().DescribeStream(blocks[first].name); }),
              "9 Unable to read from file");
  }
  for (const Bytes& bytes : {whole, Cat({whole, Bytes(5, 0xAB)})}) {
    ContainerReader reader(bytes);
    EXPECT_FALSE(reader.Index().Cut());
    EXPECT_EQ(reader.Get<std::uint8_t>("S0"), 0);
  }
}

}  // namespace
