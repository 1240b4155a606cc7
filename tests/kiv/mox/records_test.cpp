// Node and view point records: byte layouts, older versions, damaged records refused.
#include <bit>

#include <gtest/gtest.h>

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/global_info.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"
#include "support/container_helpers.hpp"
#include "support/mox_helpers.hpp"
#include "support/tree_description.hpp"

using namespace KivMox;
using namespace MoxTest;
using TestSupport::Cat;

namespace {

constexpr U32 kEnd = 0x5EA1ED00;  // put after a record: the reader must stop right before it
const std::string kViews = "View Points";

TEST(GroupRecord, LayoutAndEveryVersion) {
  Group g;
  std::tie(g.translation, g.rotation, g.scale, g.mergeRoot) = std::make_tuple(
      std::array<float, 3>{1.5f, -2.0f, 3.25f}, std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f},
      std::array<float, 3>{2, 3, 4}, 1);
  g.attributes["part"] = Attribute::MakeText("P-17");
  RecordFile file(
      [&](KivRkf::IndexWriter& index) { WriteGroup(g, index), index.Put(kLight, kEnd); });
  EXPECT_EQ(file.StreamBytes(kLight),
            BlockBytes(g.translation, g.rotation, g.scale, g.mergeRoot, kEnd));
  // Version (unknown or newer: the current), transforms, attributes, merge root flag.
  const std::tuple<const char*, bool, bool, bool> versions[] = {
      {"0.4", 1, 1, 1}, {"0.0a", 0, 0, 0}, {"0.1", 0, 0, 0}, {"0.2", 1, 0, 0},
      {"0.3", 1, 1, 0}, {"0.5", 1, 1, 1},  {"1.0", 1, 1, 1}, {"0.2 ", 1, 1, 1}};
  for (const auto& [version, transforms, attributes, mergeRoot] : versions) {
    RecordFile f([&](KivRkf::IndexWriter& index) {
      if (transforms) PutAll(index, kLight, g.translation, g.rotation, g.scale);
      if (attributes) WriteAttributeMap(index, kAttrs, g.attributes);
      if (mergeRoot) index.Put(kLight, g.mergeRoot);
      PutAll(index, kLight, kEnd), PutAll(index, kAttrs, kEnd);
    });
    Group r, d;
    ReadGroup(r, f.Index(), kLight, kAttrs, version);
    EXPECT_EQ(std::make_pair(f.Next(kLight), f.Next(kAttrs)), std::make_pair(kEnd, kEnd));
    const Group& t = transforms ? g : d;
    EXPECT_EQ(std::tie(r.translation, r.rotation, r.scale, r.attributes, r.mergeRoot),
              std::tie(t.translation, t.rotation, t.scale, (attributes ? g : d).attributes,
                       (mergeRoot ? g : d).mergeRoot))
        << version;
  }
}

