// FutureNode records in "Light Data": u32 count, then count bytes that are skipped.
#include "kiv/mox/future_node.hpp"

#include <cstdint>

#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"

namespace KivMox {

void ReadFutureNode(FutureNode&, KivRkf::IndexReader& index, const std::string& light) {
  std::uint32_t count = 0;
  index.Get(light, count);
  if (count == 0) return;
  // Skip checks the count against the bytes left in the block before moving.
  if (KivRkf::Block* block = index.ReadingBlock(light)) block->Skip(count);
}

void WriteFutureNode(const FutureNode&, KivRkf::IndexWriter& index) {
  index.Put("Light Data", std::uint32_t{0});
}

}  // namespace KivMox
