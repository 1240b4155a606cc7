// Block transformations: zlib compression of a whole block in place.
//
// Compressed framing of a block:
//   offset 0   u32 LE   uncompressed length L (the block's size before compression)
//   offset 4   ...      one zlib stream (RFC 1950, level 6: starts 78 9C) inflating to L bytes
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kiv/rkf/block.hpp"
#include "kiv/rkf/spare_buffers.hpp"

struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace KivRkf {

// The uncompressed length that a compressed framing of stored bytes declares in its first
// four bytes, when it is one that a zlib stream of that size can deliver (empty when the
// framing is too short or the length impossible).
std::optional<std::uint32_t> FramedLength(const std::uint8_t* first4, std::uint64_t stored);

// How the compressed framing of a block stands once its zlib stream is inflated. Every
// reader of a block (the loader, the check of copied blocks, the check of a whole file)
// decides it here.
struct Framing {
  enum class State {
    Exact,       // the stream, checksum included, gives exactly the declared length
    Shorter,     // a sound stream that gives fewer bytes than the length field declares
    Longer,      // a stream that gives more (produced, when measured; else at least that)
    Damaged,     // the stream's data or checksum is damaged
    TooShort,    // fewer stored bytes than the length field takes
    Impossible,  // a length no stream of that size can give
    NoMemory,
  };
  State state = State::Damaged;
  std::uint32_t declared = 0;  // what the length field declares
  std::uint64_t produced = 0;  // the bytes the stream gives (Exact, Shorter, Longer)
  bool Sound() const { return state == State::Exact; }
  // For a report: "the length field declares 706 bytes, the zlib stream gives 702".
  std::string Describe() const;
};

// Inflates the compressed framing of stored bytes into out, which has room for the length
// that FramedLength gives (no room needed when it gives none). With measureLonger, a stream
// that does not fit is inflated once more into a scratch buffer 1 MiB larger, to tell a
// longer stream (and its length) from a damaged one. Neither raises nor logs.
// A decompressor may be handed in for reuse.
Framing InflateFraming(const std::uint8_t* framing, std::uint64_t stored, std::uint8_t* out,
                       bool measureLonger = false, libdeflate_decompressor* reuse = nullptr);

class BlockTransformation {
 public:
  virtual void operator()(Block& block) = 0;

 protected:
  // Transformations live on the stack of their user and are never deleted through the base.
  ~BlockTransformation() = default;
};

// Replaces the block's bytes with their compressed framing; size and position both become
// 4 + the zlib length. A failure leaves the block as it was.
class BlockZlibCompressor final : public BlockTransformation {
 public:
  explicit BlockZlibCompressor(int level = 6);
  void operator()(Block& block) override { Compress(block, nullptr); }
  // The same, writing into the packed spare and keeping the raw buffer as the raw spare.
  void operator()(Block& block, SpareBuffers& spares) { Compress(block, &spares); }

  // The same without raising (and so without logging), for a thread of its own: the block
  // is left as it was unless the outcome is Done.
  enum class Outcome { Done, NoMemory, Failed };
  Outcome Pack(Block& block, SpareBuffers* spares);
  // Raises the error of an outcome other than Done.
  static void RaiseFor(Outcome outcome);

 private:
  struct Free {
    void operator()(libdeflate_compressor* c) const;
  };
  void Compress(Block& block, SpareBuffers* spares);
  std::unique_ptr<libdeflate_compressor, Free> compressor_;
  int level_;
};

// Replaces the compressed framing in the block with the bytes it inflates to; size and
// position both become the number of bytes produced. A damaged block, or one whose stream
// gives more than its length field declares, raises code 9 and is left as it was.
class BlockZlibUnCompressor final : public BlockTransformation {
 public:
  BlockZlibUnCompressor();
  void operator()(Block& block) override { Inflate(block, nullptr); }
  // The same, inflating into the spare when it is large enough.
  void operator()(Block& block, SpareBuffer& spare) { Inflate(block, &spare); }
  // How the framing of the block last inflated stood (Exact, or Shorter when its stream gave
  // fewer bytes than its length field declares).
  const Framing& Last() const { return last_; }

 private:
  struct Free {
    void operator()(libdeflate_decompressor* d) const;
  };
  void Inflate(Block& block, SpareBuffer* spare);
  std::unique_ptr<libdeflate_decompressor, Free> decompressor_;
  Framing last_;
};

}  // namespace KivRkf
