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
void Codec<KivMox::RawFrame>::Get(Block& b, KivMox::RawFrame& v, SizeField sizes) {
  KIV_CHECK(sizes == SizeField::Stored, FormatNotSupported,
            "View point records of legacy containers have no size and cannot be read",
            "KivRkf::CopyFromBlock_Versioned");
  const VersionedFrame::ReadState frame = VersionedFrame::BeginRead(b, sizes);
  VersionedFrame::EndRead(b, frame);
  const std::uint8_t* start = b.Data() + frame.start;
  v.bytes.assign(start, start + frame.size);
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

void ReadViewPoints(KivRkf::RkFile& file, ViewPoints& views, const std::string& containerVersion,
                    std::string* failure, ViewPointsReadPlace* place) {
  KivRkf::IndexReader& index = file.Reader();
  // The next value of the section, as IndexReader::Get reads it, with the container's framing.
  const KivRkf::SizeField sizes = KivRkf::SizeFieldOf(containerVersion);
  const auto get = [&](auto& value) {
    if (KivRkf::Block* block = index.ReadingBlock(kViewPoints))
      KivRkf::GetValue(*block, value, sizes);
  };
  ViewPointsReadPlace unused;
  ViewPointsReadPlace& at = place ? *place : unused;
  ViewPointEntry entry;  // outside the loop: a failed read leaves the name it got to
  try {
    file.EnsureIndex();
    KIV_CHECK(index.HasName(kViewPoints), ElementNotFound, nullptr, "KivMox::Tree::LoadViewPoints");
    get(views.current);
    std::uint32_t groups = 0;
    get(groups);
    for (std::uint32_t g = 0; g < groups; ++g) {
      at = ViewPointsReadPlace{g, -1, {}, {}};
      ViewPointGroup group;
      get(group.name);
      at.groupName = group.name;
      std::uint32_t entries = 0;
      get(entries);
      for (std::uint32_t i = 0; i < entries; ++i) {
        at.entry = i;
        entry = ViewPointEntry{};
        entry.name.clear();
        get(entry);
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
    get(views.actions);
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
