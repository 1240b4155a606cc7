// Node and view point records through real containers: byte layouts, round trips, every
// older version the readers accept, and damaged records refused.
#include <bit>
#include <optional>

#include <gtest/gtest.h>

#include "../../../fuzz/tree_description.hpp"
#include "kiv/mox/actions.hpp"
#include "kiv/mox/attribute.hpp"
#include "kiv/mox/future_node.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/material.hpp"
#include "kiv/mox/node_kinds.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/view_points.hpp"
#include "mox_helpers.hpp"

using namespace KivMox;
using namespace MoxTest;
using U8 = std::uint8_t;
using U32 = std::uint32_t;

namespace {

constexpr U32 kEnd = 0x5EA1ED00;  // put after a record: the reader must stop right before it
const std::string kViews = "View Points";

// The code of the failure of fn (0 without one) and its description.
int Failure(const std::function<void()>& fn, std::string* description = nullptr) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  }
  return 0;
}

Group SampleGroup() {
  Group g;
  g.translation = {1.5f, -2.0f, 3.25f};
  g.rotation = {0.5f, 0.5f, 0.5f, 0.5f};
  g.scale = {2, 3, 4};
  g.attributes["part"] = Attribute::MakeText("P-17");
  g.attributes["mass"] = Attribute::MakeFloat(12.5f);
  g.mergeRoot = 1;
  return g;
}

TEST(GroupRecord, LayoutAndEveryVersion) {
  const Group g = SampleGroup();
  RecordFile file(
      [&](KivRkf::Index& index) {
        WriteGroup(g, index);
        PutAll(index, kLight, kEnd);
      },
      true);
  EXPECT_EQ(file.StreamBytes(kLight),
            BlockBytes(g.translation, g.rotation, g.scale, g.mergeRoot, kEnd));
  // Each version in its own layout (an unknown or newer one as the current).
  struct Case {
    const char* version;
    bool transforms, attributes, mergeRoot;
  };
  for (const Case& c : {Case{"0.4", true, true, true}, Case{"0.0a", false, false, false},
                        Case{"0.1", false, false, false}, Case{"0.2", true, false, false},
                        Case{"0.3", true, true, false}, Case{"0.5", true, true, true},
                        Case{"1.0", true, true, true}, Case{"0.2 ", true, true, true}}) {
    RecordFile f([&](KivRkf::Index& index) {
      if (c.transforms) PutAll(index, kLight, g.translation, g.rotation, g.scale);
      if (c.attributes) WriteAttributeMap(index, kAttrs, g.attributes);
      if (c.mergeRoot) index.Put(kLight, g.mergeRoot);
      PutAll(index, kLight, kEnd);
      PutAll(index, kAttrs, kEnd);
    });
    Group r, d;
    ReadGroup(r, f.Index(), kLight, kAttrs, c.version);
    EXPECT_EQ(f.Next(kLight), kEnd) << c.version;
    EXPECT_EQ(f.Next(kAttrs), kEnd) << c.version;
    const Group& t = c.transforms ? g : d;
    EXPECT_EQ(std::tie(r.translation, r.rotation, r.scale),
              std::tie(t.translation, t.rotation, t.scale))
        << c.version;
    EXPECT_EQ(r.attributes, c.attributes ? g.attributes : d.attributes) << c.version;
    EXPECT_EQ(r.mergeRoot, c.mergeRoot ? 1 : 0) << c.version;
  }
  RecordFile cut([](KivRkf::Index& index) {
    index.Put(kLight, std::array<float, 3>{1, 2, 3});
    WriteAttributeMap(index, kAttrs, {});
  });
  Group r;
  EXPECT_EQ(CodeOf([&] { ReadGroup(r, cut.Index(), kLight, kAttrs, "0.4"); }), 1);
}

Material SampleMaterial() {
  Material m;
  m.colorA = {0.1f, 0.2f, 0.3f, 0.4f};
  m.colorB = {0.5f, 0.6f, 0.7f, 0.8f};
  m.colorC = {0.9f, 1.0f, 1.1f, 9.0f};
  m.colorD = {1.2f, 1.3f, 1.4f, 9.5f};
  m.valueE = 42.0f;
  m.valueF = 0.75f;
  m.flagG = 0;
  return m;
}

