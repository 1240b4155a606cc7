// The command line of moxinfo:
//   moxinfo FILE [--blocks] [--json] [--help] [--version]
//   moxinfo --check FILE... [--strict] [--json]
// Loads FILE (KivMox::Tree::Load into a new tree) and prints its listing as text
// (listing_text.hpp) or, with --json, as one JSON document (listing_json.hpp); --blocks
// adds the container's block table. Exit status: 0 listed, 1 usage error (usage on
// stderr), 2 the file could not be read (the error text on stderr).
// --check tests each whole file instead (file_check.hpp): 0 all sound, 2 one damaged (or,
// with --strict, warned about), the reports on stdout and the summary line of each file
// that is not sound also on stderr; with --json one document, or an array of them for
// several files.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace MoxInfo {

struct InfoCommand {
  std::string path;                // the first file
  std::vector<std::string> paths;  // every file (several only with --check)
  bool blocks = false;
  bool check = false;
  bool strict = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

std::string InfoUsage();
std::optional<InfoCommand> ParseInfoCommand(const std::vector<std::string>& args,
                                            std::string& error);
int RunMoxInfo(int argc, const char* const* argv);

}  // namespace MoxInfo