// "0.3", 84 bytes framed. Older records keep defaults, a newer one's extra bytes are
// skipped; fourth floats of colors C and D are not read.
TEST(MaterialRecord, LayoutAndEveryVersion) {
  Material m;
  m.colorA = {0.1f, 0.2f, 0.3f, 0.4f};
  m.colorB = {0.5f, 0.6f, 0.7f, 0.8f};
  m.colorC = {0.9f, 1.0f, 1.1f, 9.0f};
  m.colorD = {1.2f, 1.3f, 1.4f, 9.5f};
  std::tie(m.valueE, m.valueF, m.flagG) = std::make_tuple(42.0f, 0.75f, U8{0});
  Shape s;
  s.material = m;
  const Material none;
  RecordFile file(
      [&](KivRkf::IndexWriter& index) { WriteShape(s, index), index.Put(kResources, kEnd); });
  EXPECT_EQ(file.StreamBytes(kResources),
            BlockBytes(U32{84}, std::string("0.3"), m.colorA, m.colorB, m.colorC, m.colorD,
                       m.valueE, m.valueF, m.flagG, kEnd));
  // Shape version, material record version ("": none).
  const std::pair<std::string, std::string> versions[] = {
      {"0.2", "0.3"}, {"0.2", "0.1"}, {"0.2", "0.2"}, {"0.1a", "0.4"}, {"0.0a", ""}, {"0.1", ""}};
  for (const auto& [shape, version] : versions) {
    RecordFile f([&](KivRkf::IndexWriter& index) {
      KivRkf::Block record;
      record.Put(U32{0});
      record.Put(version);
      for (const auto& color : {m.colorA, m.colorB, m.colorC, m.colorD}) record.Put(color);
      record.Put(m.valueE);
      if (version != "0.1") record.Put(m.valueF);
      if (version >= "0.3") record.Put(m.flagG);
      if (version == "0.4") record.Put(std::array<U8, 5>{1, 2, 3, 4, 5});
      const U32 size = record.Position();
      record.SetPosition(0u), record.Put(size);
      if (!version.empty()) index.Put(kResources, record.Data(), size);
      index.Put(kResources, kEnd);
    });
    Shape r;
    ReadShape(r, f.Index(), kResources, shape);
    EXPECT_EQ(f.Next(kResources), kEnd) << version;
    Material e = m;
    std::tie(e.colorC[3], e.colorD[3]) = std::make_pair(0.0f, 0.2f);
    std::tie(e.valueF, e.flagG) =
        std::make_pair(version == "0.1" ? 0.2f : 0.75f, U8(version < "0.3"));
    const Material& x = version.empty() ? none : e;
    const Material& y = r.material;
    EXPECT_EQ(std::tie(y.colorA, y.colorB, y.colorC, y.colorD, y.valueE, y.valueF, y.flagG),
              std::tie(x.colorA, x.colorB, x.colorC, x.colorD, x.valueE, x.valueF, x.flagG))
        << version;
  }
}

TEST(FutureNodeRecord, WrittenAsAZeroCountAndReadBySkippingTheCountedBytes) {
  RecordFile file([](KivRkf::IndexWriter& index) {
    WriteFutureNode(FutureNode{}, index);
    PutAll(index, kLight, U32{6}, std::vector<U8>{9, 9}, kEnd, U32{0xFFFFFFF0}, kEnd);
  });
  EXPECT_EQ(file.StreamBytes(kLight),
            BlockBytes(U32{0}, U32{6}, std::vector<U8>{9, 9}, kEnd, U32{0xFFFFFFF0}, kEnd));
  FutureNode n;
  ReadFutureNode(n, file.Index(), kLight);
  ReadFutureNode(n, file.Index(), kLight);  // 4 + 2 bytes
  EXPECT_EQ(file.Next(kLight), kEnd);
  EXPECT_EQ(Failure([&] { ReadFutureNode(n, file.Index(), kLight); }), 1);
}

struct Lists {
  std::vector<std::string> names;
  std::vector<U8> types;
  std::vector<U32> ints, floats;
  std::vector<std::uint64_t> values64;
  std::vector<std::string> texts;
};

int ReadLists(const Lists& l, AttributeMap& read, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::IndexWriter& index) {
    PutAll(index, kAttrs, l.names, l.types, l.ints, l.floats, l.values64, l.texts);
  });
  return Failure([&] { ReadAttributeMap(file.Index(), kAttrs, read); }, description);
}

