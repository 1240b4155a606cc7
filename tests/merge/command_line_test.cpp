// The command-line split: paths against options, the usage decision, the flags handed to
// the instance merge, the view point split and the usage texts.
#include "merge/command_line.hpp"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

// The flags set: a(rrange) m(erge as instances) p(art names) s(uffix) r(ename) h(elp) v(ersion).
std::string Flags(const MoxMerge::CommandLine& l) {
  std::string f;
  for (auto [on, c] : {std::pair{l.arrangeFiles, 'a'},
                       {l.mergeAsInstances, 'm'},
                       {l.matchPartNames, 'p'},
                       {l.suffix, 's'},
                       {l.autoRename, 'r'},
                       {l.help, 'h'},
                       {l.version, 'v'}})
    if (on) f += c;
  return f;
}

TEST(CommandLineTest, PathsOptionsFlagsAndTheUsageDecision) {
  const std::string m = "--merge-as-instances", s = "--suffix-file-instance",
                    r = "--auto-rename-instances", p = "--match-part-names";
  struct Case {
    Args args;
    bool usageError;
    Args inputs;
    std::string output, flags;
  };
  const Case cases[] = {
      {{"a", "b", "o"}, false, {"a", "b"}, "o", ""},
      {{"a", "o"}, true, {"a"}, "o", ""},
      {{}, true, {}, "", ""},
      {{"o"}, true, {}, "o", ""},
      {{m, "--x"}, true, {}, "", "m"},
      {{"--arrange-files", "a", "--x", "o"}, true, {"a"}, "o", "a"},
      {{"-", "-x", "-"}, false, {"-", "-x"}, "-", ""},
      {{"--", "a", "--", "o"}, true, {"a"}, "o", ""},
      {{"z", "--a", "y", "--b", "x", "w"}, false, {"z", "y", "x"}, "w", ""},
      {{"--Merge-As-Instances", "--arrange-files=1", "--arrange", "--help ", "--VERSION", "a", "b",
        "o"},
       false,
       {"a", "b"},
       "o",
       ""},
      {{"--arrange-files", m, p, s, r, "--help", "--version"}, true, {}, "", "ampshv"},
      {{m, s, "a", "b", "o"}, false, {"a", "b"}, "o", "ms"},
      {{m, r, "a", "b", "o"}, false, {"a", "b"}, "o", "msr"},
      {{m, s, r, "a", "b", "o"}, false, {"a", "b"}, "o", "ms"},
      {{m, r, s, "a", "b", "o"}, false, {"a", "b"}, "o", "ms"},
      {{m, p, "a", "b", "o"}, false, {"a", "b"}, "o", "mp"},
      {{m, p, r, "a", "b", "o"}, false, {"a", "b"}, "o", "mpsr"},
      {{m, p, s, "a", "b", "o"}, false, {"a", "b"}, "o", "mps"},
      {{m, r, r, "a", "b", "o"}, false, {"a", "b"}, "o", "msr"},
  };
  for (const Case& c : cases) {
    Args args = c.args;
    args.insert(args.begin(), "moxmerge");
    const MoxMerge::CommandLine line = MoxMerge::ParseCommandLine(args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(line.program, "moxmerge");
    EXPECT_EQ(line.usageError, c.usageError);
    EXPECT_EQ(line.inputs, c.inputs);
    EXPECT_EQ(line.outputPath, c.output);
    EXPECT_EQ(Flags(line), c.flags);
  }
  EXPECT_EQ(MoxMerge::ParseCommandLine(Args{}).program, "");
  EXPECT_TRUE(MoxMerge::ParseCommandLine(Args{}).usageError);
  for (const char* option : {"--", "--a"}) EXPECT_TRUE(MoxMerge::IsOption(option)) << option;
  for (const char* path : {"-", "-x", "", "a--"}) EXPECT_FALSE(MoxMerge::IsOption(path)) << path;
  const char* argv[] = {"/opt/bin/moxmerge", "--arrange-files", "a.mox", "b.mox", "o.mox", nullptr};
  const MoxMerge::CommandLine fromArgv = MoxMerge::ParseCommandLine(5, argv);
  EXPECT_EQ(fromArgv.program + Flags(fromArgv) + fromArgv.outputPath, "/opt/bin/moxmergeao.mox");
  EXPECT_EQ(fromArgv.inputs, (Args{"a.mox", "b.mox"}));
  EXPECT_TRUE(MoxMerge::ParseCommandLine(0, argv + 5).usageError);
}

TEST(CommandLineTest, ViewPointInputsEndInLowerCaseVpt) {
  for (const char* path : {"p.vpt", ".vpt", "dir.mox/x.mox.vpt"})
    EXPECT_TRUE(MoxMerge::IsViewPointPath(path)) << path;
  for (const char* path : {"vpt", "pt", "", "p.VPT", "p.Vpt", "p.vpt ", "p.vpt.mox", "p_vpt"})
    EXPECT_FALSE(MoxMerge::IsViewPointPath(path)) << path;
  const MoxMerge::SplitInputs s =
      MoxMerge::SeparateInputs({"b.vpt", "a.mox", "P.VPT", "c.txt", "a.vpt", "-", "vpt", "z.mox"});
  EXPECT_EQ(s.moxInputs, (Args{"a.mox", "P.VPT", "c.txt", "-", "vpt", "z.mox"}));
  EXPECT_EQ(s.viewPointInputs, (Args{"b.vpt", "a.vpt"}));
}

TEST(CommandLineTest, UsageAndHelpTexts) {
  EXPECT_EQ(MoxMerge::UsageLine(""), "Usage:  <files_to_merge> <output_file>");
  const std::string help = MoxMerge::HelpText("moxmerge");
  EXPECT_EQ(help.rfind("Usage: moxmerge <files_to_merge> <output_file>\n", 0), 0u);
  for (const char* item :
       {"--arrange-files", "--merge-as-instances", "--match-part-names", "--suffix-file-instance",
        "--auto-rename-instances", "--help", "--version", "0  success", "1  usage error",
        "2  failure of the last operation", "4  no Mox input", "TESSARA_TEMP_PATH",
        "KORVANE_MAX_MOX_BLOCK_SIZE"})
    EXPECT_NE(help.find(item), std::string::npos) << item;
  EXPECT_EQ(help.back(), '\n');
  std::size_t start = 0;
  for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 100u) << help.substr(start, end - start);
}

}  // namespace
