// Fuzz target for the container layer. The input is a container file (header, primary
// index, blocks). It is opened with KivRkf::RkFile, its block table read (ReadIndex), and
// every named stream read to its end through the index, which loads and decompresses its
// blocks; then each stream is positioned (SetReadingPosition) in its middle and past its
// end, and the moxinfo block listing is made. Every failure must be a
// Kiv::Util::Exception; the table and the bytes read must agree with the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_scratch.hpp"
#include "info/block_listing.hpp"
#include "info/listing_text.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/exception.hpp"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

// Most bytes a compressed block of stored size n may inflate to.
std::uint64_t MostInflated(std::uint64_t n) {
  return 1032 * n + 1024;
}

// Blocks lie one after the other from the end of the primary index.
void CheckTable(const KivRkf::BlockTable& index, std::uint64_t fileSize) {
  const auto& blocks = index.Blocks();
  std::uint64_t offset = index.HeaderSize() + index.IndexBufferSize();
  Require(index.HeaderSize() == 16 && offset <= fileSize, "the primary index lies in the file");
  for (const auto& info : blocks) {
    Require(info.offset == offset, "each block starts where the one before it ends");
    offset += info.storedSize;
  }
  Require(offset <= fileSize, "the blocks of a table that reads lie in the file");
  std::uint64_t listed = 0;
  for (const auto& [name, limiter] : index.Names()) listed += limiter.blocks.size();
  Require(listed == blocks.size(), "every block belongs to exactly one name");
}

// Reads the stream to its end; returns the number of bytes read.
std::uint64_t ReadStream(KivRkf::IndexReader& index, const std::string& name) {
  std::uint64_t total = 0;
  for (;;) {
    KivRkf::Block* block = index.ReadingBlock(name);
    if (!block) break;
    const std::uint32_t left = block->Remaining();
    if (left == 0) break;
    block->Skip(left);
    total += left;
  }
  return total;
}

void CheckStream(KivRkf::RkFile& file, const std::string& name, std::uint64_t fileSize) {
  KivRkf::IndexReader& index = file.Reader();
  std::uint64_t stored = 0, most = 0;
  bool compressed = false;
  for (std::uint64_t b : index.Table().Names().at(name).blocks) {
    const KivRkf::BlockInfo& info = index.Table().Blocks()[b];
    stored += info.storedSize;
    compressed = compressed || (info.flags & KivRkf::kFlagZlib);
    most += (info.flags & KivRkf::kFlagZlib) ? MostInflated(info.storedSize) : info.storedSize;
  }
  const std::uint64_t total = ReadStream(index, name);
  Require(total <= most, "a stream holds no more than its blocks can inflate to");
  // Once read, each block lay in the file.
  for (std::uint64_t b : index.Table().Names().at(name).blocks) {
    const KivRkf::BlockInfo& info = index.Table().Blocks()[b];
    if (index.ReadState(b).loaded)
      Require(info.offset + info.storedSize <= fileSize, "a loaded block lies in the file");
  }
  if (!compressed) Require(total == stored, "an uncompressed stream holds its stored bytes");

  try {
    index.SetReadingPosition(name, total / 2);
    std::uint8_t byte = 0;
    if (total / 2 < total) index.Get(name, byte);
  } catch (const Kiv::Util::Exception&) {
  }
  try {
    index.SetReadingPosition(name, total + 1);
    Require(false, "a position past the end of a stream is refused");
  } catch (const Kiv::Util::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzScratch::Directory& dir = FuzzScratch::Scratch();
  const std::string path = dir.File("input.rk");
  FuzzScratch::Cleanup cleanup({path});
  FuzzScratch::WriteFile(path, data, size);

  KivRkf::RkFile file;
  try {
    file.OpenFile(path, "rb");
    if (!file.IsContainerFile()) return 0;
    bool wide = false;
    file.CheckSupport(file.ReadVersion(), wide);
    file.ReadIndex();
  } catch (const Kiv::Util::Exception&) {
    return 0;
  }
  CheckTable(file.Reader().Table(), size);
  std::vector<std::string> names;
  for (const auto& [name, limiter] : file.Reader().Table().Names()) names.push_back(name);
  for (const auto& name : names) {
    try {
      CheckStream(file, name, size);
    } catch (const Kiv::Util::Exception&) {
    }
  }
  file.CloseFile();

  try {
    const MoxInfo::BlockListing table = MoxInfo::ReadBlockListing(path);
    Require(table.fileSize == size, "the listing gives the file size");
    std::ostringstream out;
    MoxInfo::PrintBlockListing(table, out);
  } catch (const Kiv::Util::Exception&) {
    Require(false, "a table that reads once lists too");
  }
  return 0;
}