// Six lists in key order; values taken in order from the list of their type.
TEST(AttributeRecord, LayoutAndValuesInTheOrderOfTheirTypeList) {
  AttributeMap map;
  map["b"] = Attribute::MakeInt(-2);
  map["a"] = Attribute::MakeText("xy");
  map["c"] = Attribute::MakeFloat(1.0f);
  map["d"] = Attribute::MakeValue64(0x0102030405060708ull);
  map["e"] = Attribute::MakeInt(7);
  RecordFile file([&](KivRkf::IndexWriter& index) {
    WriteAttributeMap(index, kAttrs, {}), WriteAttributeMap(index, kAttrs, map);
  });
  EXPECT_EQ(file.StreamBytes(kAttrs),
            BlockBytes(std::array<U32, 6>{}, std::vector<std::string>{"a", "b", "c", "d", "e"},
                       std::vector<U8>{2, 0, 1, 3, 0}, std::vector<std::int32_t>{-2, 7},
                       std::vector<float>{1.0f}, std::vector<std::uint64_t>{0x0102030405060708ull},
                       std::vector<std::string>{"xy"}));
  Lists l{{"a", "b", "c", "d", "t", "z"},
          {0, 1, 0, 1, 2, 2},
          {10, 20},
          {},
          {},
          {std::string(300, 'q'), std::string("ab\0cd", 5)}};
  l.floats = {std::bit_cast<U32>(1.5f), std::bit_cast<U32>(2.5f)};
  AttributeMap read;
  ASSERT_EQ(ReadLists(l, read), 0);
  // Texts are cut to 255 bytes, and at a zero byte.
  EXPECT_EQ(std::make_tuple(read["a"].int32, read["c"].int32, read["b"].float32, read["d"].float32,
                            read["t"].text, read["z"].text),
            std::make_tuple(10, 20, 1.5f, 2.5f, std::string(255, 'q'), std::string("ab")));
  EXPECT_EQ(Attribute::MakeText(std::string(256, 'r')), Attribute::MakeText(std::string(255, 'r')));
  EXPECT_FALSE(Attribute::MakeText("ab") == Attribute::MakeText("abc"));
}

// Names and types that disagree, missing or surplus values, unknown type codes: code 9.
TEST(AttributeRecord, DamagedListsAreAReadError) {
  const Lists damaged[] = {{{"a", "b"}, {0}, {1}, {}, {}, {}},
                           {{"a", "b", "c"}, {2, 2, 3}, {}, {}, {1}, {"only one"}},
                           {{"a"}, {1}, {}, {1, 2}, {}, {}},
                           {{"a", "b"}, {0, 7}, {1}, {}, {}, {}},
                           {{"a"}, {4}, {}, {}, {}, {}}};
  for (const Lists& l : damaged) {
    AttributeMap read;
    std::string description;
    EXPECT_EQ(ReadLists(l, read, &description), 9) << description;
    if (l.types.back() >= 4) {
      EXPECT_NE(description.find(std::to_string(l.types.back())), std::string::npos);
    }
  }
}

// A heavy record written by hand: two sets "ab" {(10,11)} and "cde" {(20,21), (30,31)}.
struct HeavyRecord {
  std::vector<U32> nameOffsets = {0, 2, 5};
  std::string names = "abcde";
  std::vector<U32> memberOffsets = {0, 1, 3};
  std::vector<U32> firsts = {10, 20, 30};
  std::vector<U32> seconds = {11, 21, 31};
};

int ReadHeavy(const HeavyRecord& h, U32 count, NodeSets& n, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::IndexWriter& index) {
    PutAll(index, kHeavy, h.nameOffsets, h.names, h.memberOffsets, h.firsts, h.seconds);
  });
  std::tie(n.count, n.heavySize, n.heavyPosition) = std::make_tuple(count, 1u, 0u);
  return Failure([&] { ReadNodeSetsHeavy(n, file.Index(), kHeavy); }, description);
}

