// zlib framing of blocks on libdeflate: u32 LE uncompressed length, then the zlib stream.
// Compression writes straight into a fresh buffer that becomes the block's; decompression
// inflates straight into the buffer that replaces the compressed bytes.
#include "kiv/rkf/zlib.hpp"

#include <libdeflate.h>

#include <cstdlib>

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

std::string Framing::Describe() const {
  const std::string field = "the length field declares " + std::to_string(declared) + " bytes";
  switch (state) {
    case State::Exact:
      return "the block inflates as declared";
    case State::Shorter:
      return field + ", the zlib stream gives " + std::to_string(produced);
    case State::Longer:
      return produced > declared
                 ? field + ", the zlib stream gives " + std::to_string(produced)
                 : field + ", the zlib stream does not end within " + std::to_string(produced) +
                       " bytes (longer, or damaged past them)";
    case State::Damaged:
      return "the zlib stream is damaged (its data or its checksum)";
    case State::TooShort:
      return "the block is too short for its length field";
    case State::Impossible:
      return "the length field declares more bytes than the stored bytes can inflate to";
    case State::NoMemory:
      break;
  }
  return "no memory to inflate the block";
}

Framing InflateFraming(const std::uint8_t* framing, std::uint64_t stored, std::uint8_t* out,
                       bool measureLonger, libdeflate_decompressor* reuse) {
  Framing f;
  if (stored < kLengthField) return f.state = Framing::State::TooShort, f;
  const std::optional<std::uint32_t> length = FramedLength(framing, stored);
  f.declared = std::uint32_t(framing[0]) | std::uint32_t(framing[1]) << 8 |
               std::uint32_t(framing[2]) << 16 | std::uint32_t(framing[3]) << 24;
  if (!length) return f.state = Framing::State::Impossible, f;
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> own(
      reuse ? nullptr : libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  libdeflate_decompressor* d = reuse ? reuse : own.get();
  if (!d) return f.state = Framing::State::NoMemory, f;
  const auto inflate = [&](std::uint8_t* into, std::uint64_t room) {
    std::size_t consumed = 0, produced = 0;
    const libdeflate_result r = libdeflate_zlib_decompress_ex(
        d, framing + kLengthField, stored - kLengthField, into, room, &consumed, &produced);
    f.produced = produced;
    return r;
  };
  switch (inflate(out, *length)) {
    case LIBDEFLATE_SUCCESS:
      f.state = f.produced == *length ? Framing::State::Exact : Framing::State::Shorter;
      return f;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      break;
    default:
      return f.state = Framing::State::Damaged, f;
  }
  f.state = Framing::State::Longer;
  f.produced = *length;
  if (!measureLonger) return f;
  const std::uint64_t room = std::uint64_t{*length} + (1u << 20);
  MallocBuffer scratch(static_cast<std::uint8_t*>(std::malloc(room)));
  if (!scratch) return f;
  switch (inflate(scratch.get(), room)) {
    case LIBDEFLATE_SUCCESS:
      return f;  // sound and longer: produced says how long
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      f.produced = room;
      return f;
    default:
      f.state = Framing::State::Damaged;
      f.produced = 0;
      return f;
  }
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
  std::uint64_t capacity = 0;
  MallocBuffer out = Allocate(*framed, spare, capacity);
  KIV_CHECK(out, MemoryAllocation, nullptr, kUnCompress);
  last_ = InflateFraming(block.Data(), n, out.get(), false, decompressor_.get());
  KIV_CHECK(last_.state != Framing::State::NoMemory, MemoryAllocation, nullptr, kUnCompress);
  // A stream shorter than its length field is taken as it is: the stored files of other
  // writers may hold one. Last() tells the caller.
  KIV_CHECK(last_.state == Framing::State::Exact || last_.state == Framing::State::Shorter,
            ReadError, "Unable to decompress block", kUnCompress);
  block.Adopt(std::move(out), static_cast<std::uint32_t>(last_.produced), capacity);
}

}  // namespace KivRkf
