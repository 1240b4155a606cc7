#include "kiv/mox/view_points.hpp"

#include <cstring>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/exception.hpp"

namespace KivRkf {

void Codec<KivMox::RawFrame>::Put(Block& b, const KivMox::RawFrame& v) {
  if (!v.bytes.empty()) b.Put(v.bytes.data(), static_cast<std::uint32_t>(v.bytes.size()));
}

// The nested frame is read as any versioned record is framed: its size, then its version
// string, which must lie inside the frame (code 2) and inside the block (code 1). What the
// frame holds after its version is not ours to interpret and is kept as it stands; a frame
// reaching past its enclosing entry fails the entry's own end check.
void Codec<KivMox::RawFrame>::Get(Block& b, KivMox::RawFrame& v) {
  KIV_CHECK(!IsLegacyContainerVersion(CurrentContainerVersion()), FormatNotSupported,
            "View point records of legacy containers have no size and cannot be read",
            "KivRkf::CopyFromBlock_Versioned");
  const VersionedFrame::ReadState frame = VersionedFrame::BeginRead(b);
  VersionedFrame::EndRead(b, frame);
  const std::uint8_t* start = b.Data() + frame.start;
  v.bytes.assign(start, start + frame.size);
}

void VersionedRecord<KivMox::ViewPointEntry>::Put(Block& b, const KivMox::ViewPointEntry& e,
                                                  int group) {
  if (group == 2) {
    b.Put(e.flag);
    return;
  }
  b.Put(e.name);
  b.Put(e.valuesA);
  b.Put(e.valuesB);
  b.Put(e.valuesC);
  b.Put(e.fieldOfView);
  b.Put(e.aspect);
  b.Put(e.matrix);
  b.Put(e.nearValue);
  b.Put(e.farValue);
  b.Put(e.valuesD);
  b.Put(e.valuesE);
  b.Put(e.viewPoint);
}

void VersionedRecord<KivMox::ViewPointEntry>::Get(Block& b, KivMox::ViewPointEntry& e, int group) {
  if (group == 2) {
    b.Get(e.flag);
    return;
  }
  b.Get(e.name);
  b.Get(e.valuesA);
  b.Get(e.valuesB);
  b.Get(e.valuesC);
  b.Get(e.fieldOfView);
  b.Get(e.aspect);
  b.Get(e.matrix);
  b.Get(e.nearValue);
  b.Get(e.farValue);
  b.Get(e.valuesD);
  b.Get(e.valuesE);
  b.Get(e.viewPoint);
}

}  // namespace KivRkf

namespace KivMox {

RawFrame RawFrame::WithPayload(const std::string& version,
                               const std::vector<std::uint8_t>& payload) {
  KivRkf::Block block;
  block.Put(std::uint32_t{0});
  block.Put(version);
  if (!payload.empty()) block.Put(payload.data(), static_cast<std::uint32_t>(payload.size()));
  std::uint32_t size = block.Size();
  block.SetPosition(std::uint32_t{0});
  block.Put(size);
  RawFrame frame;
  frame.bytes.assign(block.Data(), block.Data() + size);
  return frame;
}

RawFrame RawFrame::Empty(const std::string& version) {
  return WithPayload(version, {});
}

const RawFrame& RawFrame::DefaultViewPoint() {
  static const RawFrame frame = Empty("0.5");
  return frame;
}

std::string RawFrame::Version() const {
  if (bytes.size() < 8) return {};
  std::uint32_t n = 0;
  std::memcpy(&n, bytes.data() + 4, 4);
  if (n > bytes.size() - 8) return {};
  return std::string(reinterpret_cast<const char*>(bytes.data() + 8), n);
}

void ReadViewPoints(KivRkf::RkFile& file, ViewPoints& views, std::string* failure,
                    ViewPointsReadPlace* place) {
  KivRkf::IndexReader& index = file.Reader();
  ViewPointsReadPlace unused;
  ViewPointsReadPlace& at = place ? *place : unused;
  ViewPointEntry entry;  // outside the loop: a failed read leaves the name it got to
  try {
    file.EnsureIndex();
    KIV_CHECK(index.HasName(kViewPoints), ElementNotFound, nullptr, "KivMox::Tree::LoadViewPoints");
    index.Get(kViewPoints, views.current);
    std::uint32_t groups = 0;
    index.Get(kViewPoints, groups);
    for (std::uint32_t g = 0; g < groups; ++g) {
      at = ViewPointsReadPlace{g, -1, {}, {}};
      ViewPointGroup group;
      index.Get(kViewPoints, group.name);
      at.groupName = group.name;
      std::uint32_t entries = 0;
      index.Get(kViewPoints, entries);
      for (std::uint32_t i = 0; i < entries; ++i) {
        at.entry = i;
        entry = ViewPointEntry{};
        entry.name.clear();
        index.Get(kViewPoints, entry);
        group.entries.push_back(std::move(entry));
      }
      at.entry = -1;
      views.groups.push_back(std::move(group));
    }
    at = ViewPointsReadPlace{};
  } catch (const std::exception& e) {
    if (at.entry >= 0) at.entryName = entry.name;
    views.groups.clear();
    views.present = false;
    if (failure) *failure = "view points: " + Kiv::Util::DescriptionOf(e);
    return;
  }
  try {
    index.Get(kViewPoints, views.actions);
  } catch (const std::exception& e) {
    if (failure) *failure = "actions: " + Kiv::Util::DescriptionOf(e);
  }
  views.present = true;
}

void WriteViewPoints(KivRkf::RkFile& file, const ViewPoints& views) {
  KivRkf::IndexWriter& index = file.Writer();
  index.Put(kViewPoints, views.current);
  index.Put(kViewPoints, static_cast<std::uint32_t>(views.groups.size()));
  for (const auto& group : views.groups) {
    index.Put(kViewPoints, group.name);
    index.Put(kViewPoints, static_cast<std::uint32_t>(group.entries.size()));
    for (const auto& entry : group.entries) index.Put(kViewPoints, entry);
  }
  index.Put(kViewPoints, views.actions);
  file.SetBlockFlags(kViewPoints, KivRkf::kFlagZlib);
}

}  // namespace KivMox
