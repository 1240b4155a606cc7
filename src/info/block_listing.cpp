// Reading a container's block table for moxinfo --blocks (block_listing.hpp).
#include "info/block_listing.hpp"

#include <sys/stat.h>

#include <cstdio>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/display_text.hpp"

namespace MoxInfo {

using Kiv::Util::DisplayText;

BlockListing ReadBlockListing(const std::string& path) {
  const char* method = "MoxInfo::ReadBlockListing";
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  KIV_CHECK(file.IsContainerFile(), FormatNotSupported, path + " is not a Mox file", method);
  BlockListing table;
  table.version = file.ReadVersion();
  struct stat st {};
  KIV_CHECK(fstat(fileno(file.Stream()), &st) == 0, ReadError, "Unable to read from file", method);
  table.fileSize = static_cast<std::uint64_t>(st.st_size);
  file.ReadIndex();
  const KivRkf::BlockTable& index = file.Reader().Table();
  table.primaryOffset = index.HeaderSize();
  table.primaryLength = index.IndexBufferSize();
  const auto& blocks = index.Blocks();
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const KivRkf::BlockInfo& info = blocks[b];
    table.rows.push_back({b, info.serial, info.name, info.storedSize, info.flags, info.offset});
  }
  file.CloseFile();
  return table;
}

std::string BlockNameText(const std::string& name) {
  if (name == KivRkf::kEmptyBlockName) return "<Empty Block>";
  if (name == KivRkf::kIndexBlockName) return "<Index Block>";
  return DisplayText(name);
}

std::string BlockFlagsText(std::uint8_t flags) {
  std::string text;
  const auto add = [&](const std::string& part) { text += (text.empty() ? "" : ",") + part; };
  if (flags & KivRkf::kFlagZlib) add("zlib");
  if (flags & KivRkf::kFlagStreaming) add("streaming");
  const std::uint8_t other = flags & ~(KivRkf::kFlagZlib | KivRkf::kFlagStreaming);
  if (other) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", other);
    add(hex);
  }
  return text.empty() ? "-" : text;
}

}  // namespace MoxInfo
