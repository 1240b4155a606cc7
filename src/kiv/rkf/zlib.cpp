// zlib framing of blocks on libdeflate: u32 LE uncompressed length, then the zlib stream.
// Compression writes straight into a fresh buffer that becomes the block's; decompression
// inflates straight into the buffer that replaces the compressed bytes.
#include "kiv/rkf/zlib.hpp"

#include <libdeflate.h>

#include "kiv/log/raise.hpp"

namespace KivRkf {

namespace {

constexpr std::uint32_t kLengthField = 4;
// DEFLATE inflates at most 1032:1 (a 258-byte match coded in two bits); the slack covers
// the fixed bytes of a tiny stream.
constexpr std::uint64_t kMaxRatio = 1032;
constexpr std::uint64_t kSlack = 1024;

constexpr const char* kCompress = "KivRkf::BlockZlibCompressor::operator ()";
constexpr const char* kUnCompress = "KivRkf::BlockZlibUnCompressor::operator ()";

// A buffer of at least bytes bytes, from the spare when there is one (an empty spare
// hands out a fresh buffer).
MallocBuffer Allocate(std::uint64_t bytes, SpareBuffer* spare, std::uint64_t& capacity) {
  SpareBuffer none;
  return (spare ? *spare : none).Take(bytes, capacity);
}

}  // namespace

std::optional<std::uint32_t> FramedLength(const std::uint8_t* first4, std::uint64_t stored) {
  if (stored < kLengthField) return std::nullopt;
  const std::uint32_t length = std::uint32_t(first4[0]) | std::uint32_t(first4[1]) << 8 |
                               std::uint32_t(first4[2]) << 16 | std::uint32_t(first4[3]) << 24;
  if (length > kMaxRatio * (stored - kLengthField) + kSlack) return std::nullopt;
  return length;
}

InflateOutcome InflateFramingExactly(const std::uint8_t* framing, std::uint64_t stored,
                                     std::uint32_t length, std::uint8_t* out) {
  const std::optional<std::uint32_t> framed = FramedLength(framing, stored);
  if (!framed || *framed != length) return InflateOutcome::Damaged;
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return InflateOutcome::NoMemory;
  std::size_t produced = 0, consumed = 0;
  const libdeflate_result r = libdeflate_zlib_decompress_ex(
      d, framing + kLengthField, stored - kLengthField, out, length, &consumed, &produced);
  libdeflate_free_decompressor(d);
  return r == LIBDEFLATE_SUCCESS && produced == length ? InflateOutcome::Done
                                                       : InflateOutcome::Damaged;
}

std::string DescribeFramingDamage(const std::uint8_t* framing, std::uint64_t stored,
                                  std::uint8_t* out, bool* lengthLies) {
  if (lengthLies) *lengthLies = false;
  if (stored < kLengthField) return "the block is too short for its length field";
  const std::optional<std::uint32_t> length = FramedLength(framing, stored);
  if (!length)
    return "the length field declares more bytes than " + std::to_string(stored) +
           " stored bytes can inflate to";
  const std::string declared = "the length field declares " + std::to_string(*length) + " bytes";
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return "no memory to inflate the block";
  std::size_t produced = 0;
  const libdeflate_result r = libdeflate_zlib_decompress(
      d, framing + kLengthField, stored - kLengthField, out, *length, &produced);
  libdeflate_free_decompressor(d);
  const bool shorter =
      r == LIBDEFLATE_SHORT_OUTPUT || (r == LIBDEFLATE_SUCCESS && produced != *length);
  if (lengthLies) *lengthLies = shorter || r == LIBDEFLATE_INSUFFICIENT_SPACE;
  if (shorter) return declared + ", the zlib stream inflates to " + std::to_string(produced);
  if (r == LIBDEFLATE_INSUFFICIENT_SPACE) return declared + ", the zlib stream inflates to more";
  if (r == LIBDEFLATE_SUCCESS) return "the block inflates as declared";
  return "the zlib stream is damaged (its data or its checksum)";
}

void BlockZlibCompressor::Free::operator()(libdeflate_compressor* c) const {
  libdeflate_free_compressor(c);
}

void BlockZlibUnCompressor::Free::operator()(libdeflate_decompressor* d) const {
  libdeflate_free_decompressor(d);
}

BlockZlibCompressor::BlockZlibCompressor(int level)
    : compressor_(libdeflate_alloc_compressor(level)), level_(level) {}

BlockZlibCompressor::Outcome BlockZlibCompressor::Pack(Block& block, SpareBuffers* spares) {
  if (!compressor_) return Outcome::NoMemory;
  const std::uint32_t n = block.Size();
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor_.get(), n);
  std::uint64_t capacity = 0;
  MallocBuffer out =
      Allocate(kLengthField + std::uint64_t(bound), spares ? &spares->packed : nullptr, capacity);
  if (!out) return Outcome::NoMemory;
  const std::size_t c =
      libdeflate_zlib_compress(compressor_.get(), block.Data(), n, out.get() + kLengthField, bound);
  if (c == 0 || c > 0xFFFFFFFFu - kLengthField) {
    if (spares) spares->packed.Keep(std::move(out), capacity);
    return Outcome::Failed;
  }
  // The new buffer replaces the old one; the length field goes into its reserved front.
  for (std::uint32_t i = 0; i < kLengthField; ++i) out[i] = std::uint8_t(n >> (8 * i));
  std::uint64_t oldCapacity = 0;
  MallocBuffer raw = block.Exchange(std::move(out), static_cast<std::uint32_t>(kLengthField + c),
                                    capacity, &oldCapacity);
  if (spares) spares->raw.Keep(std::move(raw), oldCapacity);
  return Outcome::Done;
}

void BlockZlibCompressor::RaiseFor(Outcome outcome) {
  if (outcome == Outcome::NoMemory) KIV_RAISE(MemoryAllocation, nullptr, kCompress);
  if (outcome == Outcome::Failed) KIV_RAISE(WriteError, "Unable to compress block", kCompress);
}

void BlockZlibCompressor::Compress(Block& block, SpareBuffers* spares) {
  RaiseFor(Pack(block, spares));
}

BlockZlibUnCompressor::BlockZlibUnCompressor() : decompressor_(libdeflate_alloc_decompressor()) {}

void BlockZlibUnCompressor::Inflate(Block& block, SpareBuffer* spare) {
  KIV_CHECK(decompressor_, MemoryAllocation, nullptr, kUnCompress);
  const std::uint32_t n = block.Size();
  KIV_CHECK(n >= kLengthField && block.HasBuffer(), ReadError, "Unable to decompress block",
            kUnCompress);
  const std::optional<std::uint32_t> framed = FramedLength(block.Data(), n);
  KIV_CHECK(framed, ReadError, "Unable to decompress block", kUnCompress);
  const std::uint32_t length = *framed;
  const std::uint64_t stream = n - kLengthField;
  std::uint64_t capacity = 0;
  MallocBuffer out = Allocate(length, spare, capacity);
  KIV_CHECK(out, MemoryAllocation, nullptr, kUnCompress);
  std::size_t produced = 0, consumed = 0;
  const libdeflate_result r =
      libdeflate_zlib_decompress_ex(decompressor_.get(), block.Data() + kLengthField, stream,
                                    out.get(), length, &consumed, &produced);
  KIV_CHECK(r == LIBDEFLATE_SUCCESS, ReadError, "Unable to decompress block", kUnCompress);
  block.Adopt(std::move(out), static_cast<std::uint32_t>(produced), capacity);
}

}  // namespace KivRkf
