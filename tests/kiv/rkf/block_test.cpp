// Blocks: growth, bounds, typed layouts, zlib framing, versioned record frames.
#include <gtest/gtest.h>

#include "kiv/rkf/block_read.hpp"
#include "kiv/rkf/versioned.hpp"
#include "support/container_helpers.hpp"

namespace {

using Groups = std::array<std::uint8_t, 8>;

// A record of N groups of one byte each; its version is written, not read back.
template <int N>
struct Rec {
  std::string version = "0.3";
  Groups g = {};
  bool operator==(const Rec&) const = default;
};

}  // namespace

template <int N>
struct KivRkf::VersionedRecord<Rec<N>> {
  static std::string Version(const Rec<N>& r) { return r.version; }
  static constexpr int kGroups = N;
  template <class Io, class R>
  static void Fields(Io& io, R& r, int group) {
    io(r.g[group - 1]);
  }
};

namespace {

using namespace KivRkf;
using namespace TestSupport;
using Strings = std::vector<std::string>;
using Map = std::map<std::string, std::uint8_t>;
using Sizes = std::vector<std::uint64_t>;

// Read as strtoul reads it when a Put grows the buffer; text without digits sets 0.
TEST(Block, GrowthAndBounds) {
  const std::uint32_t k = 10485760;
  const std::tuple<const char*, Sizes, Sizes, std::uint32_t> cases[] = {
      // variable, puts, capacities after each, quantum afterwards
      {nullptr, {1}, {k}, k},      {"4096", {4096, 1, 10000}, {4096, 8192, 18192}, 4096},
      {"many", {5, 3}, {5, 8}, 0}, {"100", {60, 40}, {100, 200}, 100},
      {"4294967295", {1}, {k}, k}, {"99999999999", {1}, {k}, k},
      {"  +64kB", {1}, {64}, 64},  {"18446744073709551617", {1}, {k}, k}};
  for (const auto& [text, puts, capacities, quantum] : cases) {
    Block::SetDefaultBlockSize(k);
    EnvGuard env("KORVANE_DEFAULT_MOX_BLOCK_SIZE", text);
    Block b;
    Sizes got;
    for (std::uint64_t n : puts) got.push_back((b.Put(Bytes(n).data(), n), b.Capacity()));
    EXPECT_EQ(std::make_pair(got, Block::DefaultBlockSize()), std::make_pair(capacities, quantum));
  }
  Block::SetDefaultBlockSize(k);
  // Past the end, reads and positions fail, leaving block and value; counts before allocating.
  Block b = BlockOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  b.SetPosition(7u);
  std::uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(Failure([&] { b.Get(out, 4); }), "1 Not enough bytes in the block");
  EXPECT_EQ(CodeOf([&] { b.Get(out, 0xFFFFFFFFu); }), 1);  // no wrap-around
  b.Get(out, 3);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{7, 8, 9, 9}));
  EXPECT_EQ(Failure([&] { b.SetPosition(11u); }), "1 Invalid block position");
  EXPECT_EQ(CodeOf([&] { b.SetPosition((std::uint64_t(1) << 32) + 3); }), 1);  // all 64 bits
  b.SetPosition(std::uint64_t(2));
  b.Put(std::uint16_t(0xBBAA));  // below the size: overwritten in place
  EXPECT_EQ(BytesOf(b), (Bytes{0, 1, 0xAA, 0xBB, 4, 5, 6, 7, 8, 9}));
  const Bytes huge{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  auto fails = [](const Bytes& bytes, auto value) {
    Block b = BlockOf(bytes);
    const auto before = value;
    return CodeOf([&] { b.Get(value); }) == 1 && value == before;
  };
  EXPECT_TRUE(fails(huge, std::string("kept")) && fails(huge, std::vector<std::uint32_t>{}) &&
              fails(huge, Map{}) && fails({2, 0, 0, 0, 0, 0, 0, 0}, Strings{}) &&
              fails({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8}, std::vector<Rec<3>>(2)));
  Block cut = BlockOf({2, 0, 0, 0, 1, 0, 0, 0, 'x', 5, 0, 0, 0, 'y'});
  Strings v{"old"};
  EXPECT_EQ(CodeOf([&] { cut.Get(v); }), 1);
  EXPECT_EQ(v, (Strings{"x", ""}));  // an element cut by the end keeps the new length
}

