// Versioned records: a frame that lets a reader take records written by older and newer
// programs.
//
//   u32     size: bytes from the first byte of this field to the end of the record
//           (absent while the current container version is "0.1", "0.1a", "0.1b", "0.2")
//   string  version, e.g. "0.3"
//   group 1, group 2, ...  the fields introduced by versions "0.1", "0.2", ...
//
// A record of version "0.k" holds groups 1..k. A reader reads group 1, then group k for
// k = 2.. until the version equals "0.(k-1)"; a type with eight groups reads group 8 when
// the version is none of "0.1".."0.7". With a size, the reader then skips to start + size
// (fields of a newer writer) and fails with code 2 when it has read beyond that end.
//
// A record type T takes part by specialising VersionedRecord<T>:
//   static std::string Version(const T&);      version written by CopyToBlock_Versioned
//   static constexpr int kGroups;              number of the newest group (1..8)
//   static void Put(Block&, const T&, int group);
//   static void Get(Block&, T&, int group);
// It then also gets a Codec, so Block::Put/Get, IndexWriter::Put, IndexReader::Get and
// std::vector<T> work. A type read in sequences also gives static constexpr std::uint32_t
// kMinPayload, the fewest bytes its group 1 takes, so that a count is checked against what the
// records really need, not against 4 bytes each. A type that keeps the version it was read under
// gives static void KeepVersion(T&, const std::string&).
#pragma once

#include <cstdint>
#include <string>

#include "kiv/rkf/block.hpp"

namespace KivRkf {

// The container version of the file whose records are being read; "1.3" outside loading.
std::string CurrentContainerVersion();
void SetCurrentContainerVersion(std::string version);
// "0.1", "0.1a", "0.1b" and "0.2": containers whose versioned records have no size.
bool IsLegacyContainerVersion(const std::string& version);

// Sets the current container version for its lifetime and restores the previous one.
class ScopedContainerVersion {
 public:
  explicit ScopedContainerVersion(std::string version);
  ~ScopedContainerVersion();
  ScopedContainerVersion(const ScopedContainerVersion&) = delete;
  ScopedContainerVersion& operator=(const ScopedContainerVersion&) = delete;

 private:
  std::string previous_;
};

template <class T>
struct VersionedRecord;

template <class T>
concept Versioned = requires {
  VersionedRecord<T>::kGroups;
};

namespace VersionedFrame {

// The frame parts shared by every record type.
struct ReadState {
  std::uint32_t start = 0;
  bool sized = false;
  std::uint32_t size = 0;
  std::string version;
};

// Writes the size placeholder and the version; returns the start of the record.
std::uint32_t BeginWrite(Block& block, const std::string& version);
// Patches the size field and leaves the position after the record.
void EndWrite(Block& block, std::uint32_t start);
// Reads the size (unless legacy) and the version; a size that cannot hold the frame or
// reaches past the block fails before anything else is read.
ReadState BeginRead(Block& block);
// Skips to the end given by the size; fails with code 2 when the groups read beyond it.
void EndRead(Block& block, const ReadState& state);
// "0.k" for k = 1..9.
const std::string& GroupVersion(int k);

}  // namespace VersionedFrame

template <Versioned T>
void CopyToBlock_Versioned(Block& block, const T& record) {
  using R = VersionedRecord<T>;
  const std::string version = R::Version(record);
  const std::uint32_t start = VersionedFrame::BeginWrite(block, version);
  R::Put(block, record, 1);
  for (int k = 2; k <= R::kGroups && version != VersionedFrame::GroupVersion(k - 1); ++k)
    R::Put(block, record, k);
  VersionedFrame::EndWrite(block, start);
}

template <Versioned T>
void CopyFromBlock_Versioned(Block& block, T& record) {
  using R = VersionedRecord<T>;
  static_assert(R::kGroups >= 1 && R::kGroups <= 8, "versioned records have 1 to 8 groups");
  const VersionedFrame::ReadState state = VersionedFrame::BeginRead(block);
  R::Get(block, record, 1);
  bool stopped = false;
  for (int k = 2; k <= 7 && !stopped; ++k) {
    stopped = state.version == VersionedFrame::GroupVersion(k - 1);
    if (!stopped && k <= R::kGroups) R::Get(block, record, k);
  }
  if constexpr (R::kGroups == 8) {
    if (!stopped && state.version != VersionedFrame::GroupVersion(7)) R::Get(block, record, 8);
  }
  VersionedFrame::EndRead(block, state);
  if constexpr (requires { R::KeepVersion(record, state.version); })
    R::KeepVersion(record, state.version);
}

// The fewest bytes of group 1 (which every version has): VersionedRecord<T>::kMinPayload
// when the record type gives one, else 0.
template <class T>
constexpr std::uint32_t MinPayload() {
  if constexpr (requires { VersionedRecord<T>::kMinPayload; })
    return VersionedRecord<T>::kMinPayload;
  else
    return 0;
}

// Every versioned record is one value of the typed encoding. It takes at least the count
// of its version string (a legacy frame has no size field) and its group 1, so a count
// of records is checked against that before the records are allocated.
template <Versioned T>
struct Codec<T, void> {
  static constexpr std::uint32_t kMinSize = 4 + MinPayload<T>();
  static void Put(Block& b, const T& v) { CopyToBlock_Versioned(b, v); }
  static void Get(Block& b, T& v) { CopyFromBlock_Versioned(b, v); }
};

}  // namespace KivRkf