// Colors A and B and value E as written; the fourth floats of C and D are not read.
void ExpectGroupOne(const Material& r) {
  const Material w = SampleMaterial();
  EXPECT_EQ(std::tie(r.colorA, r.colorB, r.valueE), std::tie(w.colorA, w.colorB, w.valueE));
  EXPECT_EQ(r.colorC, (std::array<float, 4>{0.9f, 1.0f, 1.1f, 0.0f}));
  EXPECT_EQ(r.colorD, (std::array<float, 4>{1.2f, 1.3f, 1.4f, 0.2f}));
}

TEST(MaterialRecord, ShapeWritesAnEightyFourByteRecordThatReadsBack) {
  Shape s;
  s.material = SampleMaterial();
  RecordFile file(
      [&](KivRkf::Index& index) {
        WriteShape(s, index);
        PutAll(index, kResources, kEnd);
      },
      true);
  const Material& m = s.material;
  EXPECT_EQ(file.StreamBytes(kResources),
            BlockBytes(U32{84}, std::string("0.3"), m.colorA, m.colorB, m.colorC, m.colorD,
                       m.valueE, m.valueF, m.flagG, kEnd));
  EXPECT_TRUE(file.StreamBytes(kLight).empty());
  Shape r;
  ReadShape(r, file.Index(), kResources, "0.2");
  ExpectGroupOne(r.material);
  EXPECT_EQ(std::make_pair(r.material.valueF, int(r.material.flagG)), std::make_pair(0.75f, 0));
  EXPECT_EQ(file.Next(kResources), kEnd);
}

// Older records (with or, in a legacy container, without a size) and a newer one with
// five more bytes: what is missing keeps its default, what is extra is skipped. A size
// shorter than the first group is an unknown version.
TEST(MaterialRecord, OlderNewerUnsizedAndShortRecords) {
  struct Case {
    std::string version;
    bool sized;
    float valueF;
  };
  for (const Case& c : {Case{"0.1", true, 0.2f}, Case{"0.2", true, 0.75f},
                        Case{"0.2", false, 0.75f}, Case{"0.4", true, 0.75f}}) {
    SCOPED_TRACE(c.version + (c.sized ? " sized" : " unsized"));
    RecordFile file([&](KivRkf::Index& index) {
      KivRkf::Block record;
      const Material m = SampleMaterial();
      if (c.sized) record.Put(U32{0});
      record.Put(c.version);
      for (const auto& color : {m.colorA, m.colorB, m.colorC, m.colorD}) record.Put(color);
      record.Put(m.valueE);
      if (c.version != "0.1") record.Put(m.valueF);
      if (c.version == "0.4") record.Put(std::array<U8, 6>{0, 1, 2, 3, 4, 5});  // G and 5 more
      const U32 size = record.Position();
      if (c.sized) {
        record.SetPosition(0u);
        record.Put(size);
      }
      index.Put(kResources, record.Data(), size);
      index.Put(kResources, kEnd);
    });
    std::optional<KivRkf::ScopedContainerVersion> legacy;
    if (!c.sized) legacy.emplace("0.1b");
    Material r;
    file.Index().Get(kResources, r);
    ExpectGroupOne(r);
    EXPECT_EQ(std::make_pair(r.valueF, int(r.flagG)),
              std::make_pair(c.valueF, c.version == "0.4" ? 0 : 1));
    EXPECT_EQ(file.Next(kResources), kEnd);
  }
  RecordFile shortSize([&](KivRkf::Index& index) {
    KivRkf::Block record;
    KivRkf::CopyToBlock_Versioned(record, SampleMaterial());
    record.SetPosition(0u);
    record.Put(U32{80});
    index.Put(kResources, record.Data(), record.Size());
  });
  Material r;
  EXPECT_EQ(CodeOf([&] { shortSize.Index().Get(kResources, r); }), 2);
}