TEST(NodeSetsRecord, Layouts) {
  NodeSets n, none;
  n.sets = {NodeSet{"left", {{1, 2}, {3, 4}}}, NodeSet{"", {}}, NodeSet{"right side", {{7, 8}}}};
  RecordFile file([&](KivRkf::IndexWriter& index) {
    index.Put(kHeavy, std::vector<U8>(37, 0xEE));  // earlier heavy data
    WriteNodeSetsHeavy(n, index, kHeavy);
    WriteNodeSetsLight(n, index, kLight);
    WriteNodeSetsHeavy(none, index, kHeavy);
  });
  EXPECT_EQ(file.StreamBytes(kLight), BlockBytes(U32{16}, U32{3}, std::uint64_t{41}, U32{90}));
  using V = std::vector<U32>;
  const Bytes heavy =
      BlockBytes(std::vector<U8>(37, 0xEE), V{0, 4, 4, 14}, std::string("leftright side"),
                 V{0, 2, 2, 3}, V{1, 3, 7}, V{2, 4, 8}, V{0}, std::string(), V{0}, V{}, V{});
  EXPECT_EQ(file.StreamBytes(kHeavy), heavy);
  EXPECT_EQ(
      std::make_tuple(n.count, n.heavyPosition, n.heavySize, none.heavyPosition, none.heavySize),
      std::make_tuple(3u, std::uint64_t{41}, 90u, std::uint64_t{131}, 28u));
  // A record of another payload size is skipped and leaves the node empty.
  RecordFile other([](KivRkf::IndexWriter& index) {
    PutAll(index, kLight, U32{20}, std::vector<U8>(4, 0xAB), ~std::uint64_t{0}, ~U32{0}, kEnd,
           U32{0x7FFFFFFF}, kEnd);
  });
  NodeSets r;
  ReadNodeSetsLight(r, other.Index(), kLight);
  EXPECT_EQ(std::tie(r.count, r.heavyPosition, r.heavySize),
            std::make_tuple(0u, std::uint64_t{0}, 0u));
  EXPECT_EQ(other.Next(kLight), kEnd);
  ReadNodeSetsHeavy(r, other.Index(), kHeavy);  // no heavy record: nothing to read
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(Failure([&] { ReadNodeSetsLight(r, other.Index(), kLight); }), 1);  // past the end
  // A record written by hand replaces the sets.
  r.sets.resize(5);
  ASSERT_EQ(ReadHeavy(HeavyRecord{}, 2, r), 0);
  std::vector<std::pair<std::string, std::vector<std::pair<U32, U32>>>> sets;
  for (const auto& set : r.sets) sets.emplace_back(set.name, set.members);
  EXPECT_EQ(sets, (decltype(sets){{"ab", {{10, 11}}}, {"cde", {{20, 21}, {30, 31}}}}));
}

// Offset lists of the wrong length (a huge count too), decreasing or beyond the names or
// members, fewer seconds than members. Empty lists are left as built.
TEST(NodeSetsRecord, DamagedOffsetListsAreOutOfBounds) {
  using V = std::vector<U32>;
  const std::tuple<U32, V, V, V> cases[] = {
      // count, name and member offsets, seconds
      {3, {}, {}, {}},        {1, {}, {}, {}},        {0xFFFFFFFFu, {}, {}, {}},
      {2, {}, {0, 1}, {}},    {2, {0, 4, 2}, {}, {}}, {2, {}, {0, 3, 1}, {}},
      {2, {0, 2, 6}, {}, {}}, {2, {}, {0, 1, 4}, {}}, {2, {}, {}, {11, 21}}};
  for (const auto& c : cases) {
    const auto& [count, names, members, seconds] = c;
    HeavyRecord h;
    if (!names.empty()) h.nameOffsets = names;
    if (!members.empty()) h.memberOffsets = members;
    if (!seconds.empty()) h.seconds = seconds;
    NodeSets n;
    std::string description;
    EXPECT_EQ(std::make_pair(ReadHeavy(h, count, n, &description), description),
              std::make_pair(1, std::string("Out of Bounds")))
        << &c - cases;
  }
}

template <class A>
Bytes Written(const A& record) {
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, record);
  return Bytes(b.Data(), b.Data() + b.Size());
}

// The parts one after another, in the frame of a record of version "0.1".
Bytes Framed01(std::initializer_list<Bytes> parts) {
  const Bytes payload = Cat(parts);
  return Cat({BlockBytes(U32(4 + 7 + payload.size()), std::string("0.1")), payload});
}

// Seven texts; the flag that asks for machine details is not stored.
TEST(GlobalInfoRecord, Layout) {
  const GlobalInfoRecord r{true, "app", "2.0", "1.3", "Mon", "host", "me", "call", "0.1"};
  const auto text = [](const char* t) { return BlockBytes(std::string(t)); };
  EXPECT_EQ(Written(r), Framed01({text("app"), text("2.0"), text("1.3"), text("Mon"), text("host"),
                                  text("me"), text("call")}));
}

std::string ActionsText(const ActionCollection& c) {
  FuzzDescription::Writer w;
  for (const auto& a : c.actions) FuzzDescription::Action(w, *a);
  return w.Text();
}

