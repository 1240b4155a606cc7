// The command-line split: options against paths, the usage decision, the flags handed
// to the instance merge, the view point split and the usage texts.
#include "merge/command_line.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using MoxMerge::CommandLine;
using MoxMerge::ParseCommandLine;
using Args = std::vector<std::string>;

CommandLine Parse(Args args) {
  args.insert(args.begin(), "moxmerge");
  return ParseCommandLine(args);
}

TEST(CommandLineTest, TwoInputsAndAnOutput) {
  CommandLine c = Parse({"a.mox", "b.mox", "out.mox"});
  EXPECT_FALSE(c.usageError);
  EXPECT_EQ(c.program, "moxmerge");
  EXPECT_EQ(c.outputPath, "out.mox");
  EXPECT_EQ(c.inputs, (Args{"a.mox", "b.mox"}));
  EXPECT_TRUE(c.options.empty());
  EXPECT_FALSE(c.arrangeFiles || c.mergeAsInstances || c.help || c.version);
}

TEST(CommandLineTest, OneInputIsAUsageError) {
  CommandLine c = Parse({"a.mox", "out.mox"});
  EXPECT_TRUE(c.usageError);
  EXPECT_EQ(c.outputPath, "out.mox");
  EXPECT_EQ(c.inputs, (Args{"a.mox"}));
}

TEST(CommandLineTest, NoPathsAreAUsageError) {
  EXPECT_TRUE(Parse({}).usageError);
  EXPECT_TRUE(Parse({"out.mox"}).usageError);
  CommandLine options = Parse({"--merge-as-instances", "--arrange-files", "--x"});
  EXPECT_TRUE(options.usageError);
  EXPECT_TRUE(options.positionals.empty());
  EXPECT_EQ(options.outputPath, "");
  EXPECT_TRUE(ParseCommandLine(Args{}).usageError);
  EXPECT_EQ(ParseCommandLine(Args{}).program, "");
}

TEST(CommandLineTest, OptionsDoNotCountAsInputs) {
  EXPECT_TRUE(Parse({"--arrange-files", "a.mox", "--x", "out.mox"}).usageError);
}

TEST(CommandLineTest, UnknownOptionsAreIgnored) {
  CommandLine c = Parse({"--x", "a.mox", "b.mox", "out.mox"});
  EXPECT_FALSE(c.usageError);
  EXPECT_EQ(c.options, (Args{"--x"}));
  EXPECT_EQ(c.inputs, (Args{"a.mox", "b.mox"}));
  EXPECT_EQ(c.outputPath, "out.mox");
  EXPECT_FALSE(c.arrangeFiles || c.mergeAsInstances || c.matchPartNames || c.suffix ||
               c.autoRename || c.help || c.version);
}

TEST(CommandLineTest, OptionsMayFollowTheOutputPath) {
  CommandLine c = Parse({"a.mox", "b.mox", "out.mox", "--merge-as-instances"});
  EXPECT_FALSE(c.usageError);
  EXPECT_TRUE(c.mergeAsInstances);
  EXPECT_EQ(c.outputPath, "out.mox");
  EXPECT_EQ(c.inputs, (Args{"a.mox", "b.mox"}));
}

TEST(CommandLineTest, DashArgumentsArePaths) {
  CommandLine c = Parse({"-", "-x", "out.mox"});
  EXPECT_FALSE(c.usageError);
  EXPECT_EQ(c.inputs, (Args{"-", "-x"}));
  EXPECT_TRUE(c.options.empty());

  CommandLine dashOut = Parse({"a.mox", "b.mox", "-"});
  EXPECT_EQ(dashOut.outputPath, "-");
}

