// moxinfo's command line and main line (info_command.hpp).
#include "info/info_command.hpp"

#include <exception>
#include <iostream>

#include "info/block_listing.hpp"
#include "info/file_check.hpp"
#include "info/listing_json.hpp"
#include "info/listing_text.hpp"
#include "info/model_listing.hpp"
#include "kiv/mox/tree.hpp"

namespace MoxInfo {

std::string InfoUsage() {
  return "Usage: moxinfo FILE [--blocks] [--json] [--help] [--version]\n"
         "  or:  moxinfo --check FILE... [--strict] [--json]\n"
         "Lists the content of a Mox file: container version, node tree, geometry arrays,\n"
         "node sets, save history and view points.\n"
         "  --blocks   also list the block table (number, serial, stored size, flags,\n"
         "             file offset, stream name)\n"
         "  --check    test the whole file instead: every block inflated once, the block\n"
         "             table, every node record, every array's values, node sets, history\n"
         "             and view points; prints every problem (damage) and warning (what\n"
         "             the readers accept but may surprise, such as a link to nothing),\n"
         "             each with where it lies, then a summary line; several files are\n"
         "             checked one after the other\n"
         "  --strict   with --check, warnings count as damage\n"
         "  --json     print everything as one JSON document (with --check and several\n"
         "             files, an array of one document per file)\n"
         "  --help     this text\n"
         "  --version  the program's version\n"
         "Texts from the file are printed with the tag separator byte 0x1E as <RS> and\n"
         "other control or malformed bytes as \\xNN.\n"
         "Exit status: 0 listed (with --check: sound), 1 usage error, 2 the file could not\n"
         "be read (with --check: one file damaged, or warned about with --strict).\n";
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
  std::optional<BlockTable> blocks;
  if (command.blocks) blocks = ReadBlockTable(command.path);
  if (command.json) {
    std::cout << ListingJson(listing, blocks ? &*blocks : nullptr)
                     .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << std::endl;
  } else {
    PrintListing(listing, std::cout);
    if (blocks) PrintBlockTable(*blocks, std::cout);
    std::cout << std::flush;
  }
  return 0;
}

// Each file in turn; the status is the worst of them.
int CheckFiles(const InfoCommand& command) {
  int status = 0;
  nlohmann::ordered_json documents = nlohmann::ordered_json::array();
  for (const std::string& path : command.paths) {
    const CheckReport report = CheckFile(path);
    if (command.json)
      documents.push_back(CheckReportJson(report, command.strict));
    else
      PrintCheckReport(report, command.strict, std::cout);
    std::cout << std::flush;
    if (report.Sound(command.strict)) continue;
    std::cerr << report.Summary(command.strict) << std::endl;
    status = 2;
  }
  if (command.json)
    std::cout << (documents.size() == 1 ? documents[0] : documents)
                     .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << std::endl;
  return status;
}

}  // namespace

int RunMoxInfo(int argc, const char* const* argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string error;
  const auto command = ParseInfoCommand(args, error);
  if (!command) {
    std::cerr << error << "\n" << InfoUsage() << std::flush;
    return 1;
  }
  if (command->help) {
    std::cout << InfoUsage() << std::flush;
    return 0;
  }
  if (command->version) {
    std::cout << "moxinfo (MoxMerge 2017 R1)" << std::endl;
    return 0;
  }
  try {
    return command->check ? CheckFiles(*command) : ListFile(*command);
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 2;
  }
}

}  // namespace MoxInfo
