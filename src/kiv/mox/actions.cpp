// The type codes and actions of the action collection (layouts in actions.hpp; the fields
// of every record are described there).
#include "kiv/mox/actions.hpp"

#include <utility>

#include "kiv/log/raise.hpp"

namespace KivRkf {

namespace {

using namespace KivMox;

constexpr const char* kWriteMethod = "KivRkf::CopyToBlock_Versioned";

template <class A>
void WriteActionAs(BlockWriterIo& io, const BasicAction& action) {
  const auto* typed = dynamic_cast<const A*>(&action);
  KIV_CHECK(typed != nullptr, BadCasting, "An action does not match its type code", kWriteMethod);
  io(*typed);
}

void WriteAction(BlockWriterIo& io, const BasicAction& action) {
  switch (action.GetTypeCode()) {
    case RotateAction::kTypeCode:
      return WriteActionAs<RotateAction>(io, action);
    case MoveAction::kTypeCode:
      return WriteActionAs<MoveAction>(io, action);
    case TransformAction::kTypeCode:
      return WriteActionAs<TransformAction>(io, action);
    case ApplyColorAction::kTypeCode:
      return WriteActionAs<ApplyColorAction>(io, action);
    case ApplyViewPointAction::kTypeCode:
      return WriteActionAs<ApplyViewPointAction>(io, action);
    case PlayAudioAction::kTypeCode:
      return WriteActionAs<PlayAudioAction>(io, action);
  }
  KIV_RAISE(InvalidEnumeration, "Unknown action type code", kWriteMethod);
}

template <class A>
std::unique_ptr<BasicAction> ReadActionAs(BlockReaderIo& io) {
  auto action = std::make_unique<A>();
  io(*action);
  return action;
}

// The action of a type code, or null (its record skipped) for an unknown code.
std::unique_ptr<BasicAction> ReadAction(BlockReaderIo& io, std::uint16_t code) {
  switch (code) {
    case RotateAction::kTypeCode:
      return ReadActionAs<RotateAction>(io);
    case MoveAction::kTypeCode:
      return ReadActionAs<MoveAction>(io);
    case TransformAction::kTypeCode:
      return ReadActionAs<TransformAction>(io);
    case ApplyColorAction::kTypeCode:
      return ReadActionAs<ApplyColorAction>(io);
    case ApplyViewPointAction::kTypeCode:
      return ReadActionAs<ApplyViewPointAction>(io);
    case PlayAudioAction::kTypeCode:
      return ReadActionAs<PlayAudioAction>(io);
  }
  UnknownActionRecord skipped;
  io(skipped);
  return nullptr;
}

}  // namespace

void VersionedRecord<ActionCollection>::Put(BlockWriterIo& io, const ActionCollection& c,
                                            int group) {
  Fields(io, c, group);
  std::vector<std::uint16_t> codes;
  codes.reserve(c.actions.size());
  for (const auto& action : c.actions) {
    KIV_CHECK(action != nullptr, InvalidObject, "An action collection holds no action here",
              kWriteMethod);
    codes.push_back(action->GetTypeCode());
  }
  io(codes);
  for (const auto& action : c.actions) WriteAction(io, *action);
}

// Reads everything before changing the collection, so a failed read leaves it as it was.
void VersionedRecord<ActionCollection>::Get(BlockReaderIo& io, ActionCollection& c, int group) {
  ActionCollection read;
  Fields(io, read, group);
  std::vector<std::uint16_t> codes;
  io(codes);
  // Every action record takes at least its version string.
  CheckCount(io.GetBlock(), codes.size(), Codec<UnknownActionRecord>::kMinSize);
  read.actions.reserve(codes.size());
  for (std::uint16_t code : codes)
    if (auto action = ReadAction(io, code)) read.actions.push_back(std::move(action));

  c.entries = std::move(read.entries);
  c.keyedTriples = std::move(read.keyedTriples);
  c.text = std::move(read.text);
  for (auto& action : read.actions) c.actions.push_back(std::move(action));
}

}  // namespace KivRkf
