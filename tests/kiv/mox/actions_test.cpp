// Action collections: every action kind, entries and keyed triples written and read back
// through a real file; unknown type codes skipped by their record size.
#include "kiv/mox/actions.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/record_file.hpp"
#include "kiv/rkf/index.hpp"

namespace {

using namespace KivMox;
using TestSupport::Bytes;
using TestSupport::CodeOf;
using TestSupport::RecordFile;

const std::string kSection = "View Points";
constexpr std::uint32_t kSentinel = 0xAC710000;

ActionCollection Sample() {
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

std::uint32_t Next(KivRkf::Index& index) {
  std::uint32_t v = 0;
  index.Get(kSection, v);
  return v;
}

TEST(ActionsTest, TypeCodes) {
  EXPECT_EQ(RotateAction().GetTypeCode(), 0);
  EXPECT_EQ(MoveAction().GetTypeCode(), 1);
  EXPECT_EQ(TransformAction().GetTypeCode(), 2);
  EXPECT_EQ(ApplyColorAction().GetTypeCode(), 3);
  EXPECT_EQ(ApplyViewPointAction().GetTypeCode(), 4);
  EXPECT_EQ(PlayAudioAction().GetTypeCode(), 5);
}

TEST(ActionsTest, EmptyCollectionLayout) {
  KivRkf::Block b;
  KivRkf::CopyToBlock_Versioned(b, ActionCollection{});
  EXPECT_EQ(Bytes(b.Data(), b.Data() + b.Size()),
            (Bytes{27, 0, 0, 0, 3, 0, 0, 0, '0', '.', '1',  // frame
                   0,  0, 0, 0,                             // entries
                   0,  0, 0, 0,                             // keys
                   0,  0, 0, 0,                             // text
                   0,  0, 0, 0}));                          // type codes
}

TEST(ActionsTest, MoveAndRotateDifferOnlyInTheirTypeCode) {
  RotateAction rotate;
  rotate.vector = {1, 2, 3};
  rotate.amount = 4;
  MoveAction move;
  move.vector = {1, 2, 3};
  move.amount = 4;
  KivRkf::Block a, b;
  KivRkf::CopyToBlock_Versioned(a, rotate);
  KivRkf::CopyToBlock_Versioned(b, move);
  EXPECT_EQ(Bytes(a.Data(), a.Data() + a.Size()), Bytes(b.Data(), b.Data() + b.Size()));
  EXPECT_EQ(a.Size(), 4u + 7 + 16);
}

TEST(ActionsTest, ViewPointAndAudioActionsBothStoreOneString) {
  ApplyViewPointAction view;
  view.text = "x";
  PlayAudioAction audio;
  audio.text = "x";
  KivRkf::Block a, b;
  KivRkf::CopyToBlock_Versioned(a, view);
  KivRkf::CopyToBlock_Versioned(b, audio);
  EXPECT_EQ(a.Size(), 4u + 7 + 5);
  EXPECT_EQ(Bytes(a.Data(), a.Data() + a.Size()), Bytes(b.Data(), b.Data() + b.Size()));
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
  EXPECT_EQ(Next(file.Index()), kSentinel);

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
  EXPECT_EQ(Next(file.Index()), kSentinel);
}

TEST(ActionsTest, ReadingAgainReplacesEntriesAndAppendsActions) {
  ActionCollection second;
  second.actions.push_back(std::make_unique<RotateAction>());
  RecordFile file([&](KivRkf::Index& index) {
    index.Put(kSection, Sample());
    index.Put(kSection, second);
  });
  ActionCollection r;
  file.Index().Get(kSection, r);
  file.Index().Get(kSection, r);
  EXPECT_EQ(r.actions.size(), 7u);
  EXPECT_NE(dynamic_cast<RotateAction*>(r.actions.back().get()), nullptr);
  EXPECT_TRUE(r.entries.empty());
  EXPECT_TRUE(r.keyedTriples.empty());
  EXPECT_EQ(r.text, "");
}

TEST(ActionsTest, EmptyStringsReplaceOldTextInEntries) {
  ActionCollection r;
  r.entries.resize(1);
  r.entries[0].first = "stale";
  ActionCollection stored;
  stored.entries.resize(1);
  RecordFile file([&](KivRkf::Index& index) { index.Put(kSection, stored); });
  file.Index().Get(kSection, r);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].first, "");
}

TEST(ActionsTest, HostileActionCountFailsBeforeAllocating) {
  RecordFile file([](KivRkf::Index& index) {
    KivRkf::Block& b = index.WritingBlock(kSection);
    b.Put(std::uint32_t{4 + 7 + 16});
    b.Put(std::string("0.1"));
    b.Put(std::uint32_t{0});
    b.Put(std::uint32_t{0});
    b.Put(std::uint32_t{0});
    b.Put(std::uint32_t{0x40000000});  // type codes claimed
  });
  ActionCollection r;
  std::string description;
  EXPECT_EQ(CodeOf([&] { file.Index().Get(kSection, r); }, &description), 1);
  EXPECT_EQ(description, "Not enough bytes in the block");
  EXPECT_TRUE(r.actions.empty());
}

TEST(ActionsTest, TypeCodesWithoutRoomForTheirRecordsFailBeforeReadingAny) {
  RecordFile file([](KivRkf::Index& index) {
    KivRkf::Block& b = index.WritingBlock(kSection);
    b.Put(std::uint32_t{4 + 7 + 12 + 4 + 6 + 4});
    b.Put(std::string("0.1"));
    b.Put(std::uint32_t{0});
    b.Put(std::uint32_t{0});
    b.Put(std::uint32_t{0});
    b.Put(std::vector<std::uint16_t>{1, 1, 1});  // three codes, then only 4 bytes
    b.Put(std::uint32_t{0});
  });
  ActionCollection r;
  EXPECT_EQ(CodeOf([&] { file.Index().Get(kSection, r); }), 1);
  EXPECT_TRUE(r.actions.empty());
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
