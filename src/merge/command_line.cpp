// Splitting the command line into options, inputs and output, and the texts that
// describe its use.
#include "merge/command_line.hpp"

namespace MoxMerge {

namespace {

const char kArrangeFiles[] = "--arrange-files";
const char kMergeAsInstances[] = "--merge-as-instances";
const char kMatchPartNames[] = "--match-part-names";
const char kSuffixFileInstance[] = "--suffix-file-instance";
const char kAutoRenameInstances[] = "--auto-rename-instances";
const char kRewriteBlocks[] = "--rewrite-blocks";
const char kHelp[] = "--help";
const char kVersion[] = "--version";
const char kViewPointExtension[] = ".vpt";

void NoteOption(CommandLine& line, const std::string& option) {
  if (option == kArrangeFiles) line.arrangeFiles = true;
  if (option == kMergeAsInstances) line.mergeAsInstances = true;
  if (option == kMatchPartNames) line.matchPartNamesOption = true;
  if (option == kSuffixFileInstance) line.suffixFileInstanceOption = true;
  if (option == kAutoRenameInstances) line.autoRenameInstancesOption = true;
  if (option == kRewriteBlocks) line.rewriteBlocks = true;
  if (option == kHelp) line.help = true;
  if (option == kVersion) line.version = true;
}

void DeriveInstanceFlags(CommandLine& line) {
  line.matchPartNames = line.matchPartNamesOption;
  if (line.suffixFileInstanceOption) {
    line.suffix = true;
    line.autoRename = false;
  } else if (line.autoRenameInstancesOption) {
    line.suffix = true;
    line.autoRename = true;
  } else {
    line.suffix = false;
    line.autoRename = false;
  }
}

}  // namespace

bool IsOption(const std::string& argument) {
  return argument.size() >= 2 && argument[0] == '-' && argument[1] == '-';
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (!args.empty()) line.program = args[0];
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (IsOption(args[i])) {
      line.options.push_back(args[i]);
      NoteOption(line, args[i]);
    } else {
      line.positionals.push_back(args[i]);
    }
  }
  if (!line.positionals.empty()) {
    line.outputPath = line.positionals.back();
    line.inputs.assign(line.positionals.begin(), line.positionals.end() - 1);
  }
  line.usageError = line.inputs.size() < 2;
  DeriveInstanceFlags(line);
  return line;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
  return ParseCommandLine(args);
}

bool IsViewPointPath(const std::string& path) {
  const std::string extension = kViewPointExtension;
  return path.size() >= extension.size() &&
         path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
}

SplitInputs SeparateInputs(const std::vector<std::string>& inputs) {
  SplitInputs split;
  for (const auto& input : inputs)
    (IsViewPointPath(input) ? split.viewPointInputs : split.moxInputs).push_back(input);
  return split;
}

std::string UsageLine(const std::string& program) {
  return "Usage: " + program + " <files_to_merge> <output_file>";
}

std::string HelpText(const std::string& program) {
  std::string text = UsageLine(program) + "\n";
  text +=
      "Merges two or more Mox files into <output_file>; inputs ending in \".vpt\" are view\n"
      "point files whose view points are added to the result.\n"
      "\n"
      "Options:\n"
      "  --arrange-files          put numbered inputs (run1, run2, run10) in numeric order\n"
      "  --merge-as-instances     merge the geometry arrays of every input into the first\n"
      "  --match-part-names       with --auto-rename-instances, join geometry by part name\n"
      "  --suffix-file-instance   tag every array with the input's position (F1, F2, ...)\n"
      "  --auto-rename-instances  take only tagged arrays of later inputs, prefixed F<n>\n"
      "  --rewrite-blocks         inflate and deflate every heavy block again instead of\n"
      "                           copying the inputs' compressed blocks as they are\n"
      "  --help                   print this text\n"
      "  --version                print the program version\n"
      "\n"
      "Exit status:\n"
      "  0  success\n"
      "  1  usage error\n"
      "  2  failure of the last operation\n"
      "  4  no Mox input\n"
      "\n"
      "Environment:\n"
      "  TESSARA_TEMP_PATH, USERPROFILE, HOME  trace log directory, first non-empty one\n"
      "  KORVANE_DEFAULT_MOX_BLOCK_SIZE        growth step of blocks in bytes (10485760)\n"
      "  KORVANE_MAX_MOX_BLOCK_SIZE            size limit of one stream's blocks (209715200)\n";
  return text;
}

}  // namespace MoxMerge
