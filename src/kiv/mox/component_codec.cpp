// Byte-plane shuffling of heavy array values (format in component_codec.hpp).
//
// A run of 16 consecutive values of one plane is a 4 x 16 byte transpose, done with SSE2
// unpack instructions where they exist and byte by byte otherwise. Component planes of
// c >= 2 are gathered (or scattered) tile by tile through a scratch buffer that stays in
// the second-level cache, so every byte of the input and output passes through memory
// once.
#include "kiv/mox/component_codec.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace KivMox {

namespace {

// Values of one component handled per tile (32 KiB of scratch per plane): long enough
// runs per output row for the prefetchers, short enough to stay in the second-level cache.
constexpr std::uint64_t kTileValues = 8192;

std::unique_ptr<std::uint8_t[]> Scratch(std::uint64_t planes) {
  return std::make_unique_for_overwrite<std::uint8_t[]>(planes * kTileValues * 4);
}

// Items per tile for c components: the input of a tile (read once per component) stays
// within about 96 KiB; a multiple of 16 between 16 and kTileValues.
std::uint64_t TileItems(std::uint64_t c) {
  return std::clamp<std::uint64_t>(98304 / (4 * c) / 16 * 16, 16, kTileValues);
}

// Bytes of count values at in -> rows out + b*stride (b = 0..3), one byte per value.
void ShuffleScalar(const std::uint8_t* in, std::uint8_t* out, std::uint64_t stride,
                   std::uint64_t count) {
  for (std::uint64_t j = 0; j < count; ++j)
    for (std::uint64_t b = 0; b < 4; ++b) out[b * stride + j] = in[4 * j + b];
}

void UnshuffleScalar(const std::uint8_t* in, std::uint64_t stride, std::uint8_t* out,
                     std::uint64_t count) {
  for (std::uint64_t j = 0; j < count; ++j)
    for (std::uint64_t b = 0; b < 4; ++b) out[4 * j + b] = in[b * stride + j];
}

#if defined(__SSE2__)
// Register r holds input bytes 16r .. 16r + 15, that is byte k of value i at (r, p) with
// 4i + k = 16r + p. Three rounds of byte interleaving between registers r and r + 2 and
// one round of 32-bit interleaving between r and r + 1 leave byte k of value i at
// register k, position i.
inline void Shuffle16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t stride) {
  __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
  __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
  __m128i a3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48));
  for (int round = 0; round < 3; ++round) {
    __m128i t0 = _mm_unpacklo_epi8(a0, a2);
    __m128i t2 = _mm_unpackhi_epi8(a0, a2);
    __m128i t1 = _mm_unpacklo_epi8(a1, a3);
    __m128i t3 = _mm_unpackhi_epi8(a1, a3);
    a0 = t0;
    a1 = t1;
    a2 = t2;
    a3 = t3;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(a0, a1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + stride), _mm_unpackhi_epi32(a0, a1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * stride), _mm_unpacklo_epi32(a2, a3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * stride), _mm_unpackhi_epi32(a2, a3));
}

// Register k holds byte k of values 0..15. Interleaving bytes of planes (0, 2), (1, 3)
// and then of the two results gives the values back in order, four per register.
inline void Unshuffle16(const std::uint8_t* in, std::uint64_t stride, std::uint8_t* out) {
  __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + stride));
  __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * stride));
  __m128i b3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * stride));
  __m128i t0 = _mm_unpacklo_epi8(b0, b2);
  __m128i t2 = _mm_unpackhi_epi8(b0, b2);
  __m128i t1 = _mm_unpacklo_epi8(b1, b3);
  __m128i t3 = _mm_unpackhi_epi8(b1, b3);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi8(t2, t3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi8(t2, t3));
}
#endif

// count contiguous values at in -> byte rows out + b*stride.
void ShuffleRun(const std::uint8_t* in, std::uint8_t* out, std::uint64_t stride,
                std::uint64_t count) {
  std::uint64_t j = 0;
#if defined(__SSE2__)
  for (; j + 16 <= count; j += 16) Shuffle16(in + 4 * j, out + j, stride);
#endif
  ShuffleScalar(in + 4 * j, out + j, stride, count - j);
}

