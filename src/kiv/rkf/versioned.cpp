// The frame of versioned records (versioned.hpp): size placeholder patched after the
// groups, version string, and the end check of the reader.
#include "kiv/rkf/versioned.hpp"

#include <array>

#include "kiv/log/raise.hpp"

namespace KivRkf {

namespace {

constexpr const char* kReadMethod = "KivRkf::CopyFromBlock_Versioned";
// The smallest framed record: the size field and an empty version string.
constexpr std::uint32_t kMinFramedSize = 8;

}  // namespace

bool IsLegacyContainerVersion(const std::string& version) {
  return version == "0.1" || version == "0.1a" || version == "0.1b" || version == "0.2";
}

namespace VersionedFrame {

const std::string& GroupVersion(int k) {
  static const std::array<std::string, 10> kVersions = {"0.0", "0.1", "0.2", "0.3", "0.4",
                                                        "0.5", "0.6", "0.7", "0.8", "0.9"};
  return kVersions.at(static_cast<std::size_t>(k));
}

std::uint32_t BeginWrite(Block& block, const std::string& version) {
  const std::uint32_t start = block.Position();
  block.Put(std::uint32_t{0});
  block.Put(version);
  return start;
}

void EndWrite(Block& block, std::uint32_t start) {
  const std::uint32_t end = block.Position();
  block.SetPosition(start);
  block.Put(end - start);
  block.SetPosition(end);
}

ReadState BeginRead(Block& block, SizeField sizes) {
  ReadState state;
  state.start = block.Position();
  state.sized = sizes == SizeField::Stored;
  if (state.sized) {
    block.Get(state.size);
    KIV_CHECK(state.size >= kMinFramedSize, UnknownVersion, nullptr, kReadMethod);
    KIV_CHECK(std::uint64_t(state.start) + state.size <= block.Size(), OutOfBounds,
              "Not enough bytes in the block", kReadMethod);
  }
  block.Get(state.version);
  return state;
}

void EndRead(Block& block, const ReadState& state) {
  if (!state.sized) return;
  const std::uint64_t end = std::uint64_t(state.start) + state.size;
  KIV_CHECK(block.Position() <= end, UnknownVersion, nullptr, kReadMethod);
  block.SetPosition(end);
}

}  // namespace VersionedFrame

}  // namespace KivRkf
