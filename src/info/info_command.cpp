// moxinfo's command line and main line (info_command.hpp).
#include "info/info_command.hpp"

#include <iostream>

#include "info/block_listing.hpp"
#include "info/listing_json.hpp"
#include "info/listing_text.hpp"
#include "info/model_listing.hpp"
#include "kiv/mox/tree.hpp"
#include "tools/file_check.hpp"
#include "tools/json_output.hpp"
#include "tools/tool_start.hpp"

namespace MoxInfo {

std::string InfoUsage() {
  return MoxTools::HelpText(
      "Usage: moxinfo FILE [--blocks] [--json] [--help] [--version]\n"
      "  or:  moxinfo --check FILE... [--strict] [--json]\n"
      "Lists the content of a Mox file: container version, node tree, geometry arrays,\n"
      "node sets, save history and view points.\n",
      {{"--blocks",
        "also list the block table (number, serial, stored size, flags,\n"
        "file offset, stream name)"},
       {"--check",
        "test the whole file instead: every block inflated once, the block\n"
        "table, every node record, every array's values, node sets, history\n"
        "and view points; prints every problem (damage) and warning (what\n"
        "the readers accept but may surprise, such as a link to nothing),\n"
        "each with where it lies, then a summary line; several files are\n"
        "checked one after the other"},
       {"--strict", "with --check, warnings count as damage"},
       {"--json",
        "print everything as one JSON document (with --check and several\n"
        "files, an array of one document per file)"}},
      13,
      "Texts from the file are printed with the tag separator byte 0x1E as <RS> and\n"
      "other control or malformed bytes as \\xNN.\n"
      "Exit status: 0 listed (with --check: sound), 1 usage error, 2 the file could not\n"
      "be read (with --check: one file damaged, or warned about with --strict).\n");
}

std::optional<InfoCommand> ParseInfoCommand(const std::vector<std::string>& args,
                                            std::string& error) {
  InfoCommand command;
  for (const std::string& arg : args) {
    if (arg == "--blocks") {
      command.blocks = true;
    } else if (arg == "--check") {
      command.check = true;
    } else if (arg == "--strict") {
      command.strict = true;
    } else if (arg == "--json") {
      command.json = true;
    } else if (arg == "--help") {
      command.help = true;
    } else if (arg == "--version") {
      command.version = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      error = "Unknown option " + arg;
      return std::nullopt;
    } else if (!arg.empty()) {
      if (command.path.empty()) command.path = arg;
      command.paths.push_back(arg);
    } else {
      error = "Unexpected argument " + arg;
      return std::nullopt;
    }
  }
  if (command.path.empty() && !command.help && !command.version) {
    error = "No file given";
    return std::nullopt;
  }
  if (command.paths.size() > 1 && !command.check) {
    error = "Unexpected argument " + command.paths[1];
    return std::nullopt;
  }
  if (command.check && command.blocks) {
    error = "--blocks cannot be combined with --check";
    return std::nullopt;
  }
  if (command.strict && !command.check) {
    error = "--strict goes with --check";
    return std::nullopt;
  }
  return command;
}

namespace {

int ListFile(const InfoCommand& command) {
  KivMox::Tree tree;
  KivMox::Tree::IdentifierMap identifiers;
  tree.Load(command.path, identifiers);
  const ModelListing listing = ListModel(tree, command.path);
  std::optional<BlockListing> blocks;
  if (command.blocks) blocks = ReadBlockListing(command.path);
  if (command.json) {
    MoxTools::PrintJson(ListingJson(listing, blocks ? &*blocks : nullptr), std::cout);
  } else {
    PrintListing(listing, std::cout);
    if (blocks) PrintBlockListing(*blocks, std::cout);
    std::cout << std::flush;
  }
  return 0;
}

// Each file in turn; the status is the worst of them.
int CheckFiles(const InfoCommand& command) {
  int status = 0;
  nlohmann::ordered_json documents = nlohmann::ordered_json::array();
  for (const std::string& path : command.paths) {
    const MoxTools::CheckReport report = MoxTools::CheckFile(path);
    if (command.json)
      documents.push_back(MoxTools::CheckReportJson(report, command.strict));
    else
      MoxTools::PrintCheckReport(report, command.strict, std::cout);
    std::cout << std::flush;
    if (report.Sound(command.strict)) continue;
    std::cerr << report.Summary(command.strict) << std::endl;
    status = 2;
  }
  if (command.json)
    MoxTools::PrintJson(documents.size() == 1 ? documents[0] : documents, std::cout);
  return status;
}

}  // namespace

int RunMoxInfo(int argc, const char* const* argv) {
  constexpr MoxTools::Tool kTool{
      .name = "moxinfo", .usage = InfoUsage, .namesItself = false, .usageStatus = 1};
  std::string error;
  const auto command = ParseInfoCommand(MoxTools::Arguments(argc, argv), error);
  if (const auto end = MoxTools::StartUp(kTool, command, error)) return *end;
  return MoxTools::RunReporting(
      [&] { return command->check ? CheckFiles(*command) : ListFile(*command); });
}

}  // namespace MoxInfo