template <class T>
Bytes Encode(const T& value) {
  Block b;
  b.Put(value);
  return BytesOf(b);
}

template <class T>
T Decode(const Bytes& bytes, T value = T{}) {
  Block b = BlockOf(bytes);
  b.Get(value);
  EXPECT_EQ(b.Position(), b.Size());
  return value;
}

TEST(Encoding, LayoutsAndReadingBack) {
  EXPECT_EQ(Encode(1.0f), (Bytes{0x00, 0x00, 0x80, 0x3F}));
  EXPECT_EQ(Encode(std::int16_t(-2)), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Encode(std::uint64_t(0x0102030405060708)), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Encode(std::array<std::int32_t, 2>{1, -1}), (Bytes{1, 0, 0, 0, 255, 255, 255, 255}));
  EXPECT_EQ(Encode(std::wstring(L"\u00E9")), (Bytes{2, 0, 0, 0, 0xC3, 0xA9}));
  EXPECT_EQ(Encode(std::make_pair(true, 7u)), (Bytes{1, 7, 0, 0, 0}));
  EXPECT_EQ(Encode(Strings{"x", ""}), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 'x', 0, 0, 0, 0}));
  EXPECT_EQ(Encode(Map{{"b", 2}, {"a", 1}}),
            (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 1, 0, 0, 0, 'b', 2}));
  for (wchar_t c : {0xD800, 0xDFFF, 0x110000})  // no UTF-8 form: written empty
    EXPECT_EQ(WideToUtf8(L"a" + std::wstring(1, c)), "") << int(c);
  EXPECT_EQ(Decode<std::string>({0, 0, 0, 0}, "kept"), "kept");    // a count of 0 leaves it
  EXPECT_EQ(Decode<std::string>({3, 0, 0, 0, 'a', 0, 'b'}), "a");  // cut at NUL, all bytes read
  const std::wstring mixed = L"a\u20AC\U0001F600z";
  EXPECT_EQ(Decode<std::wstring>(Encode(mixed)), mixed);
  for (const Bytes& bad : {Bytes{2, 0, 0, 0, 0xC3, 0x41}, Bytes{1, 0, 0, 0, 0xE2},
                           Bytes{2, 0, 0, 0, 0xC0, 0xAF}, Bytes{3, 0, 0, 0, 0xED, 0xA0, 0x80}})
    EXPECT_EQ(Decode<std::wstring>(bad, L"old"), L"") << testing::PrintToString(bad);
  // A map replaces the old content; a repeated key keeps the later value.
  const Bytes twice = {2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 1, 0, 0, 0, 'a', 5};
  EXPECT_EQ(Decode<Map>(twice, {{"z", 9}}), (Map{{"a", 5}}));
}

Bytes Inflated(const Bytes& framed) {
  Block b = BlockOf(framed);
  BlockZlibUnCompressor()(b);
  EXPECT_EQ(b.Position(), b.Size());
  return BytesOf(b);
}

TEST(Zlib, Framing) {
  const Bytes zeros = Zlib(Bytes(1000, 0)), empty = Zlib({});
  EXPECT_EQ(Bytes(zeros.begin(), zeros.begin() + 6), (Bytes{0xE8, 0x03, 0, 0, 0x78, 0x9C}));
  EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 6), (Bytes{0, 0, 0, 0, 0x78, 0x9C}));
  EXPECT_EQ(std::make_pair(Inflated(zeros), Inflated(empty)),
            std::make_pair(Bytes(1000, 0), Bytes{}));
  // Damage fails and leaves the block: checksum, stream, cut, lengths absurd or too small.
  auto flip = [](Bytes b, std::size_t at, std::uint8_t x) { return b[at] ^= x, b; };
  for (const Bytes& framed :
       {flip(zeros, zeros.size() - 1, 1), flip(zeros, 8, 0xFF),
        Bytes(zeros.begin(), zeros.end() - 9), Bytes{}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
    Block b = BlockOf(framed);
    EXPECT_EQ(Failure([&] { BlockZlibUnCompressor()(b); }), "9 Unable to decompress block")
        << framed.size();
    EXPECT_EQ(BytesOf(b), framed);
  }
  std::string lengths;  // at most 1032 bytes per stored byte after the field, plus 1024
  for (const auto& [length, stored] : std::vector<std::pair<std::uint32_t, std::uint64_t>>{
           {0, 3}, {1024, 4}, {1025, 4}, {2056, 5}, {2057, 5}}) {
    Bytes field(4);
    SetU32At(field, 0, length);
    const std::optional<std::uint32_t> framed = FramedLength(field.data(), stored);
    lengths += framed ? std::to_string(*framed) + " " : "- ";
  }
  EXPECT_EQ(lengths, "- 1024 - 2056 - ");
}