TEST(CommandLineTest, DoubleDashIsAnIgnoredOption) {
  CommandLine c = Parse({"--", "a.mox", "--", "out.mox"});
  EXPECT_TRUE(c.usageError);
  EXPECT_EQ(c.options, (Args{"--", "--"}));
  EXPECT_EQ(c.positionals, (Args{"a.mox", "out.mox"}));
  EXPECT_TRUE(MoxMerge::IsOption("--"));
  EXPECT_TRUE(MoxMerge::IsOption("--a"));
  EXPECT_FALSE(MoxMerge::IsOption("-"));
  EXPECT_FALSE(MoxMerge::IsOption("-x"));
  EXPECT_FALSE(MoxMerge::IsOption(""));
  EXPECT_FALSE(MoxMerge::IsOption("a--"));
}

TEST(CommandLineTest, OptionsAreWholeCaseSensitiveStrings) {
  CommandLine c = Parse({"--Merge-As-Instances", "--arrange-files=1", "--arrange", "--help ",
                         "--VERSION", "a.mox", "b.mox", "out.mox"});
  EXPECT_EQ(c.options.size(), 5u);
  EXPECT_FALSE(c.mergeAsInstances || c.arrangeFiles || c.help || c.version);
}

TEST(CommandLineTest, EveryKnownOptionIsRecognised) {
  CommandLine c =
      Parse({"--arrange-files", "--merge-as-instances", "--match-part-names",
             "--suffix-file-instance", "--auto-rename-instances", "--help", "--version"});
  EXPECT_TRUE(c.arrangeFiles);
  EXPECT_TRUE(c.mergeAsInstances);
  EXPECT_TRUE(c.matchPartNamesOption);
  EXPECT_TRUE(c.suffixFileInstanceOption);
  EXPECT_TRUE(c.autoRenameInstancesOption);
  EXPECT_TRUE(c.help);
  EXPECT_TRUE(c.version);
  EXPECT_TRUE(c.usageError);
}

TEST(CommandLineTest, PositionalsKeepTheirOrderAmongOptions) {
  CommandLine c = Parse({"z.mox", "--a", "y.mox", "--b", "x.mox", "w.mox"});
  EXPECT_EQ(c.positionals, (Args{"z.mox", "y.mox", "x.mox", "w.mox"}));
  EXPECT_EQ(c.options, (Args{"--a", "--b"}));
  EXPECT_EQ(c.inputs, (Args{"z.mox", "y.mox", "x.mox"}));
  EXPECT_EQ(c.outputPath, "w.mox");
}

// ---- Flags handed to the instance merge ----

struct FlagCase {
  Args options;
  bool suffix;
  bool autoRename;
  bool matchPartNames;
};