// Shapes of "0.0a" and "0.1" have no material record and keep the default material.
TEST(MaterialRecord, OnlyOldShapesHaveNoMaterialRecord) {
  for (std::string version : {"0.0a", "0.1", "0.2", "0.3", "0.1a"}) {
    const bool old = version == "0.0a" || version == "0.1";
    RecordFile file([&](KivRkf::Index& index) {
      if (!old) index.Put(kResources, SampleMaterial());
      index.Put(kResources, kEnd);
    });
    Shape r;
    ReadShape(r, file.Index(), kResources, version);
    EXPECT_EQ(file.Next(kResources), kEnd) << version;
    const Material& m = r.material;
    EXPECT_EQ(m.valueE, old ? 0.0f : 42.0f) << version;
    if (!old) continue;
    EXPECT_EQ(std::tie(m.colorA, m.colorB, m.colorC),
              std::make_tuple(std::array<float, 4>{0.8f, 0.8f, 0.8f, 1.0f},
                              std::array<float, 4>{0, 0, 0, 1.0f}, std::array<float, 4>{}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m.colorD[i], 0.2f * m.colorA[i]);
    EXPECT_EQ(std::make_pair(m.valueF, int(m.flagG)), std::make_pair(0.2f, 1));
  }
}

TEST(FutureNodeRecord, WrittenAsAZeroCountAndReadBySkippingTheCountedBytes) {
  RecordFile file([](KivRkf::Index& index) {
    WriteFutureNode(FutureNode{}, index);
    PutAll(index, kLight, U32{6}, std::vector<U8>{9, 9}, kEnd, U32{0xFFFFFFF0}, kEnd);
  });
  EXPECT_EQ(file.StreamBytes(kLight),
            BlockBytes(U32{0}, U32{6}, std::vector<U8>{9, 9}, kEnd, U32{0xFFFFFFF0}, kEnd));
  FutureNode n;
  ReadFutureNode(n, file.Index(), kLight);
  ReadFutureNode(n, file.Index(), kLight);  // 4 + 2 bytes
  EXPECT_EQ(file.Next(kLight), kEnd);
  std::string description;
  EXPECT_EQ(Failure([&] { ReadFutureNode(n, file.Index(), kLight); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  // Type names select their kind by exact comparison.
  EXPECT_EQ(KindOfTypeName(""), nullptr);
  const std::pair<const char*, NodeKind> kinds[] = {
      {"Group", NodeKind::Group},       {"Shape", NodeKind::Shape},
      {"Geometry", NodeKind::Geometry}, {"NodeSets", NodeKind::NodeSets},
      {"Foo", NodeKind::Future},        {"group", NodeKind::Future},
      {"Group ", NodeKind::Future},     {"FutureNode", NodeKind::Future}};
  for (const auto& [name, kind] : kinds) {
    ASSERT_NE(KindOfTypeName(name), nullptr) << name;
    EXPECT_EQ(KindOfTypeName(name)->kind, kind) << name;
  }
}

// ---- Attribute maps: six lists in key order ----

struct Lists {
  std::vector<std::string> names;
  std::vector<U8> types;
  std::vector<U32> ints, floats;
  std::vector<std::uint64_t> values64;
  std::vector<std::string> texts;
};

int ReadLists(const Lists& l, AttributeMap& read, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::Index& index) {
    PutAll(index, kAttrs, l.names, l.types, l.ints, l.floats, l.values64, l.texts);
  });
  return Failure([&] { ReadAttributeMap(file.Index(), kAttrs, read); }, description);
}

TEST(AttributeRecord, LayoutAndRoundTrip) {
  AttributeMap map;
  map["b"] = Attribute::MakeInt(-2);
  map["a"] = Attribute::MakeText("xy");
  map["c"] = Attribute::MakeFloat(1.0f);
  map["d"] = Attribute::MakeValue64(0x0102030405060708ull);
  map["e"] = Attribute::MakeInt(7);
  RecordFile file([&](KivRkf::Index& index) {
    WriteAttributeMap(index, kAttrs, {});
    WriteAttributeMap(index, kAttrs, map);
  });
  const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
  EXPECT_EQ(file.StreamBytes(kAttrs),
            BlockBytes(std::array<U32, 6>{}, names, std::vector<U8>{2, 0, 1, 3, 0},
                       std::vector<std::int32_t>{-2, 7}, std::vector<float>{1.0f},
                       std::vector<std::uint64_t>{0x0102030405060708ull},
                       std::vector<std::string>{"xy"}));
  map["nan"] = Attribute::MakeFloat(std::bit_cast<float>(0x7FC00123u));
  map["empty"] = Attribute::MakeText("");
  RecordFile zlib([&](KivRkf::Index& index) { WriteAttributeMap(index, kAttrs, map); }, true);
  AttributeMap read;
  ReadAttributeMap(zlib.Index(), kAttrs, read);
  EXPECT_EQ(read, map);
  EXPECT_EQ(std::bit_cast<U32>(read["nan"].float32), 0x7FC00123u);
}

TEST(AttributeRecord, ValuesAreTakenInOrderFromTheirTypeListAndTextsCutTo255) {
  Lists l{{"a", "b", "c", "d", "t"}, {0, 1, 0, 1, 2}, {10, 20}, {}, {}, {std::string(300, 'q')}};
  l.floats = {std::bit_cast<U32>(1.5f), std::bit_cast<U32>(2.5f)};
  AttributeMap read;
  ASSERT_EQ(ReadLists(l, read), 0);
  EXPECT_EQ(std::make_tuple(read["a"].int32, read["c"].int32, read["b"].float32, read["d"].float32),
            std::make_tuple(10, 20, 1.5f, 2.5f));
  EXPECT_EQ(std::string(read["t"].text), std::string(255, 'q'));
}

// Names and types that disagree, missing or surplus values, unknown type codes: code 9.
TEST(AttributeRecord, DamagedListsAreAReadError) {
  const Lists damaged[] = {
      {{"a", "b"}, {0}, {1}, {}, {}, {}}, {{"a", "b", "c"}, {2, 2, 3}, {}, {}, {1}, {"only one"}},
      {{"a"}, {1}, {}, {1, 2}, {}, {}},   {{"a", "b"}, {0, 7}, {1}, {}, {}, {}},
      {{"a"}, {4}, {}, {}, {}, {}},
  };
  for (const Lists& l : damaged) {
    AttributeMap read;
    std::string description;
    EXPECT_EQ(ReadLists(l, read, &description), 9) << description;
    if (l.types.back() >= 4) {
      EXPECT_NE(description.find(std::to_string(l.types.back())), std::string::npos);
    }
  }
  RecordFile cut([](KivRkf::Index& index) {  // a type list count without its bytes
    PutAll(index, kAttrs, std::vector<std::string>{"a", "b"}, U32{2});
  });
  AttributeMap read;
  EXPECT_EQ(CodeOf([&] { ReadAttributeMap(cut.Index(), kAttrs, read); }), 1);
}

// ---- Node sets: light record in "Light Data", heavy record in "Heavy Data" ----

// A heavy record written by hand: two sets "ab" {(10,11)} and "cde" {(20,21), (30,31)}.
struct HeavyRecord {
  std::vector<U32> nameOffsets = {0, 2, 5};
  std::string names = "abcde";
  std::vector<U32> memberOffsets = {0, 1, 3};
  std::vector<U32> firsts = {10, 20, 30};
  std::vector<U32> seconds = {11, 21, 31};
};

int ReadHeavy(const HeavyRecord& h, U32 count, NodeSets& n, std::string* description = nullptr) {
  RecordFile file([&](KivRkf::Index& index) {
    PutAll(index, kHeavy, h.nameOffsets, h.names, h.memberOffsets, h.firsts, h.seconds);
  });
  n.count = count;
  n.heavySize = 1;
  n.heavyPosition = 0;
  return Failure([&] { ReadNodeSetsHeavy(n, file.Index(), kHeavy); }, description);
}

TEST(NodeSetsRecord, LayoutsAndRoundTripAfterOtherHeavyData) {
  NodeSets n, none;
  n.sets = {NodeSet{"left", {{1, 2}, {3, 4}}}, NodeSet{"", {}}, NodeSet{"right side", {{7, 8}}}};
  RecordFile file(
      [&](KivRkf::Index& index) {
        index.Put(kHeavy, std::vector<U8>(37, 0xEE));  // earlier heavy data
        WriteNodeSetsHeavy(n, index, kHeavy);
        WriteNodeSetsLight(n, index, kLight);
        WriteNodeSetsHeavy(none, index, kHeavy);
        index.Put(kLight, kEnd);
      },
      true);
  // Heavy size: offsets 4+16, names 4+10, offsets 4+16, firsts 4+12, seconds 4+12.
  const auto written = std::make_tuple(3u, std::uint64_t{41}, 90u);
  EXPECT_EQ(std::tie(n.count, n.heavyPosition, n.heavySize), written);
  EXPECT_EQ(file.StreamBytes(kLight),
            BlockBytes(U32{16}, U32{3}, std::uint64_t{41}, U32{90}, kEnd));
  // Zero sets: single zero offsets.
  const Bytes heavy = file.StreamBytes(kHeavy);
  EXPECT_EQ(Bytes(heavy.begin() + 131, heavy.end()),
            BlockBytes(std::vector<U32>{0}, std::string(), std::vector<U32>{0}, std::vector<U32>{},
                       std::vector<U32>{}));
  EXPECT_EQ(std::make_pair(none.heavyPosition, none.heavySize),
            std::make_pair(std::uint64_t{131}, 28u));

  NodeSets r;
  ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(std::tie(r.count, r.heavyPosition, r.heavySize), written);
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(file.Next(kLight), kEnd);
  ReadNodeSetsHeavy(r, file.Index(), kHeavy);
  ASSERT_EQ(r.sets.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(std::tie(r.sets[i].name, r.sets[i].members),
              std::tie(n.sets[i].name, n.sets[i].members));
  // A hand-written record replaces the sets.
  r.sets.resize(5);
  ASSERT_EQ(ReadHeavy(HeavyRecord{}, 2, r), 0);
  using Members = std::vector<std::pair<U32, U32>>;
  ASSERT_EQ(r.sets.size(), 2u);
  EXPECT_EQ(std::tie(r.sets[0].name, r.sets[0].members), std::make_tuple("ab", Members{{10, 11}}));
  EXPECT_EQ(std::tie(r.sets[1].name, r.sets[1].members),
            std::make_tuple("cde", Members{{20, 21}, {30, 31}}));
}

TEST(NodeSetsRecord, OtherPayloadSizeIsSkippedAndLeavesTheNodeEmpty) {
  RecordFile file([](KivRkf::Index& index) {
    PutAll(index, kLight, U32{20}, std::vector<U8>(4, 0xAB), std::uint64_t{0xFFFFFFFFFFFFFFFFull},
           U32{0xFFFFFFFF}, kEnd, U32{0x7FFFFFFF}, kEnd);
  });
  NodeSets r;
  ReadNodeSetsLight(r, file.Index(), kLight);
  EXPECT_EQ(std::tie(r.count, r.heavyPosition, r.heavySize),
            std::make_tuple(0u, std::uint64_t{0}, 0u));
  EXPECT_EQ(file.Next(kLight), kEnd);
  ReadNodeSetsHeavy(r, file.Index(), kHeavy);  // no heavy record: nothing to read
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(CodeOf([&] { ReadNodeSetsLight(r, file.Index(), kLight); }), 1);  // skip past the end
}

// Offset lists of the wrong length (also for a huge count, without allocating), decreasing
// offsets and offsets beyond the names or members: out of bounds.
TEST(NodeSetsRecord, DamagedOffsetListsAreOutOfBounds) {
  using Damage = void (*)(HeavyRecord&);
  const std::pair<U32, Damage> cases[] = {
      {3, [](HeavyRecord&) {}},
      {1, [](HeavyRecord&) {}},
      {0xFFFFFFFFu, [](HeavyRecord&) {}},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 1};
       }},
      {2,
       [](HeavyRecord& h) {
         h.nameOffsets = {0, 4, 2};
       }},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 3, 1};
       }},
      {2,
       [](HeavyRecord& h) {
         h.nameOffsets = {0, 2, 6};
       }},
      {2,
       [](HeavyRecord& h) {
         h.memberOffsets = {0, 1, 4};
       }},
      {2,
       [](HeavyRecord& h) {
         h.seconds = {11, 21};
       }},  // fewer seconds than members
  };
  for (const auto& [count, damage] : cases) {
    HeavyRecord h;
    damage(h);
    NodeSets n;
    std::string description;
    EXPECT_EQ(ReadHeavy(h, count, n, &description), 1) << &count - &cases[0].first;
    EXPECT_EQ(description, "Out of Bounds");
  }
}

