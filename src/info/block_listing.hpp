// The block table of a container file as moxinfo --blocks shows it: one row per block
// of the table (primary index and chained index blocks), in block number order, with the
// file offset at which the block's stored bytes start. Blocks lie one after the other
// from the end of the primary index, so each offset is the previous offset plus the
// previous stored size, and the last block ends at the end of a well-formed file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MoxInfo {

struct BlockRow {
  std::uint64_t number = 0;
  std::uint8_t serial = 0;
  std::string name;  // raw bytes
  std::uint32_t storedSize = 0;
  std::uint8_t flags = 0;
  std::uint64_t offset = 0;
};

struct BlockListing {
  std::string version;  // container version text
  std::uint64_t fileSize = 0;
  std::uint64_t primaryOffset = 0;  // where the primary index content starts
  std::uint64_t primaryLength = 0;  // its length in bytes
  std::vector<BlockRow> rows;
};

// Reads the table of the container at path (KivRkf::RkFile::ReadIndex); raises like
// the loader for a file that cannot be opened, is no container or has a damaged table.
BlockListing ReadBlockListing(const std::string& path);
// The stream name for printing: the two special names as "<Empty Block>" and
// "<Index Block>", others through DisplayText.
std::string BlockNameText(const std::string& name);
// "zlib", "streaming", both joined by "," and other bits as "0xNN"; "-" for none.
std::string BlockFlagsText(std::uint8_t flags);

}  // namespace MoxInfo