TEST(ActionsRecord, Layouts) {
  const std::string v01 = "0.1";
  // Move and rotate differ only in their type code, so do view point and audio actions.
  RotateAction rotate;
  MoveAction move;
  std::tie(rotate.vector, rotate.amount) = std::make_pair(std::array<float, 3>{1, 2, 3}, 4.0f);
  std::tie(move.vector, move.amount) = std::tie(rotate.vector, rotate.amount);
  ApplyViewPointAction view;
  PlayAudioAction audio;
  view.text = audio.text = "x";
  EXPECT_EQ((std::vector<Bytes>{Written(ActionCollection{}), Written(rotate), Written(move),
                                Written(view), Written(audio)}),
            (std::vector<Bytes>{BlockBytes(U32{27}, v01, U32{0}, U32{0}, U32{0}, U32{0}),
                                BlockBytes(U32{27}, v01, rotate.vector, 4.0f), Written(rotate),
                                BlockBytes(U32{16}, v01, std::string("x")), Written(view)}));
  // Entries (each with its state record), keyed triples, text, type codes, the actions.
  ActionCollection c;
  const std::array<U32, 12> second = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
  c.entries.push_back({"e", "f", {1, 2, 3}, {4}, {{8}, second, 5, 6, 7}});
  c.keyedTriples["k"] = {ActionTriple{{10, 11, 12}}};
  c.text = "t";
  auto transform = std::make_unique<TransformAction>();
  std::tie(transform->translation, transform->rotation) =
      std::make_pair(std::array<float, 3>{1, 2, 3}, std::array<float, 4>{4, 5, 6, 7});
  auto color = std::make_unique<ApplyColorAction>();
  color->values = {13, 14};
  c.actions.push_back(std::move(transform));
  c.actions.push_back(std::move(color));
  const Bytes state = Framed01({BlockBytes(std::array<U32, 9>{8}, second, 5u, U8{6}, 7u)});
  const Bytes entry = Framed01({BlockBytes(std::string("e"), std::string("f"),
                                           std::array<U8, 3>{1, 2, 3}, std::vector<U32>{4}),
                                state});
  const Bytes triple = Framed01({BlockBytes(std::array<U32, 3>{10, 11, 12})});
  EXPECT_EQ(Written(c),
            Framed01({BlockBytes(U32{1}), entry, BlockBytes(U32{1}, std::string("k"), U32{1}),
                      triple, BlockBytes(std::string("t"), std::vector<std::uint16_t>{2, 3}),
                      Framed01({BlockBytes(std::array<float, 7>{1, 2, 3, 4, 5, 6, 7})}),
                      Framed01({BlockBytes(std::vector<U32>{13, 14})})}));
}

// Type codes 1, 7, 4: the unknown code 7's "0.3" record is skipped by its size.
TEST(ActionsRecord, UnknownTypeCodeIsSkippedWithItsRecord) {
  MoveAction move;
  move.amount = 2.5f;
  ApplyViewPointAction view;
  view.text = "after";
  const Bytes unknown =
      BlockBytes(U32{4 + 7 + 10}, std::string("0.3"), std::array<U8, 10>{1, 2, 3});
  const Bytes all =
      Cat({BlockBytes(U32{0}, U32{0}, std::string("t"), std::vector<std::uint16_t>{1, 7, 4}),
           Written(move), unknown, Written(view)});
  RecordFile file([&](KivRkf::IndexWriter& index) {
    PutAll(index, kViews, U32(4 + 7 + all.size()), std::string("0.1"));
    index.Put(kViews, all.data(), U32(all.size()));
    index.Put(kViews, kEnd);
  });
  ActionCollection r, expected;
  file.Index().Get(kViews, r);
  expected.actions.push_back(std::make_unique<MoveAction>(move));
  expected.actions.push_back(std::make_unique<ApplyViewPointAction>(view));
  EXPECT_EQ(std::make_pair(ActionsText(r), r.text),
            std::make_pair(ActionsText(expected), std::string("t")));
  EXPECT_EQ(file.Next(kViews), kEnd);
}