TEST(CommandLineTest, InstanceFlagCombinations) {
  const std::vector<FlagCase> cases = {
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
  for (const auto& fc : cases) {
    Args args = {"--merge-as-instances", "a.mox", "b.mox", "out.mox"};
    args.insert(args.end(), fc.options.begin(), fc.options.end());
    CommandLine c = Parse(args);
    std::string label = "options:";
    for (const auto& o : fc.options) label += " " + o;
    EXPECT_TRUE(c.mergeAsInstances) << label;
    EXPECT_EQ(c.suffix, fc.suffix) << label;
    EXPECT_EQ(c.autoRename, fc.autoRename) << label;
    EXPECT_EQ(c.matchPartNames, fc.matchPartNames) << label;
  }
}

TEST(CommandLineTest, MatchPartNamesWithoutInstancesChangesNothingElse) {
  CommandLine c = Parse({"--match-part-names", "a.mox", "b.mox", "out.mox"});
  EXPECT_FALSE(c.mergeAsInstances);
  EXPECT_FALSE(c.usageError);
  EXPECT_EQ(c.inputs, (Args{"a.mox", "b.mox"}));
}

TEST(CommandLineTest, ArgvOverload) {
  const char* argv[] = {"/opt/bin/moxmerge", "--arrange-files", "a.mox", "b.mox", "o.mox", nullptr};
  CommandLine c = ParseCommandLine(5, argv);
  EXPECT_EQ(c.program, "/opt/bin/moxmerge");
  EXPECT_TRUE(c.arrangeFiles);
  EXPECT_EQ(c.inputs, (Args{"a.mox", "b.mox"}));
  EXPECT_EQ(c.outputPath, "o.mox");
  EXPECT_TRUE(ParseCommandLine(0, argv + 5).usageError);
}

// ---- View point inputs ----

TEST(CommandLineTest, ViewPointPathsEndInLowerCaseVpt) {
  EXPECT_TRUE(MoxMerge::IsViewPointPath("p.vpt"));
  EXPECT_TRUE(MoxMerge::IsViewPointPath(".vpt"));
  EXPECT_TRUE(MoxMerge::IsViewPointPath("dir.mox/x.mox.vpt"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("vpt"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("pt"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath(""));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("p.VPT"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("p.Vpt"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("p.vpt "));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("p.vpt.mox"));
  EXPECT_FALSE(MoxMerge::IsViewPointPath("p_vpt"));
}

TEST(CommandLineTest, OnlyViewPointInputsLeaveNoMoxInput) {
  CommandLine c = Parse({"p.vpt", "q.vpt", "out.mox"});
  EXPECT_FALSE(c.usageError);
  MoxMerge::SplitInputs s = MoxMerge::SeparateInputs(c.inputs);
  EXPECT_TRUE(s.moxInputs.empty());
  EXPECT_EQ(s.viewPointInputs, (Args{"p.vpt", "q.vpt"}));
}

TEST(CommandLineTest, SeparationKeepsOrderAndTreatsOtherPathsAsMox) {
  MoxMerge::SplitInputs s =
      MoxMerge::SeparateInputs({"b.vpt", "a.mox", "P.VPT", "c.txt", "a.vpt", "-", "vpt", "z.mox"});
  EXPECT_EQ(s.moxInputs, (Args{"a.mox", "P.VPT", "c.txt", "-", "vpt", "z.mox"}));
  EXPECT_EQ(s.viewPointInputs, (Args{"b.vpt", "a.vpt"}));
  EXPECT_TRUE(MoxMerge::SeparateInputs({}).moxInputs.empty());
}

TEST(CommandLineTest, OneMoxInputWithViewPoints) {
  CommandLine c = Parse({"a.mox", "p.vpt", "out.mox"});
  MoxMerge::SplitInputs s = MoxMerge::SeparateInputs(c.inputs);
  EXPECT_EQ(s.moxInputs, (Args{"a.mox"}));
  EXPECT_EQ(s.viewPointInputs, (Args{"p.vpt"}));
}

// ---- Texts ----

TEST(CommandLineTest, UsageLineNamesTheProgramUnchanged) {
  EXPECT_EQ(MoxMerge::UsageLine("moxmerge"), "Usage: moxmerge <files_to_merge> <output_file>");
  EXPECT_EQ(MoxMerge::UsageLine("./bin/mox merge"),
            "Usage: ./bin/mox merge <files_to_merge> <output_file>");
  EXPECT_EQ(MoxMerge::UsageLine(""), "Usage:  <files_to_merge> <output_file>");
}

TEST(CommandLineTest, HelpTextCoversOptionsStatusesAndEnvironment) {
  std::string help = MoxMerge::HelpText("moxmerge");
  EXPECT_EQ(help.rfind("Usage: moxmerge <files_to_merge> <output_file>\n", 0), 0u);
  for (const char* item :
       {"--arrange-files", "--merge-as-instances", "--match-part-names", "--suffix-file-instance",
        "--auto-rename-instances", "--help", "--version", "0  success", "1  usage error",
        "2  failure of the last operation", "4  no Mox input", "TESSARA_TEMP_PATH", "USERPROFILE",
        "HOME", "KORVANE_DEFAULT_MOX_BLOCK_SIZE", "KORVANE_MAX_MOX_BLOCK_SIZE"})
    EXPECT_NE(help.find(item), std::string::npos) << item;
  EXPECT_EQ(help.back(), '\n');
  std::size_t start = 0;
  while (start < help.size()) {
    std::size_t end = help.find('\n', start);
    EXPECT_LE(end - start, 100u) << help.substr(start, end - start);
    start = end + 1;
  }
}

}  // namespace
