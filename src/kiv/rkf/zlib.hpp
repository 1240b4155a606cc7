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

// Inflates the compressed framing of stored bytes into out (room for length bytes): Done
// when the framing declares length and its zlib stream, checksum included, inflates to
// exactly that many bytes. Neither raises nor logs, for worker threads.
enum class InflateOutcome { Done, NoMemory, Damaged };
InflateOutcome InflateFramingExactly(const std::uint8_t* framing, std::uint64_t stored,
                                     std::uint32_t length, std::uint8_t* out);
// What is wrong with a framing that InflateFramingExactly found Damaged, as a sentence for a
// report ("the length field declares 40 bytes, the zlib stream inflates to 36"); out has
// room for the length the framing declares (scratch). lengthLies, when given, is set when
// the zlib stream is sound but inflates to another length than the field declares.
std::string DescribeFramingDamage(const std::uint8_t* framing, std::uint64_t stored,
                                  std::uint8_t* out, bool* lengthLies = nullptr);

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
// position both become the number of bytes produced. A damaged block raises code 9 and is
// left as it was.
class BlockZlibUnCompressor final : public BlockTransformation {
 public:
  BlockZlibUnCompressor();
  void operator()(Block& block) override { Inflate(block, nullptr); }
  // The same, inflating into the spare when it is large enough.
  void operator()(Block& block, SpareBuffer& spare) { Inflate(block, &spare); }

 private:
  struct Free {
    void operator()(libdeflate_decompressor* d) const;
  };
  void Inflate(Block& block, SpareBuffer* spare);
  std::unique_ptr<libdeflate_decompressor, Free> decompressor_;
};

}  // namespace KivRkf
