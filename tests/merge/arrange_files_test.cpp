// Natural ordering of inputs: entry splitting, the settled orderings, and random mixed
// lists checked against a plain quadratic model of the slot rule.
#include "merge/arrange_files.hpp"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using MoxMerge::ArrangeFiles;
using MoxMerge::FileEntry;
using MoxMerge::MakeFileEntry;
using Paths = std::vector<std::string>;

constexpr std::uint64_t kMax = 18446744073709551615ull;

// ---- Reference model, written without the production helpers. ----

struct RefSplit {
  bool numbered = false;
  std::string stem;
  std::uint64_t number = kMax;
};

RefSplit RefSplitPath(const std::string& path) {
  RefSplit s;
  std::string stem = path;
  const std::string ext = ".mox";
  for (std::size_t i = path.size() >= 4 ? path.size() - 4 + 1 : 0; i-- > 0;) {
    if (path.compare(i, 4, ext) == 0) {
      stem = path.substr(0, i);
      break;
    }
  }
  std::size_t end = stem.size();
  std::size_t begin = end;
  while (begin > 0 && stem[begin - 1] >= '0' && stem[begin - 1] <= '9') --begin;
  if (begin == 0 || begin == end) return s;  // all digits, empty, or no trailing digits
  s.numbered = true;
  s.stem = stem.substr(0, begin);
  std::uint64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    unsigned digit = unsigned(stem[i] - '0');
    if (value > (kMax - digit) / 10) {
      value = kMax;  // saturates like an overflowing extraction
      break;
    }
    value = value * 10 + digit;
  }
  s.number = value;
  return s;
}

// Slot i of a numbered path receives the family member whose rank (by number, then
// position) equals i's index among the family's slots.
Paths RefArrange(const Paths& in) {
  std::vector<RefSplit> split;
  for (const auto& p : in) split.push_back(RefSplitPath(p));
  Paths out = in;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (!split[i].numbered) continue;
    std::vector<std::size_t> slots;
    std::size_t rank = 0;
    for (std::size_t j = 0; j < in.size(); ++j) {
      if (!split[j].numbered || split[j].stem != split[i].stem) continue;
      slots.push_back(j);
      if (split[j].number < split[i].number || (split[j].number == split[i].number && j < i))
        ++rank;
    }
    out[slots[rank]] = in[i];
  }
  return out;
}

// ---- Random inputs. ----

std::string RandomPath(std::mt19937_64& rng) {
  static const std::vector<std::string> prefixes = {
      "run", "run",  "a",        "",  "dir/run", "x.mox", "r1un",   "\xff\x01",
      "12",  "run_", "c:\\m\\p", "-", "--",      "a b",   "run.mox"};
  static const std::vector<std::string> numbers = {"",
                                                   "",
                                                   "0",
                                                   "1",
                                                   "2",
                                                   "7",
                                                   "007",
                                                   "10",
                                                   "0010",
                                                   "18446744073709551615",
                                                   "18446744073709551616",
                                                   "99999999999999999999999",
                                                   "000000000000000000000000001"};
  static const std::vector<std::string> suffixes = {
      ".mox", ".mox", ".mox", ".MOX", ".mox.bak", ".vpt", "", ".mox.mox", ".mox1", "mox", ".mo"};
  auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  std::string number = pick(numbers);
  if (rng() % 4 == 0) number = std::to_string(rng() % 1000);
  if (rng() % 16 == 0) number = std::to_string(rng());
  return pick(prefixes) + number + pick(suffixes);
}

Paths RandomList(std::mt19937_64& rng, std::size_t size) {
  Paths v;
  for (std::size_t i = 0; i < size; ++i) v.push_back(RandomPath(rng));
  return v;
}

// ---- FileEntry ----

TEST(FileEntryTest, SplitsTrailingDigitsBeforeTheExtension) {
  FileEntry e = MakeFileEntry("run10.mox", 3);
  EXPECT_EQ(e.path, "run10.mox");
  EXPECT_EQ(e.extension, ".mox");
  EXPECT_EQ(e.stem, "run");
  EXPECT_EQ(e.digits, "10");
  EXPECT_EQ(e.number, 10u);
  EXPECT_EQ(e.position, 3u);
}

TEST(FileEntryTest, KeepsLeadingZerosInDigitsButNotInNumber) {
  FileEntry e = MakeFileEntry("run007.mox", 0);
  EXPECT_EQ(e.stem, "run");
  EXPECT_EQ(e.digits, "007");
  EXPECT_EQ(e.number, 7u);
}

TEST(FileEntryTest, AllDigitNameIsNotSplit) {
  FileEntry e = MakeFileEntry("12.mox", 0);
  EXPECT_EQ(e.stem, "12");
  EXPECT_EQ(e.digits, "");
  EXPECT_EQ(e.number, kMax);
}

TEST(FileEntryTest, DigitsAfterADirectoryAreSplit) {
  FileEntry e = MakeFileEntry("out/12.mox", 0);
  EXPECT_EQ(e.stem, "out/");
  EXPECT_EQ(e.digits, "12");
  EXPECT_EQ(e.number, 12u);
}

