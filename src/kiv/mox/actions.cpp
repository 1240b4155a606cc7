// Field groups of the action records and of the action collection (layouts in
// actions.hpp). Every record has one group, so each Put/Get handles group 1 only.
#include "kiv/mox/actions.hpp"

#include <utility>

#include "kiv/log/raise.hpp"

namespace KivRkf {

namespace {

using namespace KivMox;

constexpr const char* kWriteMethod = "KivRkf::CopyToBlock_Versioned";

template <class A>
void WriteActionAs(Block& b, const BasicAction& action) {
  const auto* typed = dynamic_cast<const A*>(&action);
  KIV_CHECK(typed != nullptr, BadCasting, "An action does not match its type code", kWriteMethod);
  CopyToBlock_Versioned(b, *typed);
}

void WriteAction(Block& b, const BasicAction& action) {
  switch (action.GetTypeCode()) {
    case RotateAction::kTypeCode:
      return WriteActionAs<RotateAction>(b, action);
    case MoveAction::kTypeCode:
      return WriteActionAs<MoveAction>(b, action);
    case TransformAction::kTypeCode:
      return WriteActionAs<TransformAction>(b, action);
    case ApplyColorAction::kTypeCode:
      return WriteActionAs<ApplyColorAction>(b, action);
    case ApplyViewPointAction::kTypeCode:
      return WriteActionAs<ApplyViewPointAction>(b, action);
    case PlayAudioAction::kTypeCode:
      return WriteActionAs<PlayAudioAction>(b, action);
  }
  KIV_RAISE(InvalidEnumeration, "Unknown action type code", kWriteMethod);
}

template <class A>
std::unique_ptr<BasicAction> ReadActionAs(Block& b) {
  auto action = std::make_unique<A>();
  CopyFromBlock_Versioned(b, *action);
  return action;
}

// The action of a type code, or null (its record skipped) for an unknown code.
std::unique_ptr<BasicAction> ReadAction(Block& b, std::uint16_t code) {
  switch (code) {
    case RotateAction::kTypeCode:
      return ReadActionAs<RotateAction>(b);
    case MoveAction::kTypeCode:
      return ReadActionAs<MoveAction>(b);
    case TransformAction::kTypeCode:
      return ReadActionAs<TransformAction>(b);
    case ApplyColorAction::kTypeCode:
      return ReadActionAs<ApplyColorAction>(b);
    case ApplyViewPointAction::kTypeCode:
      return ReadActionAs<ApplyViewPointAction>(b);
    case PlayAudioAction::kTypeCode:
      return ReadActionAs<PlayAudioAction>(b);
  }
  UnknownActionRecord skipped;
  CopyFromBlock_Versioned(b, skipped);
  return nullptr;
}

// A string field of a record that is read again must not keep its old text when the
// stored string is empty (the string encoding leaves the destination alone then).
void GetFresh(Block& b, std::string& s) {
  std::string fresh;
  b.Get(fresh);
  s = std::move(fresh);
}

}  // namespace

void VersionedRecord<RotateAction>::Put(Block& b, const RotateAction& a, int) {
  b.Put(a.vector);
  b.Put(a.amount);
}

void VersionedRecord<RotateAction>::Get(Block& b, RotateAction& a, int) {
  b.Get(a.vector);
  b.Get(a.amount);
}

void VersionedRecord<MoveAction>::Put(Block& b, const MoveAction& a, int) {
  b.Put(a.vector);
  b.Put(a.amount);
}

void VersionedRecord<MoveAction>::Get(Block& b, MoveAction& a, int) {
  b.Get(a.vector);
  b.Get(a.amount);
}

void VersionedRecord<TransformAction>::Put(Block& b, const TransformAction& a, int) {
  b.Put(a.translation);
  b.Put(a.rotation);
}

void VersionedRecord<TransformAction>::Get(Block& b, TransformAction& a, int) {
  b.Get(a.translation);
  b.Get(a.rotation);
}

void VersionedRecord<ApplyColorAction>::Put(Block& b, const ApplyColorAction& a, int) {
  b.Put(a.values);
}

void VersionedRecord<ApplyColorAction>::Get(Block& b, ApplyColorAction& a, int) {
  b.Get(a.values);
}

void VersionedRecord<ApplyViewPointAction>::Put(Block& b, const ApplyViewPointAction& a, int) {
  b.Put(a.text);
}

void VersionedRecord<ApplyViewPointAction>::Get(Block& b, ApplyViewPointAction& a, int) {
  GetFresh(b, a.text);
}

void VersionedRecord<PlayAudioAction>::Put(Block& b, const PlayAudioAction& a, int) {
  b.Put(a.text);
}

void VersionedRecord<PlayAudioAction>::Get(Block& b, PlayAudioAction& a, int) {
  GetFresh(b, a.text);
}

void VersionedRecord<ActionEntryState>::Put(Block& b, const ActionEntryState& s, int) {
  b.Put(s.first);
  b.Put(s.second);
  b.Put(s.third);
  b.Put(s.fourth);
  b.Put(s.fifth);
}

void VersionedRecord<ActionEntryState>::Get(Block& b, ActionEntryState& s, int) {
  b.Get(s.first);
  b.Get(s.second);
  b.Get(s.third);
  b.Get(s.fourth);
  b.Get(s.fifth);
}

void VersionedRecord<ActionEntry>::Put(Block& b, const ActionEntry& e, int) {
  b.Put(e.first);
  b.Put(e.second);
  b.Put(e.bytes);
  b.Put(e.values);
  b.Put(e.state);
}

void VersionedRecord<ActionEntry>::Get(Block& b, ActionEntry& e, int) {
  GetFresh(b, e.first);
  GetFresh(b, e.second);
  b.Get(e.bytes);
  b.Get(e.values);
  b.Get(e.state);
}

void VersionedRecord<ActionTriple>::Put(Block& b, const ActionTriple& t, int) {
  b.Put(t.values);
}

void VersionedRecord<ActionTriple>::Get(Block& b, ActionTriple& t, int) {
  b.Get(t.values);
}

void VersionedRecord<ActionCollection>::Put(Block& b, const ActionCollection& c, int) {
  b.Put(c.entries);
  b.Put(c.keyedTriples);
  b.Put(c.text);
  std::vector<std::uint16_t> codes;
  codes.reserve(c.actions.size());
  for (const auto& action : c.actions) {
    KIV_CHECK(action != nullptr, InvalidObject, "An action collection holds no action here",
              kWriteMethod);
    codes.push_back(action->GetTypeCode());
  }
  b.Put(codes);
  for (const auto& action : c.actions) WriteAction(b, *action);
}

// Reads everything before changing the collection, so a failed read leaves it as it was.
void VersionedRecord<ActionCollection>::Get(Block& b, ActionCollection& c, int) {
  std::vector<ActionEntry> entries;
  std::map<std::string, std::vector<ActionTriple>> keyedTriples;
  std::string text;
  std::vector<std::uint16_t> codes;
  b.Get(entries);
  b.Get(keyedTriples);
  b.Get(text);
  b.Get(codes);
  // Every action record takes at least its version string.
  CheckCount(b, codes.size(), Codec<UnknownActionRecord>::kMinSize);
  std::vector<std::unique_ptr<BasicAction>> read;
  read.reserve(codes.size());
  for (std::uint16_t code : codes)
    if (auto action = ReadAction(b, code)) read.push_back(std::move(action));

  c.entries = std::move(entries);
  c.keyedTriples = std::move(keyedTriples);
  c.text = std::move(text);
  for (auto& action : read) c.actions.push_back(std::move(action));
}

}  // namespace KivRkf