// How every reader finds a framing: one table, the loader's answer beside it (a shorter
// stream is taken as it is, anything else refused), and the reader of stored blocks.
TEST(ZlibTransform, FramingStatesAndTheirWords) {
  Bytes raw(3000);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t(i * 13 / 7);
  const Bytes exact = Zlib(raw);
  const auto declaring = [&](std::int64_t delta) {
    Bytes b = exact;
    SetU32At(b, 0, std::uint32_t(std::int64_t(raw.size()) + delta));
    return b;
  };
  Bytes damaged = exact;
  damaged[exact.size() / 2] ^= 0x40;
  using State = Framing::State;
  const struct {
    const char* name;
    Bytes framing;
    State state;
    std::string described;
    std::uint32_t loaded;  // the loader's length, 0 when it refuses
  } rows[] = {
      {"exact", exact, State::Exact, "the block inflates as declared", 3000},
      {"four more declared", declaring(4), State::Shorter,
       "the length field declares 3004 bytes, the zlib stream gives 3000", 3000},
      {"one less declared", declaring(-1), State::Longer,
       "the length field declares 2999 bytes, the zlib stream gives 3000", 0},
      {"a flipped byte", damaged, State::Damaged,
       "the zlib stream is damaged (its data or its checksum)", 0},
      {"three bytes", Bytes{3, 0, 0}, State::TooShort,
       "the block is too short for its length field", 0},
      {"an impossible length", declaring(1 << 30), State::Impossible,
       "the length field declares more bytes than the stored bytes can inflate to", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes out(row.framing.size() >= 4
                  ? FramedLength(row.framing.data(), row.framing.size()).value_or(0)
                  : 0);
    const Framing f = InflateFraming(row.framing.data(), row.framing.size(), out.data(), true);
    EXPECT_EQ(f.state, row.state);
    EXPECT_EQ(f.Describe(), row.described);
    Block b = BlockOf(row.framing);
    if (row.loaded) {
      BlockZlibUnCompressor inflate;
      inflate(b);
      EXPECT_EQ(std::pair(b.Size(), inflate.Last().state), std::pair(row.loaded, row.state));
      EXPECT_TRUE(Bytes(b.Data(), b.Data() + b.Size()) == raw);
    } else {
      EXPECT_EQ(Failure([&] { BlockZlibUnCompressor()(b); }), "9 Unable to decompress block");
      EXPECT_EQ(BytesOf(b), row.framing);  // left as it was
    }
    // The same framing read back from a file by the reader of stored blocks.
    const MemFile file(Cat({Bytes(5, 0xEE), row.framing}));
    BlockReader reader(file.fd, 5 + row.framing.size());
    const BlockRead read = reader.Read(5, std::uint32_t(row.framing.size()), true, true);
    EXPECT_EQ(std::tuple(read.framing.state, read.Problem(), read.length),
              std::tuple(row.state, row.state == State::Exact ? std::string() : row.described,
                         row.loaded));
  }
  // A stored block: its bytes as they are; one reaching past the file's end is not read.
  const MemFile file(Bytes{1, 2, 3, 4, 5, 6});
  BlockReader reader(file.fd, 6);
  const BlockRead stored = reader.Read(2, 4, false);
  EXPECT_TRUE(stored.Exact() &&
              Bytes(stored.raw, stored.raw + stored.length) == (Bytes{3, 4, 5, 6}));
  const BlockRead past = reader.Read(3, 4, false);
  EXPECT_TRUE(past.pastEnd && !past.raw);
  EXPECT_EQ(past.Problem(),
            "its 4 stored bytes at offset 3 run past the end of the file (6 bytes)");
}

// A frame by hand between the bytes 0x77 and 0x99: size (by default the true one), version.
Bytes Frame(const std::string& version, const Bytes& payload, bool sized = true,
            std::int64_t size = -1) {
  Block b;
  b.Put(std::uint8_t{0x77});
  if (sized) b.Put(std::uint32_t(size >= 0 ? size : 8 + version.size() + payload.size()));
  b.Put(version), b.Put(payload.data(), std::uint32_t(payload.size())), b.Put(std::uint8_t{0x99});
  return BytesOf(b);
}

// The groups of the record of N groups one byte into bytes, read as the records of a
// container of the version, and where the reader stopped.
template <int N>
std::pair<Groups, std::uint32_t> Read(const Bytes& bytes, const std::string& container) {
  Block b = BlockOf(bytes);
  b.SetPosition(1u);
  Rec<N> record;
  CopyFromBlock_Versioned(b, record, SizeFieldOf(container));
  return {record.g, b.Position()};
}

// Size (from the record's start), version, the groups of its version; legacy ones too.
TEST(Versioned, WritingAndReading) {
  auto written = [](auto record) {
    Block b;
    b.Put(std::uint8_t{0x77}), CopyToBlock_Versioned(b, record), b.Put(std::uint8_t{0x99});
    return BytesOf(b);
  };
  const Bytes three = {0x77, 14, 0, 0, 0, 3, 0, 0, 0, '0', '.', '3', 11, 22, 33, 0x99};
  EXPECT_EQ(written(Rec<3>{"0.3", {11, 22, 33}}), three);
  EXPECT_EQ(written(Rec<3>{"0.1", {11, 22, 33}}), Frame("0.1", {11}));
  EXPECT_EQ(written(Rec<8>{"0.8", {1, 2, 3, 4, 5, 6, 7, 8}}),
            Frame("0.8", {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Decode<std::vector<Rec<3>>>(
                Encode(std::vector<Rec<3>>{{"0.3", {1, 2, 3}}, {"0.2", {4, 5, 6}}})),
            (std::vector<Rec<3>>{{"0.3", {1, 2, 3}}, {"0.3", {4, 5}}}));  // each by its version
  // Groups up to the stored version (an unknown one reads all), then on to the end the size
  // gives; legacy containers have no size. Damaged sizes fail with code 2 or 1 (beyond).
  std::vector<std::tuple<const char*, Bytes, int, Groups>> cases = {
      // record groups, or minus the failure code
      {"1.3", Frame("0.3", {1, 2, 3}), 3, {1, 2, 3}},
      {"1.3", Frame("0.1", {5}), 3, {5}},
      {"1.3", Frame("0.9", {5, 6, 7, 0xA1, 0xA2}), 3, {5, 6, 7}},
      {"1.3", Frame("0.1a", {5, 6, 7}), 3, {5, 6, 7}},
      {"0.3", Frame("0.1", {5, 0xEE}), 3, {5}},
      {"1.3", Frame("0.3", {5, 6, 7}, true, 4 + 7 + 2), -2, {}},
      {"1.3", Frame("0.3", {5, 6, 7}, true, 1000), -1, {}},
      {"0.2", Frame("0.3", {5}, false), -1, {}},
      {"1.3", Frame("0.6", {1, 2, 3, 4, 5, 6}), 8, {1, 2, 3, 4, 5, 6}},
      {"1.3", Frame("0.8", {1, 2, 3, 4, 5, 6, 7, 8}), 8, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"1.3", Frame("1.0", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 8, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const char* legacy : {"0.1", "0.1a", "0.1b", "0.2"})
    cases.push_back({legacy, Frame("0.2", {5, 6}, false), 3, {5, 6}});
  for (const char* other : {"0.1c", "0.20", "", "0.1 "})  // not legacy: a size is read
    cases.push_back({other, Frame("0.2", {5, 6}, false), -2, {}});
  for (std::uint8_t size : {0, 1, 4, 7})
    cases.push_back({"1.3", Frame("0.1", {5}, true, size), -2, {}});
  for (const auto& [container, bytes, n, groups] : cases) {
    const std::string what = testing::PrintToString(bytes) + " in " + container;
    if (n < 0) {
      EXPECT_EQ(CodeOf([&] { Read<3>(bytes, container); }), -n) << what;
    } else {
      const auto read = n == 3 ? Read<3>(bytes, container) : Read<8>(bytes, container);
      EXPECT_EQ(read, std::make_pair(groups, std::uint32_t(bytes.size() - 1))) << what;
    }
  }
}

}  // namespace