// ---- Action collections ----

template <class A>
Bytes Written(const A& record) {
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, record);
  return Bytes(b.Data(), b.Data() + b.Size());
}

ActionCollection SampleActions() {
  ActionCollection c;
  auto rotate = std::make_unique<RotateAction>();
  rotate->vector = {0, 0, 1};
  rotate->amount = 90;
  auto move = std::make_unique<MoveAction>();
  move->vector = {1, 2, 3};
  move->amount = -4;
  auto transform = std::make_unique<TransformAction>();
  transform->translation = {5, 6, 7};
  transform->rotation = {0.5f, 0.5f, 0.5f, 0.5f};
  auto color = std::make_unique<ApplyColorAction>();
  color->values = {0xFF0000FF, 7};
  auto view = std::make_unique<ApplyViewPointAction>();
  view->text = "front";
  auto audio = std::make_unique<PlayAudioAction>();
  audio->text = "chime.wav";
  c.actions.push_back(std::move(rotate));
  c.actions.push_back(std::move(move));
  c.actions.push_back(std::move(transform));
  c.actions.push_back(std::move(color));
  c.actions.push_back(std::move(view));
  c.actions.push_back(std::move(audio));
  ActionEntry e;
  e.first = "step 1";
  e.second = "open";
  e.bytes = {1, 0, 1};
  e.values = {3, 4, 5};
  e.state.first[0] = 9;
  e.state.second[11] = 12;
  e.state.third = 13;
  e.state.fourth = 14;
  e.state.fifth = 15;
  c.entries = {e, ActionEntry{}};
  c.keyedTriples["b"] = {ActionTriple{{1, 2, 3}}, ActionTriple{{4, 5, 6}}};
  c.keyedTriples["a"] = {};
  c.text = "tour";
  return c;
}