TEST(FileEntryTest, ExtensionIsCaseSensitive) {
  FileEntry e = MakeFileEntry("run2.MOX", 0);
  EXPECT_EQ(e.stem, "run2.MOX");
  EXPECT_EQ(e.digits, "");
  EXPECT_EQ(e.number, kMax);
}

TEST(FileEntryTest, CutsAtTheLastExtensionAnywhereInThePath) {
  FileEntry bak = MakeFileEntry("run3.mox.bak", 0);
  EXPECT_EQ(bak.stem, "run");
  EXPECT_EQ(bak.digits, "3");
  EXPECT_EQ(bak.number, 3u);

  FileEntry twice = MakeFileEntry("a1.mox5.mox", 0);
  EXPECT_EQ(twice.stem, "a1.mox");
  EXPECT_EQ(twice.digits, "5");

  FileEntry inner = MakeFileEntry("x.mox8", 0);  // "8" follows the extension: no digits
  EXPECT_EQ(inner.stem, "x");
  EXPECT_EQ(inner.digits, "");
}

TEST(FileEntryTest, NoExtensionKeepsTheWholePathAsStem) {
  FileEntry vpt = MakeFileEntry("view1.vpt", 0);
  EXPECT_EQ(vpt.stem, "view1.vpt");
  EXPECT_EQ(vpt.digits, "");

  FileEntry bare = MakeFileEntry("run42", 0);
  EXPECT_EQ(bare.stem, "run");
  EXPECT_EQ(bare.digits, "42");
  EXPECT_EQ(bare.number, 42u);
}

TEST(FileEntryTest, EmptyStems) {
  FileEntry empty = MakeFileEntry("", 0);
  EXPECT_EQ(empty.stem, "");
  EXPECT_EQ(empty.digits, "");
  EXPECT_EQ(empty.number, kMax);

  FileEntry ext = MakeFileEntry(".mox", 0);
  EXPECT_EQ(ext.stem, "");
  EXPECT_EQ(ext.digits, "");
}

TEST(FileEntryTest, NumbersAtAndBeyondSixtyFourBits) {
  EXPECT_EQ(MakeFileEntry("r18446744073709551614.mox", 0).number, kMax - 1);
  EXPECT_EQ(MakeFileEntry("r18446744073709551615.mox", 0).number, kMax);
  EXPECT_EQ(MakeFileEntry("r18446744073709551616.mox", 0).number, kMax);
  EXPECT_EQ(MakeFileEntry("r99999999999999999999999999.mox", 0).number, kMax);
  FileEntry zeros = MakeFileEntry("r0000000000000000000000000000042.mox", 0);
  EXPECT_EQ(zeros.number, 42u);
  EXPECT_EQ(zeros.digits, "0000000000000000000000000000042");
}

// ---- Settled orderings ----

TEST(ArrangeFilesTest, OneFamilyByNumber) {
  EXPECT_EQ(ArrangeFiles({"run10.mox", "run2.mox", "run1.mox"}),
            (Paths{"run1.mox", "run2.mox", "run10.mox"}));
}

TEST(ArrangeFilesTest, NamesWithoutDigitsKeepCommandLineOrder) {
  EXPECT_EQ(ArrangeFiles({"b.mox", "a.mox"}), (Paths{"b.mox", "a.mox"}));
}

TEST(ArrangeFilesTest, EqualNumbersKeepCommandLineOrder) {
  EXPECT_EQ(ArrangeFiles({"run007.mox", "run7.mox"}), (Paths{"run007.mox", "run7.mox"}));
  EXPECT_EQ(ArrangeFiles({"run7.mox", "run007.mox"}), (Paths{"run7.mox", "run007.mox"}));
  EXPECT_EQ(ArrangeFiles({"run8.mox", "run7.mox", "run007.mox", "run07.mox"}),
            (Paths{"run7.mox", "run007.mox", "run07.mox", "run8.mox"}));
}

TEST(ArrangeFilesTest, AllDigitNamesStayInPlace) {
  EXPECT_EQ(ArrangeFiles({"12.mox", "3.mox"}), (Paths{"12.mox", "3.mox"}));
  EXPECT_EQ(ArrangeFiles({"run5.mox", "12.mox", "run1.mox"}),
            (Paths{"run1.mox", "12.mox", "run5.mox"}));
}

TEST(ArrangeFilesTest, UpperCaseExtensionStaysInPlace) {
  EXPECT_EQ(ArrangeFiles({"run3.mox", "run2.MOX", "run1.mox"}),
            (Paths{"run1.mox", "run2.MOX", "run3.mox"}));
}

TEST(ArrangeFilesTest, ExtensionInTheMiddleJoinsTheFamily) {
  EXPECT_EQ(ArrangeFiles({"run3.mox.bak", "run1.mox"}), (Paths{"run1.mox", "run3.mox.bak"}));
}

TEST(ArrangeFilesTest, ViewPointFilesKeepTheirSlots) {
  EXPECT_EQ(ArrangeFiles({"run2.mox", "view1.vpt", "run1.mox", "view0.vpt"}),
            (Paths{"run1.mox", "view1.vpt", "run2.mox", "view0.vpt"}));
}

