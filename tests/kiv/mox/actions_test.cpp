// Action collections: every action kind, entries and keyed triples written and read back
// through a real file; unknown type codes skipped by their record size.
#include "kiv/mox/actions.hpp"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using namespace KivMox;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::Next;
using TestSupport::RecordFile;

const std::string kSection = "View Points";
constexpr std::uint32_t kSentinel = 0xAC710000;

template <class A>
std::unique_ptr<BasicAction> Make(const std::function<void(A&)>& set) {
  auto a = std::make_unique<A>();
  set(*a);
  return a;
}

ActionCollection Sample() {
  ActionCollection c;
  c.actions.push_back(Make<RotateAction>([](auto& a) {
    a.vector = {0, 0, 1};
    a.amount = 90;
  }));
  c.actions.push_back(Make<MoveAction>([](auto& a) {
    a.vector = {1, 2, 3};
    a.amount = -4;
  }));
  c.actions.push_back(Make<TransformAction>([](auto& a) {
    a.translation = {5, 6, 7};
    a.rotation = {0.5f, 0.5f, 0.5f, 0.5f};
  }));
  c.actions.push_back(Make<ApplyColorAction>([](auto& a) { a.values = {0xFF0000FF, 7}; }));
  c.actions.push_back(Make<ApplyViewPointAction>([](auto& a) { a.text = "front"; }));
  c.actions.push_back(Make<PlayAudioAction>([](auto& a) { a.text = "chime.wav"; }));
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
  c.entries.push_back(e);
  c.entries.push_back(ActionEntry{});
  c.keyedTriples["b"] = {ActionTriple{{1, 2, 3}}, ActionTriple{{4, 5, 6}}};
  c.keyedTriples["a"] = {};
  c.text = "tour";
  return c;
}

template <class A>
const A& As(const ActionCollection& c, std::size_t i) {
  const auto* a = dynamic_cast<const A*>(c.actions.at(i).get());
  EXPECT_NE(a, nullptr) << "action " << i;
  static const A empty{};
  return a ? *a : empty;
}

Bytes BytesOf(const KivRkf::Block& b) {
  return Bytes(b.Data(), b.Data() + b.Size());
}

template <class A>
Bytes Written(const A& record) {
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, record);
  return BytesOf(b);
}

TEST(ActionsTest, RecordLayouts) {
  EXPECT_EQ(Written(ActionCollection{}), (Bytes{27, 0, 0, 0, 3, 0, 0, 0, '0', '.', '1',  // frame
                                                0,  0, 0, 0,                             // entries
                                                0,  0, 0, 0,                             // keys
                                                0,  0, 0, 0,                             // text
                                                0,  0, 0, 0}));  // type codes
  // Move and rotate differ only in their type code, so do view point and audio actions.
  RotateAction rotate;
  rotate.vector = {1, 2, 3};
  rotate.amount = 4;
  MoveAction move;
  move.vector = {1, 2, 3};
  move.amount = 4;
  EXPECT_EQ(Written(rotate).size(), 4u + 7 + 16);
  EXPECT_EQ(Written(rotate), Written(move));
  ApplyViewPointAction view;
  view.text = "x";
  PlayAudioAction audio;
  audio.text = "x";
  EXPECT_EQ(Written(view).size(), 4u + 7 + 5);
  EXPECT_EQ(Written(view), Written(audio));
}

