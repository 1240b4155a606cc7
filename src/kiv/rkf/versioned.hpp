// Versioned records: a frame that lets a reader take records written by older and newer
// programs.
//
//   u32     size: bytes from the first byte of this field to the end of the record
//           (absent in containers of the versions "0.1", "0.1a", "0.1b", "0.2"; a reader
//           is told by its caller whether the records it reads have it)
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
//   template <class Io, class R> static void Fields(Io& io, R& record, int group);
//       the fields of one group in stored order, for writing (Io = BlockWriterIo, R =
//       const T) and reading (BlockReaderIo, T) alike (record_io.hpp);
//   static void Put(BlockWriterIo&, const T&, int group);   optional, instead of Fields
//   static void Get(BlockReaderIo&, T&, int group);         optional, instead of Fields
// A type gives Put or Get only where one direction does more than its fields (a reader's
// checks, say), and calls Fields from there for what the two have in common.
// It then also gets a Codec, so Block::Put/Get, IndexWriter::Put, IndexReader::Get and std::vector<T> work.
// A type read in sequences also gives static constexpr std::uint32_t kMinPayload, the
// fewest bytes its group 1 takes, so that a count is checked against what the records
// really need, not against 4 bytes each. A type that keeps the version it was read under
// gives static void KeepVersion(T&, const std::string&).
#pragma once

#include <cstdint>
#include <string>

#include "kiv/rkf/block.hpp"
#include "kiv/rkf/record_io.hpp"

namespace KivRkf {

// "0.1", "0.1a", "0.1b" and "0.2": containers whose versioned records have no size.
bool IsLegacyContainerVersion(const std::string& version);
// How the versioned records of a container of the version are framed.
inline SizeField SizeFieldOf(const std::string& containerVersion) {
  return IsLegacyContainerVersion(containerVersion) ? SizeField::Absent : SizeField::Stored;
}

template <class T>
struct VersionedRecord;

template <class T>
concept Versioned = requires {
  VersionedRecord<T>::kGroups;
};

namespace VersionedFrame {

// One group of a record: VersionedRecord<T>::Put or Get when the type gives it, else its
// Fields.
template <class T>
void PutGroup(BlockWriterIo& io, const T& record, int group) {
  if constexpr (requires { VersionedRecord<T>::Put(io, record, group); })
    VersionedRecord<T>::Put(io, record, group);
  else
    VersionedRecord<T>::Fields(io, record, group);
}

template <class T>
void GetGroup(BlockReaderIo& io, T& record, int group) {
  if constexpr (requires { VersionedRecord<T>::Get(io, record, group); })
    VersionedRecord<T>::Get(io, record, group);
  else
    VersionedRecord<T>::Fields(io, record, group);
}

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
// Reads the size (when stored) and the version; a size that cannot hold the frame or
// reaches past the block fails before anything else is read.
ReadState BeginRead(Block& block, SizeField sizes);
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
  BlockWriterIo io(block);
  VersionedFrame::PutGroup(io, record, 1);
  for (int k = 2; k <= R::kGroups && version != VersionedFrame::GroupVersion(k - 1); ++k)
    VersionedFrame::PutGroup(io, record, k);
  VersionedFrame::EndWrite(block, start);
}

// sizes: whether the record, and the records nested in it, carry their size field.
template <Versioned T>
void CopyFromBlock_Versioned(Block& block, T& record, SizeField sizes = SizeField::Stored) {
  using R = VersionedRecord<T>;
  static_assert(R::kGroups >= 1 && R::kGroups <= 8, "versioned records have 1 to 8 groups");
  const VersionedFrame::ReadState state = VersionedFrame::BeginRead(block, sizes);
  BlockReaderIo io(block, sizes);
  VersionedFrame::GetGroup(io, record, 1);
  bool stopped = false;
  for (int k = 2; k <= 7 && !stopped; ++k) {
    stopped = state.version == VersionedFrame::GroupVersion(k - 1);
    if (!stopped && k <= R::kGroups) VersionedFrame::GetGroup(io, record, k);
  }
  if constexpr (R::kGroups == 8) {
    if (!stopped && state.version != VersionedFrame::GroupVersion(7))
      VersionedFrame::GetGroup(io, record, 8);
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
  static void Get(Block& b, T& v, SizeField sizes = SizeField::Stored) {
    CopyFromBlock_Versioned(b, v, sizes);
  }
};

}  // namespace KivRkf
