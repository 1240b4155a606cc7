#include "kiv/mox/stored_run.hpp"

#include "kiv/log/raise.hpp"
#include "kiv/rkf/index_reader.hpp"

namespace KivMox {

const std::uint8_t* TakeStoredRun(KivRkf::IndexReader& index, const std::string& section,
                                  std::uint64_t byteSize, const char* method) {
  if (byteSize == 0) return nullptr;
  KivRkf::Block* block = index.ReadingBlock(section);
  KIV_CHECK(block && byteSize <= block->Remaining(), OutOfBounds, "Not enough bytes in the block",
            method);
  return block->Skip(static_cast<std::uint32_t>(byteSize));
}

}  // namespace KivMox
