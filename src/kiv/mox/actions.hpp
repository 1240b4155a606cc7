// Actions that view points carry, and the action collection that holds them. Every record
// is a versioned record (rkf/versioned.hpp) of version "0.1" whose fields are group 1:
//   rotate (0), move (1)      3 x f32, f32
//   transform (2)             3 x f32, 4 x f32
//   apply color (3)           vector<u32>
//   apply view point (4)      string
//   play audio (5)            string
//   entry state               9 x u32, 12 x u32, u32, u8, u32
//   entry                     string, string, 3 x u8, vector<u32>, entry state record
//   triple                    3 x u32
//   action collection         u32 n + n entry records;
//                             u32 k + k times (key string, u32 m + m triple records);
//                             text string; u32 a + a u16 type codes; a action records
// A type code the reader does not know is skipped as a record with no known fields.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kiv/rkf/versioned.hpp"

namespace KivMox {

class BasicAction {
 public:
  virtual ~BasicAction() = default;
  virtual std::uint16_t GetTypeCode() const = 0;
};

class RotateAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 0;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::array<float, 3> vector = {0, 0, 0};
  float amount = 0;
};

class MoveAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 1;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::array<float, 3> vector = {0, 0, 0};
  float amount = 0;
};

class TransformAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 2;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::array<float, 3> translation = {0, 0, 0};
  std::array<float, 4> rotation = {0, 0, 0, 0};
};

class ApplyColorAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 3;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::vector<std::uint32_t> values;
};

class ApplyViewPointAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 4;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::string text;
};

class PlayAudioAction : public BasicAction {
 public:
  static constexpr std::uint16_t kTypeCode = 5;
  std::uint16_t GetTypeCode() const override { return kTypeCode; }
  std::string text;
};

struct ActionEntryState {
  std::array<std::uint32_t, 9> first = {};
  std::array<std::uint32_t, 12> second = {};
  std::uint32_t third = 0;
  std::uint8_t fourth = 0;
  std::uint32_t fifth = 0;
  bool operator==(const ActionEntryState&) const = default;
};

struct ActionEntry {
  std::string first;
  std::string second;
  std::array<std::uint8_t, 3> bytes = {};
  std::vector<std::uint32_t> values;
  ActionEntryState state;
  bool operator==(const ActionEntry&) const = default;
};

struct ActionTriple {
  std::array<std::uint32_t, 3> values = {};
  bool operator==(const ActionTriple&) const = default;
};

// A record of an action type that the reader does not know: read for its frame only.
struct UnknownActionRecord {};

// Owns its actions. Reading into a collection replaces its entries, keyed triples and
// text and appends the actions read to those it holds.
class ActionCollection {
 public:
  ActionCollection() = default;
  ActionCollection(ActionCollection&&) = default;
  ActionCollection& operator=(ActionCollection&&) = default;

  std::vector<std::unique_ptr<BasicAction>> actions;
  std::vector<ActionEntry> entries;
  std::map<std::string, std::vector<ActionTriple>> keyedTriples;
  std::string text;
};

}  // namespace KivMox

namespace KivRkf {

// One description per record; every action record type is at version "0.1" with one group.
template <class T>
struct ActionRecordBase {
  static std::string Version(const T&) { return "0.1"; }
  static constexpr int kGroups = 1;
};

// Move and rotate actions share their fields, and so do view point and audio actions.
template <class T>
struct VectorActionRecord : ActionRecordBase<T> {
  template <class Io, class A>
  static void Fields(Io& io, A& a, int) {
    io(a.vector, a.amount);
  }
};

template <class T>
struct TextActionRecord : ActionRecordBase<T> {
  template <class Io, class A>
  static void Fields(Io& io, A& a, int) {
    io(a.text);
  }
  // An empty stored text replaces the one held (the string encoding leaves it alone).
  static void Get(BlockReaderIo& io, T& a, int group) {
    a.text.clear();
    Fields(io, a, group);
  }
};

template <>
struct VersionedRecord<KivMox::RotateAction> : VectorActionRecord<KivMox::RotateAction> {};

template <>
struct VersionedRecord<KivMox::MoveAction> : VectorActionRecord<KivMox::MoveAction> {};

template <>
struct VersionedRecord<KivMox::TransformAction> : ActionRecordBase<KivMox::TransformAction> {
  template <class Io, class A>
  static void Fields(Io& io, A& a, int) {
    io(a.translation, a.rotation);
  }
};

template <>
struct VersionedRecord<KivMox::ApplyColorAction> : ActionRecordBase<KivMox::ApplyColorAction> {
  template <class Io, class A>
  static void Fields(Io& io, A& a, int) {
    io(a.values);
  }
};

template <>
struct VersionedRecord<KivMox::ApplyViewPointAction>
    : TextActionRecord<KivMox::ApplyViewPointAction> {};

template <>
struct VersionedRecord<KivMox::PlayAudioAction> : TextActionRecord<KivMox::PlayAudioAction> {};

template <>
struct VersionedRecord<KivMox::UnknownActionRecord>
    : ActionRecordBase<KivMox::UnknownActionRecord> {
  template <class Io, class A>
  static void Fields(Io&, A&, int) {}
};

template <>
struct VersionedRecord<KivMox::ActionEntryState> : ActionRecordBase<KivMox::ActionEntryState> {
  static constexpr std::uint32_t kMinPayload = 9 * 4 + 12 * 4 + 4 + 1 + 4;
  template <class Io, class S>
  static void Fields(Io& io, S& s, int) {
    io(s.first, s.second, s.third, s.fourth, s.fifth);
  }
};

template <>
struct VersionedRecord<KivMox::ActionEntry> : ActionRecordBase<KivMox::ActionEntry> {
  // Two string counts, three bytes, a sequence count and the state record.
  static constexpr std::uint32_t kMinPayload =
      4 + 4 + 3 + 4 + 4 + VersionedRecord<KivMox::ActionEntryState>::kMinPayload;
  template <class Io, class E>
  static void Fields(Io& io, E& e, int) {
    io(e.first, e.second, e.bytes, e.values, e.state);
  }
  // Empty stored texts replace the ones held (the string encoding leaves them alone).
  static void Get(BlockReaderIo& io, KivMox::ActionEntry& e, int group) {
    e.first.clear();
    e.second.clear();
    Fields(io, e, group);
  }
};

template <>
struct VersionedRecord<KivMox::ActionTriple> : ActionRecordBase<KivMox::ActionTriple> {
  static constexpr std::uint32_t kMinPayload = 3 * 4;
  template <class Io, class T>
  static void Fields(Io& io, T& t, int) {
    io(t.values);
  }
};

// The entries, keyed triples and text are fields; the type codes and the actions they
// select are written from the actions and read into new ones (actions.cpp).
template <>
struct VersionedRecord<KivMox::ActionCollection> : ActionRecordBase<KivMox::ActionCollection> {
  template <class Io, class C>
  static void Fields(Io& io, C& c, int) {
    io(c.entries, c.keyedTriples, c.text);
  }
  static void Put(BlockWriterIo& io, const KivMox::ActionCollection& c, int group);
  static void Get(BlockReaderIo& io, KivMox::ActionCollection& c, int group);
};

}  // namespace KivRkf
