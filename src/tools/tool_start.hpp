// The start of a tool's run, alike for every tool: its arguments, the help text laid out in
// columns, and the end of a run before its work (a usage error, --help or --version).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace MoxTools {

struct Tool {
  const char* name;        // "moxinfo"; --version prints "moxinfo (MoxMerge 2017 R1)"
  std::string (*usage)();  // the help text
  bool namesItself;        // a usage error starts with "<name>: "
  int usageStatus;         // the exit status of a usage error
};

// One option of a help text: "  <option>" then its text from the column on, each further
// line of the text (after a '\n') indented to the column.
struct OptionHelp {
  const char* option;
  const char* text;
};

// head, the options and then --help and --version in columns, then tail.
std::string HelpText(const std::string& head, const std::vector<OptionHelp>& options,
                     std::size_t column, const std::string& tail);

// The arguments after the program name.
std::vector<std::string> Arguments(int argc, const char* const* argv);

// The error and the help text on stderr; the tool's usage status.
int UsageError(const Tool& tool, const std::string& error);
// The help text or the version line on stdout, status 0; nullopt when neither was asked for.
std::optional<int> HelpOrVersion(const Tool& tool, bool help, bool version);

// How a run ends before its work, or nullopt when the command runs: a command that could not
// be parsed (error tells why), or one that asks for --help or --version.
template <class Command>
std::optional<int> StartUp(const Tool& tool, const std::optional<Command>& command,
                           const std::string& error) {
  if (!command) return UsageError(tool, error);
  return HelpOrVersion(tool, command->help, command->version);
}

// The status of work; a standard exception that escapes it has its text printed on stderr
// and gives status 2.
int RunReporting(const std::function<int()>& work);

}  // namespace MoxTools
