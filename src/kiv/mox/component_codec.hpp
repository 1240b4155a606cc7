// The stored form of heavy array values: N little-endian 32-bit values with component
// count c, in a run of bytes of any length (N = byte size / 4).
//
//   c = 0    the bytes as they are
//   c = 1    byte planes: output byte k*N + i is byte k of value i (k = 0..3)
//   c >= 2   M = N / c; component plane k holds values k, c + k, ..., (M - 1)c + k and is
//            byte-shuffled over its M values at bytes 4kM .. 4(k + 1)M - 1; the last N - Mc
//            values follow unshuffled
//
// The 1 to 3 bytes after the last whole value are carried unchanged in both directions.
// Input and output are distinct buffers of byteSize bytes each; nothing outside them is
// read or written.
#pragma once

#include <cstdint>

namespace KivMox {

void EncodeComponents(const std::uint8_t* in, std::uint8_t* out, std::uint64_t byteSize,
                      std::uint8_t components);
void DecodeComponents(const std::uint8_t* in, std::uint8_t* out, std::uint64_t byteSize,
                      std::uint8_t components);

}  // namespace KivMox