// Every action's type code and fields, one a line.
std::string ActionsText(const ActionCollection& c) {
  FuzzDescription::Writer w;
  for (const auto& a : c.actions) FuzzDescription::Action(w, *a);
  return w.Text();
}

TEST(ActionsRecord, LayoutsAndCompressedRoundTrip) {
  EXPECT_EQ(Written(ActionCollection{}),
            BlockBytes(U32{27}, std::string("0.1"), U32{0}, U32{0}, U32{0}, U32{0}));
  // Move and rotate differ only in their type code, so do view point and audio actions.
  RotateAction rotate;
  rotate.vector = {1, 2, 3};
  rotate.amount = 4;
  MoveAction move;
  move.vector = rotate.vector;
  move.amount = 4;
  EXPECT_EQ(Written(rotate), BlockBytes(U32{27}, std::string("0.1"), rotate.vector, 4.0f));
  EXPECT_EQ(Written(rotate), Written(move));
  ApplyViewPointAction view;
  view.text = "x";
  PlayAudioAction audio;
  audio.text = "x";
  EXPECT_EQ(Written(view), BlockBytes(U32{16}, std::string("0.1"), std::string("x")));
  EXPECT_EQ(Written(view), Written(audio));

  const ActionCollection c = SampleActions();
  RecordFile file([&](KivRkf::Index& index) { PutAll(index, kViews, c, kEnd); }, true);
  ActionCollection r;
  file.Index().Get(kViews, r);
  EXPECT_EQ(file.Next(kViews), kEnd);
  EXPECT_EQ(ActionsText(r), ActionsText(c));
  EXPECT_EQ(std::tie(r.entries, r.keyedTriples, r.text),
            std::tie(c.entries, c.keyedTriples, c.text));

  // Read again: entries, keys and text are replaced, actions appended.
  ActionCollection second;
  second.actions.push_back(std::make_unique<RotateAction>());
  second.entries.resize(1);
  RecordFile twice([&](KivRkf::Index& index) { PutAll(index, kViews, c, second); });
  ActionCollection t;
  twice.Index().Get(kViews, t);
  twice.Index().Get(kViews, t);
  EXPECT_EQ(t.actions.size(), 7u);
  EXPECT_NE(dynamic_cast<RotateAction*>(t.actions.back().get()), nullptr);
  EXPECT_EQ(std::tie(t.entries, t.keyedTriples, t.text),
            std::tie(second.entries, second.keyedTriples, second.text));
}