// byte rows in + b*stride -> count contiguous values at out.
void UnshuffleRun(const std::uint8_t* in, std::uint64_t stride, std::uint8_t* out,
                  std::uint64_t count) {
  std::uint64_t j = 0;
#if defined(__SSE2__)
  for (; j + 16 <= count; j += 16) Unshuffle16(in + j, stride, out + 4 * j);
#endif
  UnshuffleScalar(in + j, stride, out + 4 * j, count - j);
}

// Three components (vectors, the common case): the three planes of a tile are split
// apart (or joined) in one pass, four items at a time.
#if defined(__SSE2__)
// x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3  ->  x0..x3 | y0..y3 | z0..z3
inline void SplitFour(const std::uint8_t* in, std::uint8_t* x, std::uint8_t* y, std::uint8_t* z) {
  __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
  __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)));
  __m128 c = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32)));
  __m128 x2y2x3y3 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 1, 3, 2));
  __m128 y0z0y1z1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 2, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(x),
                   _mm_castps_si128(_mm_shuffle_ps(a, x2y2x3y3, _MM_SHUFFLE(2, 0, 3, 0))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y),
                   _mm_castps_si128(_mm_shuffle_ps(y0z0y1z1, x2y2x3y3, _MM_SHUFFLE(3, 1, 2, 0))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(z),
                   _mm_castps_si128(_mm_shuffle_ps(y0z0y1z1, c, _MM_SHUFFLE(3, 0, 3, 1))));
}

