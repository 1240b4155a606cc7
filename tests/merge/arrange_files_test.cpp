// Natural ordering of inputs: how a path splits into stem, digits and number, and the
// orderings of numbered families within the slots they occupy.
#include "merge/arrange_files.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using MoxMerge::ArrangeFiles;
using MoxMerge::MakeFileEntry;
using Paths = std::vector<std::string>;

constexpr std::uint64_t kMax = 18446744073709551615ull;

TEST(ArrangeFilesTest, EntrySplitsTrailingDigitsBeforeTheLastExtension) {
  struct Case {
    std::string path, stem, digits;
    std::uint64_t number;
  };
  const Case cases[] = {
      {"run007.mox", "run", "007", 7},
      {"12.mox", "12", "", kMax},
      {"out/12.mox", "out/", "12", 12},
      {"run2.MOX", "run2.MOX", "", kMax},
      {"run3.mox.bak", "run", "3", 3},
      {"a1.mox5.mox", "a1.mox", "5", 5},
      {"x.mox8", "x", "", kMax},
      {"view1.vpt", "view1.vpt", "", kMax},
      {"run42", "run", "42", 42},
      {".mox", "", "", kMax},
      {"r18446744073709551614.mox", "r", "18446744073709551614", kMax - 1},
      {"r18446744073709551615.mox", "r", "18446744073709551615", kMax},
      {"r18446744073709551616.mox", "r", "18446744073709551616", kMax},
      {"r99999999999999999999999999.mox", "r", "99999999999999999999999999", kMax},
      {"r0000000000000000000000000000042.mox", "r", "0000000000000000000000000000042", 42},
  };
  for (const Case& c : cases) {
    const MoxMerge::FileEntry e = MakeFileEntry(c.path, 0);
    EXPECT_EQ(e.stem + "|" + e.digits + "|" + std::to_string(e.number),
              c.stem + "|" + c.digits + "|" + std::to_string(c.number));
  }
}

TEST(ArrangeFilesTest, FamiliesAreSortedWithinTheirSlots) {
  const std::vector<std::pair<Paths, Paths>> cases = {
      {{"run10.mox", "run2.mox", "run1.mox"}, {"run1.mox", "run2.mox", "run10.mox"}},
      {{"run007.mox", "run7.mox"}, {"run007.mox", "run7.mox"}},
      {{"run8.mox", "run7.mox", "run007.mox", "run07.mox"},
       {"run7.mox", "run007.mox", "run07.mox", "run8.mox"}},
      {{"12.mox", "3.mox"}, {"12.mox", "3.mox"}},
      {{"run5.mox", "12.mox", "run1.mox"}, {"run1.mox", "12.mox", "run5.mox"}},
      {{"run3.mox", "run2.MOX", "run1.mox"}, {"run1.mox", "run2.MOX", "run3.mox"}},
      {{"run3.mox.bak", "run1.mox"}, {"run1.mox", "run3.mox.bak"}},
      {{"run2.mox", "view1.vpt", "run1.mox", "view0.vpt"},
       {"run1.mox", "view1.vpt", "run2.mox", "view0.vpt"}},
      {{"a3.mox", "b2.mox", "a1.mox", "b1.mox", "c.mox", "a2.mox"},
       {"a1.mox", "b1.mox", "a2.mox", "b2.mox", "c.mox", "a3.mox"}},
      {{"x/run2.mox", "run2.mox", "x/run1.mox", "run1.mox"},
       {"x/run1.mox", "run1.mox", "x/run2.mox", "run2.mox"}},
      {{"r99999999999999999999.mox", "r18446744073709551615.mox", "r5.mox",
        "r18446744073709551614.mox"},
       {"r5.mox", "r18446744073709551614.mox", "r99999999999999999999.mox",
        "r18446744073709551615.mox"}},
      {{}, {}},
      {{"run2.mox", "run1.mox", "run2.mox"}, {"run1.mox", "run2.mox", "run2.mox"}},
      {{"", "", ".mox"}, {"", "", ".mox"}},
  };
  for (const auto& [in, expected] : cases)
    EXPECT_EQ(ArrangeFiles(in), expected) << ::testing::PrintToString(in);

  // Many members of equal number, told apart only by their spelling, keep their order.
  Paths in, expected;
  for (int i = 0; i < 60; ++i)
    in.push_back("s" + std::string(std::size_t(i % 7), '0') + (i % 3 == 0 ? "4" : "9") + ".mox");
  for (char digit : {'4', '9'})
    for (const auto& p : in)
      if (p[p.size() - 5] == digit) expected.push_back(p);
  EXPECT_EQ(ArrangeFiles(in), expected);
}

}  // namespace