// Type codes 1, 7, 4: the record of the unknown code 7 is a "0.3" record of 10 payload
// bytes, skipped by its size.
TEST(ActionsRecord, UnknownTypeCodeIsSkippedWithItsRecord) {
  RecordFile file([](KivRkf::Index& index) {
    KivRkf::Block body;
    body.Put(U32{0});
    body.Put(U32{0});
    body.Put(std::string("t"));
    body.Put(std::vector<std::uint16_t>{1, 7, 4});
    MoveAction move;
    move.amount = 2.5f;
    KivRkf::CopyToBlock_Versioned(body, move);
    body.Put(U32{4 + 7 + 10});
    body.Put(std::string("0.3"));
    body.Put(std::array<U8, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ApplyViewPointAction view;
    view.text = "after";
    KivRkf::CopyToBlock_Versioned(body, view);
    KivRkf::Block& b = index.WritingBlock(kViews);
    b.Put(U32{4 + 7 + body.Size()});
    b.Put(std::string("0.1"));
    b.Put(body.Data(), body.Size());
    b.Put(kEnd);
  });
  ActionCollection r;
  file.Index().Get(kViews, r);
  MoveAction move;
  move.amount = 2.5f;
  ApplyViewPointAction view;
  view.text = "after";
  FuzzDescription::Writer w;
  FuzzDescription::Action(w, move);
  FuzzDescription::Action(w, view);
  EXPECT_EQ(ActionsText(r), w.Text());
  EXPECT_EQ(r.text, "t");
  EXPECT_EQ(file.Next(kViews), kEnd);
}

// A hostile type code count fails before allocating, three codes with room for none of
// their records fail before reading any; fields shorter than the record size are an
// unknown version; an action whose class disagrees with its code is not written.
TEST(ActionsRecord, DamagedRecordsFail) {
  const std::string v01 = "0.1";
  for (const Bytes& bytes :
       {BlockBytes(U32{4 + 7 + 16}, v01, U32{0}, U32{0}, U32{0}, U32{0x40000000}),
        BlockBytes(U32{4 + 7 + 12 + 4 + 6 + 4}, v01, U32{0}, U32{0}, U32{0},
                   std::vector<std::uint16_t>{1, 1, 1}, U32{0})}) {
    RecordFile file(
        [&](KivRkf::Index& index) { index.Put(kViews, bytes.data(), U32(bytes.size())); });
    ActionCollection r;
    std::string description;
    EXPECT_EQ(Failure([&] { file.Index().Get(kViews, r); }, &description), 1);
    EXPECT_EQ(description, "Not enough bytes in the block");
    EXPECT_TRUE(r.actions.empty());
  }
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, RotateAction{});
  b.SetPosition(0u);
  b.Put(U32{4 + 7 + 12});
  b.SetPosition(0u);
  RotateAction r;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }), 2);

  struct Impostor : BasicAction {
    std::uint16_t GetTypeCode() const override { return 2; }
  };
  ActionCollection c;
  c.actions.push_back(std::make_unique<Impostor>());
  KivRkf::Block out;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyToBlock_Versioned(out, c); }), 12);
}