// The inverse of SplitFour.
inline void JoinFour(const std::uint8_t* x, const std::uint8_t* y, const std::uint8_t* z,
                     std::uint8_t* out) {
  __m128 xs = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)));
  __m128 ys = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
  __m128 zs = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(z)));
  __m128 x0x1y0y1 = _mm_shuffle_ps(xs, ys, _MM_SHUFFLE(1, 0, 1, 0));
  __m128 z0z0x1x1 = _mm_shuffle_ps(zs, xs, _MM_SHUFFLE(1, 1, 0, 0));
  __m128 y1y2z1z2 = _mm_shuffle_ps(ys, zs, _MM_SHUFFLE(2, 1, 2, 1));
  __m128 x2x3y2y3 = _mm_shuffle_ps(xs, ys, _MM_SHUFFLE(3, 2, 3, 2));
  __m128 z2z2x3x3 = _mm_shuffle_ps(zs, xs, _MM_SHUFFLE(3, 3, 2, 2));
  __m128 y3y3z3z3 = _mm_shuffle_ps(ys, zs, _MM_SHUFFLE(3, 3, 3, 3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_castps_si128(_mm_shuffle_ps(x0x1y0y1, z0z0x1x1, _MM_SHUFFLE(2, 0, 2, 0))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                   _mm_castps_si128(_mm_shuffle_ps(y1y2z1z2, x2x3y2y3, _MM_SHUFFLE(2, 0, 2, 0))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                   _mm_castps_si128(_mm_shuffle_ps(z2z2x3x3, y3y3z3z3, _MM_SHUFFLE(2, 0, 2, 0))));
}
#endif

// count items at in -> the three value runs planes[0..2].
void Split(const std::uint8_t* in, std::uint8_t* const planes[3], std::uint64_t count) {
  std::uint64_t j = 0;
#if defined(__SSE2__)
  for (; j + 4 <= count; j += 4)
    SplitFour(in + 12 * j, planes[0] + 4 * j, planes[1] + 4 * j, planes[2] + 4 * j);
#endif
  for (; j < count; ++j)
    for (int k = 0; k < 3; ++k) std::memcpy(planes[k] + 4 * j, in + 12 * j + 4 * k, 4);
}

void Join(const std::uint8_t* const planes[3], std::uint8_t* out, std::uint64_t count) {
  std::uint64_t j = 0;
#if defined(__SSE2__)
  for (; j + 4 <= count; j += 4)
    JoinFour(planes[0] + 4 * j, planes[1] + 4 * j, planes[2] + 4 * j, out + 12 * j);
#endif
  for (; j < count; ++j)
    for (int k = 0; k < 3; ++k) std::memcpy(out + 12 * j + 4 * k, planes[k] + 4 * j, 4);
}

// The two directions over the same tiles: encoding takes values (in) to byte planes (out),
// decoding byte planes (in) to values (out). Planes hold m values each; a tile covers count
// items from item j0.
struct Encoding {
  // Three components, their planes split apart in scratch.
  static void ThreeTile(const std::uint8_t* in, std::uint8_t* out, std::uint8_t* const planes[3],
                        std::uint64_t m, std::uint64_t j0, std::uint64_t count) {
    Split(in + 12 * j0, planes, count);
    for (std::uint64_t k = 0; k < 3; ++k) ShuffleRun(planes[k], out + 4 * k * m + j0, m, count);
  }
  // Component k of c, gathered in scratch.
  static void ComponentTile(const std::uint8_t* in, std::uint8_t* out, std::uint8_t* scratch,
                            std::uint64_t c, std::uint64_t k, std::uint64_t m, std::uint64_t j0,
                            std::uint64_t count) {
    const std::uint8_t* tile = in + 4 * j0 * c;
    for (std::uint64_t j = 0; j < count; ++j)
      std::memcpy(scratch + 4 * j, tile + 4 * (j * c + k), 4);
    ShuffleRun(scratch, out + 4 * k * m + j0, m, count);
  }
  static void Planes(const std::uint8_t* in, std::uint8_t* out, std::uint64_t m) {
    ShuffleRun(in, out, m, m);
  }
};

struct Decoding {
  static void ThreeTile(const std::uint8_t* in, std::uint8_t* out, std::uint8_t* const planes[3],
                        std::uint64_t m, std::uint64_t j0, std::uint64_t count) {
    for (std::uint64_t k = 0; k < 3; ++k) UnshuffleRun(in + 4 * k * m + j0, m, planes[k], count);
    Join(planes, out + 12 * j0, count);
  }
  static void ComponentTile(const std::uint8_t* in, std::uint8_t* out, std::uint8_t* scratch,
                            std::uint64_t c, std::uint64_t k, std::uint64_t m, std::uint64_t j0,
                            std::uint64_t count) {
    UnshuffleRun(in + 4 * k * m + j0, m, scratch, count);
    std::uint8_t* tile = out + 4 * j0 * c;
    for (std::uint64_t j = 0; j < count; ++j)
      std::memcpy(tile + 4 * (j * c + k), scratch + 4 * j, 4);
  }
  static void Planes(const std::uint8_t* in, std::uint8_t* out, std::uint64_t m) {
    UnshuffleRun(in, m, out, m);
  }
};

// Values per plane, or 0 when every byte is carried as it is.
std::uint64_t PlaneLength(std::uint64_t byteSize, std::uint8_t components) {
  return components == 0 ? 0 : byteSize / 4 / components;
}

template <class Direction>
void Transcode(const std::uint8_t* in, std::uint8_t* out, std::uint64_t byteSize,
               std::uint8_t components) {
  const std::uint64_t c = components;
  const std::uint64_t m = PlaneLength(byteSize, components);
  if (m == 0) {
    // Nothing but remainder values and trailing bytes.
  } else if (c == 1) {
    Direction::Planes(in, out, m);
  } else if (c == 3) {
    auto scratch = Scratch(3);
    std::uint8_t* const planes[3] = {scratch.get(), scratch.get() + kTileValues * 4,
                                     scratch.get() + 2 * kTileValues * 4};
    for (std::uint64_t j0 = 0; j0 < m; j0 += kTileValues)
      Direction::ThreeTile(in, out, planes, m, j0, std::min(kTileValues, m - j0));
  } else {
    auto scratch = Scratch(1);
    const std::uint64_t items = TileItems(c);
    for (std::uint64_t j0 = 0; j0 < m; j0 += items) {
      const std::uint64_t count = std::min(items, m - j0);
      for (std::uint64_t k = 0; k < c; ++k)
        Direction::ComponentTile(in, out, scratch.get(), c, k, m, j0, count);
    }
  }
  const std::uint64_t done = 4 * m * c;
  if (byteSize > done) std::memcpy(out + done, in + done, byteSize - done);
}

}  // namespace

void EncodeComponents(const std::uint8_t* in, std::uint8_t* out, std::uint64_t byteSize,
                      std::uint8_t components) {
  Transcode<Encoding>(in, out, byteSize, components);
}

void DecodeComponents(const std::uint8_t* in, std::uint8_t* out, std::uint64_t byteSize,
                      std::uint8_t components) {
  Transcode<Decoding>(in, out, byteSize, components);
}

}  // namespace KivMox
