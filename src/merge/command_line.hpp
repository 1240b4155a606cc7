// The command line of moxmerge: program name, then options and paths in any order.
// An argument of at least two characters that starts with "--" is an option (a lone
// "--" too, and ignored like every option outside the known set); everything else,
// "-" and "-x" included, is a path. The last path names the output, the others are the
// inputs; fewer than two inputs is a usage error. Inputs whose last four bytes are
// ".vpt" are view point files, all others Mox files.
#pragma once

#include <string>
#include <vector>

namespace MoxMerge {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailure = 2;
inline constexpr int kExitNoMoxInput = 4;

struct CommandLine {
  std::string program;                   // the first argument, unchanged ("" when absent)
  std::vector<std::string> options;      // in command-line order
  std::vector<std::string> positionals;  // in command-line order
  bool usageError = true;                // fewer than two inputs besides the output path
  std::string outputPath;                // last positional, "" when there is none
  std::vector<std::string> inputs;       // positionals less the output path

  // Options given (whole, case-sensitive strings).
  bool arrangeFiles = false;
  bool mergeAsInstances = false;
  bool matchPartNamesOption = false;
  bool suffixFileInstanceOption = false;
  bool autoRenameInstancesOption = false;
  bool rewriteBlocks = false;
  bool help = false;
  bool version = false;

  // The flags handed to MergeAsInstances: "--suffix-file-instance" wins over
  // "--auto-rename-instances", which sets both suffix and auto-rename.
  bool suffix = false;
  bool autoRename = false;
  bool matchPartNames = false;
};

bool IsOption(const std::string& argument);

// args[0] is the program name; the remaining entries are the arguments.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
CommandLine ParseCommandLine(int argc, const char* const* argv);

struct SplitInputs {
  std::vector<std::string> moxInputs;        // in order
  std::vector<std::string> viewPointInputs;  // in order
};

// True when the last four bytes are exactly ".vpt".
bool IsViewPointPath(const std::string& path);
SplitInputs SeparateInputs(const std::vector<std::string>& inputs);

// "Usage: <program> <files_to_merge> <output_file>", without a line end.
std::string UsageLine(const std::string& program);
// The usage line, the options, the exit statuses and the environment, one item a line.
std::string HelpText(const std::string& program);

}  // namespace MoxMerge