// A hostile code count, codes without room for their records.
TEST(ActionsRecord, DamagedRecordsFail) {
  const std::string v01 = "0.1";
  for (const Bytes& bytes :
       {BlockBytes(U32{4 + 7 + 16}, v01, U32{0}, U32{0}, U32{0}, U32{0x40000000}),
        BlockBytes(U32{4 + 7 + 12 + 4 + 6 + 4}, v01, U32{0}, U32{0}, U32{0},
                   std::vector<std::uint16_t>{1, 1, 1}, U32{0})}) {
    RecordFile file(
        [&](KivRkf::IndexWriter& index) { index.Put(kViews, bytes.data(), U32(bytes.size())); });
    ActionCollection r;
    EXPECT_EQ(Failure([&] { file.Index().Get(kViews, r); }), 1);
    EXPECT_TRUE(r.actions.empty());
  }
}

// A new view point entry (the stored defaults), and one of distinct values.
TEST(ViewPointEntry, Layouts) {
  std::array<float, 16> ones, counted;
  ones.fill(1.0f);
  for (int i = 0; i < 16; ++i) counted[i] = float(i);
  ViewPointEntry set;
  set.flag = 7, set.name = "top", set.fieldOfView = 0.5f, set.aspect = 2.0f, set.matrix = counted;
  std::tie(set.valuesA, set.valuesB, set.valuesC, set.valuesD, set.valuesE) = std::make_tuple(
      std::array<U32, 3>{1, 2, 3}, std::array<U32, 4>{4, 5, 6, 7}, std::array<U32, 3>{8, 9, 10},
      std::array<U32, 3>{11, 12, 13}, std::array<U32, 4>{14, 15, 16, 17});
  std::tie(set.nearValue, set.farValue) = std::make_pair(0.25f, 50.0f);
  set.viewPoint = RawFrame::WithPayload("0.5", {1, 2});
  const std::pair<ViewPointEntry, Bytes> cases[] = {
      {ViewPointEntry{}, BlockBytes(std::string("no name"), std::array<U32, 10>{}, 0.785f, 0.75f,
                                    ones, 1.0f, 100.0f, std::array<U32, 7>{})},
      {set,
       BlockBytes(std::string("top"), std::array<U32, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.5f,
                  2.0f, counted, 0.25f, 50.0f, std::array<U32, 7>{11, 12, 13, 14, 15, 16, 17})}};
  for (const auto& [entry, fields] : cases) {
    // The "0.2" group's flag is stored last.
    const Bytes payload = Cat({fields, entry.viewPoint.bytes, Bytes{entry.flag}});
    EXPECT_EQ(Written(entry),
              Cat({BlockBytes(U32(4 + 7 + payload.size()), std::string("0.2")), payload}));
  }
}

// View point entries: the nested frame is delimited by its size and version string.
TEST(ViewPointFrame, ReadsBackAndDamagedFramesAreRefused) {
  const RawFrame frame = RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});  // 16 bytes
  const std::tuple<const char*, U32, U32, int> cases[] = {
      // what, field (0: the frame's size, 4: its version length), value, code
      {"sound", 0, 16, 0},
      {"version past the frame, inside the block", 4, 122, 2},
      {"version past the block", 4, 255, 1},
      {"version length far past the block", 4, 9699331, 1},
      {"version length near 2^32", 4, 4278190083u, 1},
      {"size below the size field and version", 0, 10, 2},
      {"size below the size field and an empty version", 0, 7, 2},
      {"frame past its entry, inside the block", 0, 40, 2},
      {"frame past the block", 0, 400, 1}};
  for (const auto& [what, field, value, code] : cases) {
    // One entry with the frame, followed by 200 bytes that belong to later records.
    KivRkf::Block block;
    ViewPointEntry entry;
    entry.viewPoint = frame;
    block.Put(entry);
    const U32 end = block.Position();
    block.Put(std::array<U8, 200>{});
    std::memcpy(block.Data() + end - 1 - frame.bytes.size() + field, &value, 4);
    block.SetPosition(0u);
    EXPECT_EQ(Failure([&] { block.Get(entry); }), code) << what;
    if (code == 0) {
      EXPECT_EQ(std::make_pair(entry.viewPoint, block.Position()), std::make_pair(frame, end));
    }
  }
}

}  // namespace