TEST(ActionsTest, CollectionRoundTripsThroughACompressedFile) {
  const ActionCollection c = Sample();
  RecordFile file(
      [&](KivRkf::Index& index) {
        index.Put(kSection, c);
        index.Put(kSection, kSentinel);
      },
      true);
  ActionCollection r;
  file.Index().Get(kSection, r);
  EXPECT_EQ(Next(file.Index(), kSection), kSentinel);

  ASSERT_EQ(r.actions.size(), 6u);
  EXPECT_EQ(As<RotateAction>(r, 0).amount, 90);
  EXPECT_EQ(As<MoveAction>(r, 1).vector, (std::array<float, 3>{1, 2, 3}));
  EXPECT_EQ(As<MoveAction>(r, 1).amount, -4);
  EXPECT_EQ(As<TransformAction>(r, 2).rotation, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(As<ApplyColorAction>(r, 3).values, (std::vector<std::uint32_t>{0xFF0000FF, 7}));
  EXPECT_EQ(As<ApplyViewPointAction>(r, 4).text, "front");
  EXPECT_EQ(As<PlayAudioAction>(r, 5).text, "chime.wav");
  EXPECT_EQ(r.entries, c.entries);
  EXPECT_EQ(r.keyedTriples, c.keyedTriples);
  EXPECT_EQ(r.text, "tour");
}

// A collection with one entry-less body and type codes 1, 7, 4: the record of code 7 is
// a "0.3" record of 10 payload bytes.
void PutWithUnknownCode(KivRkf::Index& index) {
  KivRkf::Block& b = index.WritingBlock(kSection);
  KivRkf::Block body;
  body.Put(std::uint32_t{0});                     // entries
  body.Put(std::uint32_t{0});                     // keys
  body.Put(std::string("t"));                     // text
  body.Put(std::vector<std::uint16_t>{1, 7, 4});  // type codes
  MoveAction move;
  move.amount = 2.5f;
  KivRkf::CopyToBlock_Versioned(body, move);
  body.Put(std::uint32_t{4 + 7 + 10});  // unknown record: size
  body.Put(std::string("0.3"));         // version
  body.Put(std::array<std::uint8_t, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ApplyViewPointAction view;
  view.text = "after";
  KivRkf::CopyToBlock_Versioned(body, view);

  b.Put(std::uint32_t{4 + 7 + body.Size()});
  b.Put(std::string("0.1"));
  b.Put(body.Data(), body.Size());
  b.Put(kSentinel);
}

TEST(ActionsTest, UnknownTypeCodeIsSkippedWithItsRecord) {
  RecordFile file(PutWithUnknownCode);
  ActionCollection r;
  file.Index().Get(kSection, r);
  ASSERT_EQ(r.actions.size(), 2u);
  EXPECT_EQ(As<MoveAction>(r, 0).amount, 2.5f);
  EXPECT_EQ(As<ApplyViewPointAction>(r, 1).text, "after");
  EXPECT_EQ(r.text, "t");
  EXPECT_EQ(Next(file.Index(), kSection), kSentinel);
}

TEST(ActionsTest, ReadingAgainReplacesEntriesAndAppendsActions) {
  ActionCollection second;
  second.actions.push_back(std::make_unique<RotateAction>());
  second.entries.resize(1);  // empty strings replace the old text
  RecordFile file(
      [&](KivRkf::Index& index) { TestSupport::PutAll(index, kSection, Sample(), second); });
  ActionCollection r;
  file.Index().Get(kSection, r);
  file.Index().Get(kSection, r);
  EXPECT_EQ(r.actions.size(), 7u);
  EXPECT_NE(dynamic_cast<RotateAction*>(r.actions.back().get()), nullptr);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].first, "");
  EXPECT_TRUE(r.keyedTriples.empty());
  EXPECT_EQ(r.text, "");
}

// Collections of no entries, keys or text whose type codes claim more records than the
// bytes hold: a hostile count fails before allocating, three codes with room for none of
// their records fail before reading any.
TEST(ActionsTest, TypeCodesWithoutRoomForTheirRecordsFail) {
  using U32 = std::uint32_t;
  const std::string v01 = "0.1";
  const Bytes damaged[] = {
      TestSupport::BlockBytes(U32{4 + 7 + 16}, v01, U32{0}, U32{0}, U32{0}, U32{0x40000000}),
      TestSupport::BlockBytes(U32{4 + 7 + 12 + 4 + 6 + 4}, v01, U32{0}, U32{0}, U32{0},
                              std::vector<std::uint16_t>{1, 1, 1}, U32{0})};
  for (const Bytes& bytes : damaged) {
    RecordFile file([&](KivRkf::Index& index) {
      index.Put(kSection, bytes.data(), std::uint32_t(bytes.size()));
    });
    ActionCollection r;
    std::string description;
    EXPECT_EQ(CodeOf([&] { file.Index().Get(kSection, r); }, &description), 1);
    EXPECT_EQ(description, "Not enough bytes in the block");
    EXPECT_TRUE(r.actions.empty());
  }
}

TEST(ActionsTest, FieldsShorterThanTheRecordSizeAreAnUnknownVersion) {
  KivRkf::Block b;
  RotateAction rotate;
  KivRkf::CopyToBlock_Versioned(b, rotate);
  b.SetPosition(0u);
  b.Put(std::uint32_t{4 + 7 + 12});
  b.SetPosition(0u);
  RotateAction r;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyFromBlock_Versioned(b, r); }), 2);
}

TEST(ActionsTest, ActionWhoseClassDisagreesWithItsCodeIsNotWritten) {
  struct Impostor : BasicAction {
    std::uint16_t GetTypeCode() const override { return 2; }
  };
  ActionCollection c;
  c.actions.push_back(std::make_unique<Impostor>());
  KivRkf::Block b;
  EXPECT_EQ(CodeOf([&] { KivRkf::CopyToBlock_Versioned(b, c); }), 12);
}

}  // namespace
