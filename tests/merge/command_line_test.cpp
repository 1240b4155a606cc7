// The command line: paths against options, the usage decision, the flags handed to the
// instance merge, the view point split, and the natural ordering of inputs.
#include "merge/command_line.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "merge/arrange_files.hpp"

namespace {

using Args = std::vector<std::string>;

// The words of text, split at spaces ("_" for an empty word).
Args Words(const std::string& text) {
  Args words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w == "_" ? "" : w);
  return words;
}

TEST(CommandLineTest, PathsOptionsFlagsAndTheUsageDecision) {
  // Arguments -> "<usage error> <inputs> > <output> : <flags>", flags a(rrange) m(erge as
  // instances) p(art names) s(uffix) r(ename) h(elp) v(ersion).
  const std::pair<std::string, std::string> cases[] = {
      {"a b o", "0 a b > o : "},
      {"a o", "1 a > o : "},
      {"", "1 >  : "},
      {"--arrange-files a --x o", "1 a > o : a"},
      {"- -x -", "0 - -x > - : "},
      {"-- a -- o", "1 a > o : "},
      {"z --a y --b x w", "0 z y x > w : "},
      {"--Merge-As-Instances --arrange-files=1 --arrange --VERSION a b o", "0 a b > o : "},
      {"--arrange-files --merge-as-instances --match-part-names --suffix-file-instance "
       "--auto-rename-instances --help --version",
       "1 >  : ampshv"},
      {"--merge-as-instances --auto-rename-instances a b o", "0 a b > o : msr"},
      {"--auto-rename-instances --suffix-file-instance a b o", "0 a b > o : s"},
      {"--match-part-names a b o", "0 a b > o : p"},
  };
  for (const auto& [args, expected] : cases) {
    const MoxMerge::CommandLine l = MoxMerge::ParseCommandLine(Words("moxmerge " + args));
    std::string got = l.program + " " + std::to_string(l.usageError);
    for (const auto& input : l.inputs) got += " " + input;
    got += " > " + l.outputPath + " : ";
    const bool flags[] = {l.arrangeFiles, l.mergeAsInstances, l.matchPartNames,
                          l.suffix,       l.autoRename,       l.help,
                          l.version};
    for (int f = 0; f < 7; ++f)
      if (flags[f]) got += "ampsrhv"[f];
    EXPECT_EQ(got, "moxmerge " + expected) << args;
  }
  // View point inputs end in lower case ".vpt".
  const auto s = MoxMerge::SeparateInputs(Words("b.vpt a.mox P.VPT p.vpt.mox .vpt - vpt p.vpt_"));
  EXPECT_EQ(s.moxInputs, Words("a.mox P.VPT p.vpt.mox - vpt p.vpt_"));
  EXPECT_EQ(s.viewPointInputs, Words("b.vpt .vpt"));
}

TEST(ArrangeFilesTest, EntriesFamiliesAndTheirOrder) {
  // Trailing digits before the last ".mox" (or at the end); numbers saturate.
  const std::string max = "18446744073709551615", r = "r18446744073709551";
  const std::pair<std::string, std::string> entries[] = {
      {"run007.mox", "run|007|7"},
      {"12.mox", "12||" + max},
      {"run2.MOX", "run2.MOX||" + max},
      {"a1.mox5.mox", "a1.mox|5|5"},
      {"x.mox8", "x||" + max},
      {"run42", "run|42|42"},
      {".mox", "||" + max},
      {r + "615.mox", "r|" + max + "|" + max},
      {r + "616.mox", "r|18446744073709551616|" + max},
  };
  for (const auto& [path, expected] : entries) {
    const MoxMerge::FileEntry e = MoxMerge::MakeFileEntry(path, 0);
    EXPECT_EQ(e.stem + "|" + e.digits + "|" + std::to_string(e.number), expected);
  }
  // Families are sorted within their slots ("" and names with a dot stand as they are).
  const std::pair<std::string, std::string> orders[] = {
      {"run10 run2 run1", "run1 run2 run10"},
      {"run8 run7 run007 run07", "run7 run007 run07 run8"},
      {"run5 12 run1", "run1 12 run5"},
      {"run2 view1.vpt run1 view0.vpt", "run1 view1.vpt run2 view0.vpt"},
      {"a3 b2 a1 b1 c a2", "a1 b1 a2 b2 c a3"},
      {"x/run2 run2 x/run1 run1", "x/run1 run1 x/run2 run2"},
      {"r99999999999999999999 r18446744073709551615 r5",
       "r5 r99999999999999999999 r18446744073709551615"},
      {"_ _ .mox", "_ _ .mox"},
  };
  const auto paths = [](const std::string& names) {
    Args out;
    for (const auto& w : Words(names))
      out.push_back(w.find('.') == std::string::npos && !w.empty() ? w + ".mox" : w);
    return out;
  };
  for (const auto& [in, expected] : orders)
    EXPECT_EQ(MoxMerge::ArrangeFiles(paths(in)), paths(expected)) << in;
  // Many members of equal number, told apart only by their spelling, keep their order.
  Args in, expected;
  for (int i = 0; i < 60; ++i)
    in.push_back("s" + std::string(std::size_t(i % 7), '0') + (i % 3 == 0 ? "4" : "9") + ".mox");
  for (char digit : {'4', '9'})
    for (const auto& p : in)
      if (p[p.size() - 5] == digit) expected.push_back(p);
  EXPECT_EQ(MoxMerge::ArrangeFiles(in), expected);
}

}  // namespace