// ---- View point entries: the nested frame is delimited by its size and version ----

TEST(ViewPointFrame, ReadsBackAndDamagedFramesAreRefused) {
  const RawFrame frame = RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});  // 16 bytes
  struct Case {
    const char* what;
    U32 field;  // 0: the frame's size, 4: its version length
    U32 value;
    int code;
  };
  const Case cases[] = {
      {"sound", 0, 16, 0},
      {"version past the frame, inside the block", 4, 122, 2},
      {"version past the block", 4, 255, 1},
      {"version length far past the block", 4, 9699331, 1},
      {"version length near 2^32", 4, 4278190083u, 1},
      {"size below the size field and version", 0, 10, 2},
      {"size below the size field and an empty version", 0, 7, 2},
      {"frame past its entry, inside the block", 0, 40, 2},
      {"frame past the block", 0, 400, 1},
  };
  for (const Case& c : cases) {
    // One entry with the frame, followed by 200 bytes that belong to later records.
    KivRkf::Block block;
    ViewPointEntry entry;
    entry.viewPoint = frame;
    block.Put(entry);
    const U32 end = block.Position();
    const U32 at = end - 1 - U32(frame.bytes.size());
    block.Put(std::array<U8, 200>{});
    std::memcpy(block.Data() + at + c.field, &c.value, 4);
    block.SetPosition(0u);
    ViewPointEntry read;
    EXPECT_EQ(Failure([&] { block.Get(read); }), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(std::make_pair(read.viewPoint, block.Position()), std::make_pair(frame, end));
    }
  }
}

}  // namespace
