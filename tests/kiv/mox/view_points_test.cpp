// View point entries damaged in memory: the nested view point frame is delimited by its
// size and version string, and a damaged one is refused instead of being carried along.
#include <cstring>

#include <gtest/gtest.h>

#include "kiv/mox/view_points.hpp"
#include "support/test_support.hpp"

using namespace KivMox;
using TestSupport::CodeOf;

namespace {

const RawFrame kFrame = RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});  // 16 bytes

// One entry with the frame above, followed by 200 bytes that belong to later records.
struct EncodedEntry {
  KivRkf::Block block;
  std::uint32_t frame = 0;  // where the nested frame starts
  std::uint32_t entryEnd = 0;

  EncodedEntry() {
    ViewPointEntry entry;
    entry.viewPoint = kFrame;
    block.Put(entry);
    entryEnd = block.Position();
    frame = entryEnd - 1 - static_cast<std::uint32_t>(kFrame.bytes.size());
    for (int i = 0; i < 200; ++i) block.Put(std::uint8_t{0});
  }
  void Set(std::uint32_t at, std::uint32_t value) { std::memcpy(block.Data() + at, &value, 4); }
  ViewPointEntry Read() {
    block.SetPosition(std::uint32_t{0});
    ViewPointEntry entry;
    block.Get(entry);
    return entry;
  }
};

TEST(ViewPointFrame, ReadsBackAsStoredAndEndsWhereTheEntryEnds) {
  EncodedEntry e;
  EXPECT_EQ(e.Read().viewPoint, kFrame);
  EXPECT_EQ(e.block.Position(), e.entryEnd);
  EXPECT_EQ(kFrame.Version(), "0.5");
}

TEST(ViewPointFrame, DamagedFramesAreRefused) {
  struct Case {
    const char* what;
    std::uint32_t field;  // 0: the frame's size, 4: its version length
    std::uint32_t value;
    int code;
  };
  const Case cases[] = {
      {"version past the frame, inside the block", 4, 122, 2},
      {"version past the block", 4, 255, 1},
      {"version length far past the block", 4, 9699331, 1},
      {"version length near 2^32", 4, 4278190083u, 1},
      {"size below the size field and version", 0, 10, 2},
      {"size below the size field and an empty version", 0, 7, 2},
      {"frame past its entry, inside the block", 0, 40, 2},
      {"frame past the block", 0, 400, 1},
  };
  for (const Case& c : cases) {
    EncodedEntry e;
    e.Set(e.frame + c.field, c.value);
    EXPECT_EQ(CodeOf([&] { e.Read(); }), c.code) << c.what;
  }
}

}  // namespace
