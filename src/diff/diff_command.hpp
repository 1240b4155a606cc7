// The command line of moxdiff:
//   moxdiff A B [--left-node ID] [--right-node ID] [--abs-tol X] [--rel-tol Y] [--versions]
//               [--ignore history,view-points] [--brief] [--json] [--help] [--version]
// Options come in any order; those with a value take it as the next argument or after
// "=". Exit status: 0 equal within the tolerances, 1 they differ, 2 trouble (usage error
// with the usage on stderr, a file that cannot be read, a damaged tree).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diff/model_diff.hpp"

namespace MoxDiff {

struct DiffCommand {
  std::string left, right;
  std::optional<std::uint32_t> leftNode, rightNode;
  DiffOptions options;
  bool brief = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

std::string DiffUsage();
std::optional<DiffCommand> ParseDiffCommand(const std::vector<std::string>& args,
                                            std::string& error);
int RunMoxDiff(int argc, const char* const* argv);

}  // namespace MoxDiff
