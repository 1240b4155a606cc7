// The command-line split: options against paths, the usage decision, the flags handed to
// the instance merge, the view point split and the usage texts.
#include "merge/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using MoxMerge::CommandLine;
using Args = std::vector<std::string>;

CommandLine Parse(Args args) {
  args.insert(args.begin(), "moxmerge");
  return MoxMerge::ParseCommandLine(args);
}

TEST(CommandLineTest, PathsOptionsAndTheUsageDecision) {
  struct Case {
    Args args;
    bool usageError;
    Args inputs;
    std::string output;
    Args options;
  };
  const Case cases[] = {
      {{"a.mox", "b.mox", "out.mox"}, false, {"a.mox", "b.mox"}, "out.mox", {}},
      {{"a.mox", "out.mox"}, true, {"a.mox"}, "out.mox", {}},
      {{}, true, {}, "", {}},
      {{"out.mox"}, true, {}, "out.mox", {}},
      {{"--merge-as-instances", "--x"}, true, {}, "", {"--merge-as-instances", "--x"}},
      {{"--arrange-files", "a.mox", "--x", "out.mox"},
       true,
       {"a.mox"},
       "out.mox",
       {"--arrange-files", "--x"}},
      {{"--x", "a.mox", "b.mox", "out.mox"}, false, {"a.mox", "b.mox"}, "out.mox", {"--x"}},
      {{"-", "-x", "-"}, false, {"-", "-x"}, "-", {}},
      {{"--", "a.mox", "--", "out.mox"}, true, {"a.mox"}, "out.mox", {"--", "--"}},
      {{"z.mox", "--a", "y.mox", "--b", "x.mox", "w.mox"},
       false,
       {"z.mox", "y.mox", "x.mox"},
       "w.mox",
       {"--a", "--b"}},
  };
  for (const Case& c : cases) {
    const CommandLine line = Parse(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(line.program, "moxmerge");
    EXPECT_EQ(line.usageError, c.usageError);
    EXPECT_EQ(line.inputs, c.inputs);
    EXPECT_EQ(line.outputPath, c.output);
    EXPECT_EQ(line.options, c.options);
    auto given = [&](const char* o) { return std::count(c.options.begin(), c.options.end(), o); };
    EXPECT_EQ(line.arrangeFiles, given("--arrange-files") > 0);
    EXPECT_EQ(line.mergeAsInstances, given("--merge-as-instances") > 0);
    EXPECT_FALSE(line.matchPartNames || line.suffix || line.autoRename || line.help ||
                 line.version);
  }
  EXPECT_EQ(MoxMerge::ParseCommandLine(Args{}).program, "");
  EXPECT_TRUE(MoxMerge::ParseCommandLine(Args{}).usageError);
  for (const char* option : {"--", "--a"}) EXPECT_TRUE(MoxMerge::IsOption(option)) << option;
  for (const char* path : {"-", "-x", "", "a--"}) EXPECT_FALSE(MoxMerge::IsOption(path)) << path;

  const char* argv[] = {"/opt/bin/moxmerge", "--arrange-files", "a.mox", "b.mox", "o.mox", nullptr};
  const CommandLine fromArgv = MoxMerge::ParseCommandLine(5, argv);
  EXPECT_EQ(fromArgv.program, "/opt/bin/moxmerge");
  EXPECT_TRUE(fromArgv.arrangeFiles);
  EXPECT_EQ(fromArgv.inputs, (Args{"a.mox", "b.mox"}));
  EXPECT_EQ(fromArgv.outputPath, "o.mox");
  EXPECT_TRUE(MoxMerge::ParseCommandLine(0, argv + 5).usageError);
}

TEST(CommandLineTest, KnownOptionsAreWholeCaseSensitiveStrings) {
  const CommandLine all =
      Parse({"--arrange-files", "--merge-as-instances", "--match-part-names",
             "--suffix-file-instance", "--auto-rename-instances", "--help", "--version"});
  EXPECT_TRUE(all.arrangeFiles && all.mergeAsInstances && all.matchPartNamesOption &&
              all.suffixFileInstanceOption && all.autoRenameInstancesOption && all.help &&
              all.version);
  const CommandLine none = Parse({"--Merge-As-Instances", "--arrange-files=1", "--arrange",
                                  "--help ", "--VERSION", "a.mox", "b.mox", "out.mox"});
  EXPECT_EQ(none.options.size(), 5u);
  EXPECT_FALSE(none.mergeAsInstances || none.arrangeFiles || none.help || none.version);
}

TEST(CommandLineTest, InstanceFlagCombinations) {
  struct Case {
    Args options;
    bool suffix, autoRename, matchPartNames;
  };
  const Case cases[] = {
      {{}, false, false, false},
      {{"--suffix-file-instance"}, true, false, false},
      {{"--auto-rename-instances"}, true, true, false},
      {{"--suffix-file-instance", "--auto-rename-instances"}, true, false, false},
      {{"--auto-rename-instances", "--suffix-file-instance"}, true, false, false},
      {{"--match-part-names"}, false, false, true},
      {{"--match-part-names", "--auto-rename-instances"}, true, true, true},
      {{"--match-part-names", "--suffix-file-instance"}, true, false, true},
      {{"--auto-rename-instances", "--auto-rename-instances"}, true, true, false},
  };
  for (const Case& c : cases) {
    Args args = {"--merge-as-instances", "a.mox", "b.mox", "out.mox"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CommandLine line = Parse(args);
    SCOPED_TRACE(::testing::PrintToString(c.options));
    EXPECT_TRUE(line.mergeAsInstances);
    EXPECT_EQ(line.suffix, c.suffix);
    EXPECT_EQ(line.autoRename, c.autoRename);
    EXPECT_EQ(line.matchPartNames, c.matchPartNames);
  }
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
  EXPECT_EQ(MoxMerge::UsageLine("./bin/mox merge"),
            "Usage: ./bin/mox merge <files_to_merge> <output_file>");
  EXPECT_EQ(MoxMerge::UsageLine(""), "Usage:  <files_to_merge> <output_file>");
  const std::string help = MoxMerge::HelpText("moxmerge");
  EXPECT_EQ(help.rfind("Usage: moxmerge <files_to_merge> <output_file>\n", 0), 0u);
  for (const char* item :
       {"--arrange-files", "--merge-as-instances", "--match-part-names", "--suffix-file-instance",
        "--auto-rename-instances", "--help", "--version",
        "Options:", "Exit status:", "Environment:", "0  success", "1  usage error",
        "2  failure of the last operation", "4  no Mox input", "TESSARA_TEMP_PATH", "USERPROFILE",
        "HOME", "KORVANE_DEFAULT_MOX_BLOCK_SIZE", "KORVANE_MAX_MOX_BLOCK_SIZE"})
    EXPECT_NE(help.find(item), std::string::npos) << item;
  EXPECT_EQ(help.back(), '\n');
  std::size_t start = 0;
  for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 100u) << help.substr(start, end - start);
}

}  // namespace
