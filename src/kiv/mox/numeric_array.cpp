#include "kiv/mox/numeric_array.hpp"

#include <new>

#include "kiv/log/raise.hpp"

namespace KivMox {

std::uint8_t* NumericArray::Allocate(std::uint64_t size) {
  // Held as 32-bit words so that the values can be read in place as integers or floats.
  std::shared_ptr<std::uint32_t[]> words;
  try {
    words = std::make_shared_for_overwrite<std::uint32_t[]>(size / 4 + 1);  // never empty
  } catch (const std::bad_alloc&) {
    KIV_RAISE(MemoryAllocation, nullptr, "KivMox::NumericArray::Allocate");
  }
  data = std::shared_ptr<std::uint8_t[]>(words, reinterpret_cast<std::uint8_t*>(words.get()));
  byteSize = size;
  ownsData = 1;
  return data.get();
}

}  // namespace KivMox
