// Heavy values lie in a section as runs of bytes that are never split across blocks
// (a writer puts one array as one run). A run is read in place from the block that
// holds it, so values are decoded straight from the block into their destination.
#pragma once

#include <cstdint>
#include <string>

namespace KivRkf {
class IndexReader;
}

namespace KivMox {

// Takes the byteSize bytes stored at the section's reading position (SetReadingPosition)
// from the block that holds them. The pointer stays valid until the next operation on
// the section; it is null when byteSize is 0. A run that its block cannot supply whole
// raises code 1 "Not enough bytes in the block" (with the given method) before anything
// is allocated.
const std::uint8_t* TakeStoredRun(KivRkf::IndexReader& index, const std::string& section,
                                  std::uint64_t byteSize, const char* method);

}  // namespace KivMox
