// The view points of a Mox file, section "View Points":
//   ViewPointEntry          the current view point
//   u32 group count, then per group: string name, u32 entry count, the entries
//   the action collection
//
// ViewPointEntry is a versioned record "0.2":
//   group 1  string name; u32[3]; u32[4]; u32[3]; f32; f32; f32[16]; f32; f32; u32[3];
//            u32[4]; the nested ViewPoint record
//   group 2  u8 (held first in memory, stored last)
// The nested ViewPoint is kept as its complete versioned frame, byte for byte, so every
// field of every version it was written in goes from input to output unchanged. A frame
// can be delimited only by its size field: in legacy containers, which have none, view
// point records cannot be read (the reader is given the container's version).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kiv/mox/actions.hpp"
#include "kiv/rkf/versioned.hpp"

namespace KivRkf {
class RkFile;
}

namespace KivMox {

inline constexpr const char* kViewPoints = "View Points";

// A versioned record carried as its stored bytes (size field included).
struct RawFrame {
  std::vector<std::uint8_t> bytes;
  // A frame of the given version with no payload.
  static RawFrame Empty(const std::string& version);
  // The frame of a new view point: version "0.5", no payload (made once).
  static const RawFrame& DefaultViewPoint();
  // A frame of the given version whose payload is the given bytes.
  static RawFrame WithPayload(const std::string& version, const std::vector<std::uint8_t>& payload);
  std::string Version() const;
  bool operator==(const RawFrame& other) const = default;
};

struct ViewPointEntry {
  std::uint8_t flag = 1;  // the version "0.2" group
  std::string name = "no name";
  std::array<std::uint32_t, 3> valuesA = {0, 0, 0};
  std::array<std::uint32_t, 4> valuesB = {0, 0, 0, 0};
  std::array<std::uint32_t, 3> valuesC = {0, 0, 0};
  float fieldOfView = 0.785f;
  float aspect = 0.75f;
  std::array<float, 16> matrix = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  float nearValue = 1.0f;
  float farValue = 100.0f;
  std::array<std::uint32_t, 3> valuesD = {0, 0, 0};
  std::array<std::uint32_t, 4> valuesE = {0, 0, 0, 0};
  RawFrame viewPoint = RawFrame::DefaultViewPoint();
  // The version of the record as read (empty for an entry made here); a save writes "0.2".
  std::string storedVersion;

  bool operator==(const ViewPointEntry& other) const = default;
};

struct ViewPointGroup {
  std::string name;
  std::vector<ViewPointEntry> entries;
  bool operator==(const ViewPointGroup& other) const = default;
};

struct ViewPoints {
  ViewPointEntry current;
  std::vector<ViewPointGroup> groups;
  ActionCollection actions;
  bool present = false;  // hasViewPoints
};

// Reads the section into views, its versioned records framed as containers of
// containerVersion frame them: the current view point is replaced, groups are appended,
// actions read into the collection. Never fails: a failure while reading the current view
// point or the groups drops every group and leaves present false; a failure while reading
// the actions keeps the groups and sets present. With failure given, the message of such a
// failure is put there, after "view points: " or "actions: ".
// With place given, it tells where the last read stood: the group and entry being read
// (from 0, -1 before the first) and their names as far as they were read.
struct ViewPointsReadPlace {
  std::int64_t group = -1, entry = -1;
  std::string groupName, entryName;
};
void ReadViewPoints(KivRkf::RkFile& file, ViewPoints& views, const std::string& containerVersion,
                    std::string* failure = nullptr, ViewPointsReadPlace* place = nullptr);
void WriteViewPoints(KivRkf::RkFile& file, const ViewPoints& views);

}  // namespace KivMox

namespace KivRkf {

template <>
struct Codec<KivMox::RawFrame> {
  static constexpr std::uint32_t kMinSize = 4;
  static void Put(Block& b, const KivMox::RawFrame& v);
  static void Get(Block& b, KivMox::RawFrame& v, SizeField sizes = SizeField::Stored);
};

template <>
struct VersionedRecord<KivMox::ViewPointEntry> {
  static std::string Version(const KivMox::ViewPointEntry&) { return "0.2"; }
  static constexpr int kGroups = 2;
  template <class Io, class E>
  static void Fields(Io& io, E& e, int group) {
    if (group == 2) {
      io(e.flag);
      return;
    }
    io(e.name, e.valuesA, e.valuesB, e.valuesC, e.fieldOfView, e.aspect, e.matrix, e.nearValue,
       e.farValue, e.valuesD, e.valuesE, e.viewPoint);
  }
  static void KeepVersion(KivMox::ViewPointEntry& e, const std::string& v) { e.storedVersion = v; }
};

}  // namespace KivRkf