TEST(ArrangeFilesTest, FamiliesShareNoSlots) {
  EXPECT_EQ(ArrangeFiles({"a3.mox", "b2.mox", "a1.mox", "b1.mox", "c.mox", "a2.mox"}),
            (Paths{"a1.mox", "b1.mox", "a2.mox", "b2.mox", "c.mox", "a3.mox"}));
  // Another directory is another family.
  EXPECT_EQ(ArrangeFiles({"x/run2.mox", "run2.mox", "x/run1.mox", "run1.mox"}),
            (Paths{"x/run1.mox", "run1.mox", "x/run2.mox", "run2.mox"}));
}

TEST(ArrangeFilesTest, OverflowingNumbersSortAsTheLargestAndKeepTheirOrder) {
  EXPECT_EQ(ArrangeFiles({"r99999999999999999999.mox", "r18446744073709551615.mox", "r5.mox",
                          "r18446744073709551614.mox"}),
            (Paths{"r5.mox", "r18446744073709551614.mox", "r99999999999999999999.mox",
                   "r18446744073709551615.mox"}));
}

TEST(ArrangeFilesTest, DuplicatesAndEmptyLists) {
  EXPECT_EQ(ArrangeFiles({}), Paths{});
  EXPECT_EQ(ArrangeFiles({"run2.mox", "run1.mox", "run2.mox"}),
            (Paths{"run1.mox", "run2.mox", "run2.mox"}));
  EXPECT_EQ(ArrangeFiles({"", "", ".mox"}), (Paths{"", "", ".mox"}));
}

// ---- Random mixed lists ----

TEST(ArrangeFilesTest, ReferenceModelAgreesOnTheSettledExamples) {
  // Guards the model itself before it is used as the oracle below.
  EXPECT_EQ(RefArrange({"run10.mox", "run2.mox", "run1.mox"}),
            (Paths{"run1.mox", "run2.mox", "run10.mox"}));
  EXPECT_EQ(RefArrange({"run3.mox", "run2.MOX", "12.mox", "run3.mox.bak", "run1.mox"}),
            (Paths{"run1.mox", "run2.MOX", "12.mox", "run3.mox", "run3.mox.bak"}));
}

TEST(ArrangeFilesTest, MatchesTheSlotModelOnRandomMixedLists) {
  std::mt19937_64 rng(20170101);
  for (int round = 0; round < 400; ++round) {
    Paths in = RandomList(rng, 50 + rng() % 80);
    Paths out = ArrangeFiles(in);
    ASSERT_EQ(out, RefArrange(in)) << "round " << round;
  }
}

TEST(ArrangeFilesTest, RandomListsKeepTheOrderInvariants) {
  std::mt19937_64 rng(42);
  for (int round = 0; round < 200; ++round) {
    Paths in = RandomList(rng, rng() % 120);
    Paths out = ArrangeFiles(in);
    ASSERT_EQ(out.size(), in.size());

    // A permutation of the input.
    Paths a = in, b = out;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_EQ(a, b);

    std::vector<FileEntry> entries;
    for (std::size_t i = 0; i < in.size(); ++i) entries.push_back(MakeFileEntry(in[i], i));
    for (std::size_t i = 0; i < in.size(); ++i) {
      // Paths outside a family keep their slot; family slots hold family members.
      FileEntry got = MakeFileEntry(out[i], i);
      if (entries[i].digits.empty()) {
        ASSERT_EQ(out[i], in[i]);
        continue;
      }
      ASSERT_TRUE(MoxMerge::SameFamily(entries[i], got)) << in[i] << " / " << out[i];
    }
    // Within each family: the members read in output order are the members read in
    // input order, stably sorted by number.
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (entries[i].digits.empty()) continue;
      std::vector<FileEntry> before, after;
      for (std::size_t j = 0; j < in.size(); ++j) {
        if (!MoxMerge::SameFamily(entries[i], entries[j])) continue;
        before.push_back(entries[j]);
        after.push_back(MakeFileEntry(out[j], j));
      }
      std::stable_sort(before.begin(), before.end(),
                       [](const FileEntry& x, const FileEntry& y) { return x.number < y.number; });
      for (std::size_t k = 0; k < before.size(); ++k) ASSERT_EQ(after[k].path, before[k].path);
    }
  }
}

TEST(ArrangeFilesTest, EqualNumbersAreStableInLongLists) {
  // Many members of equal number, told apart only by their spelling.
  Paths in;
  for (int i = 0; i < 60; ++i)
    in.push_back("s" + std::string(std::size_t(i % 7), '0') + (i % 3 == 0 ? "4" : "9") + ".mox");
  Paths expected;
  for (const auto& p : in)
    if (p[p.size() - 5] == '4') expected.push_back(p);
  for (const auto& p : in)
    if (p[p.size() - 5] == '9') expected.push_back(p);
  EXPECT_EQ(ArrangeFiles(in), expected);
}

}  // namespace
