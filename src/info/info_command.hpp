// The command line of moxinfo:
//   moxinfo FILE [--blocks] [--json] [--help] [--version]
// Loads FILE (KivMox::Tree::Load into a new tree) and prints its listing as text
// (listing_text.hpp) or, with --json, as one JSON document (listing_json.hpp); --blocks
// adds the container's block table. Exit status: 0 listed, 1 usage error (usage on
// stderr), 2 the file could not be read (the error text on stderr).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace MoxInfo {

struct InfoCommand {
  std::string path;
  bool blocks = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

std::string InfoUsage();
std::optional<InfoCommand> ParseInfoCommand(const std::vector<std::string>& args,
                                            std::string& error);
int RunMoxInfo(int argc, const char* const* argv);

}  // namespace MoxInfo
