// moxdiff's command line and main line (diff_command.hpp).
#include "diff/diff_command.hpp"

#include <charconv>
#include <cmath>
#include <exception>
#include <iostream>

#include "diff/report_json.hpp"
#include "diff/report_text.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/versioned.hpp"
#include "kiv/util/display_text.hpp"
#include "kiv/util/exception.hpp"
#include "tools/file_check.hpp"
#include "tools/json_output.hpp"
#include "tools/tool_start.hpp"

namespace MoxDiff {

namespace {

constexpr int kEqual = 0, kDiffer = 1, kTrouble = 2;

bool ParseTolerance(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(out) &&
         out >= 0;
}

bool ParseNodeId(const std::string& text, std::uint32_t& out) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end && out != 0;
}

bool ParseIgnore(const std::string& text, DiffOptions& options) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string word = text.substr(start, comma - start);
    if (word == "history")
      options.ignoreHistory = true;
    else if (word == "view-points")
      options.ignoreViewPoints = true;
    else
      return false;
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

std::string DiffUsage() {
  return MoxTools::HelpText(
      "Usage: moxdiff A B [OPTION]...\n"
      "Compares two Mox files as models: node tree, node names and fields, group\n"
      "transforms and attributes, materials, node sets, geometry arrays with their\n"
      "values and links, save history and view points.\n",
      {{"--left-node ID", "compare the subtree of A rooted at node ID (default: the root, 1)"},
       {"--right-node ID",
        "compare the subtree of B rooted at node ID (default: the root, 1);\n"
        "with a subtree on either side, history and view points are\n"
        "not compared"},
       {"--abs-tol X", "floating-point values a and b are equal when |a - b| <= X"},
       {"--rel-tol Y",
        "... or when |a - b| <= Y * max(|a|, |b|); with either option\n"
        "NaN equals NaN, an infinity only the same infinity, and -0\n"
        "equals +0; without, values compare bit for bit"},
       {"--versions",
        "also compare the versions of the records (node records, materials,\n"
        "history records, view point entries) and of the containers"},
       {"--ignore LIST", "do not compare history and/or view-points (comma list)"},
       {"--brief", "print the summary line only"},
       {"--json", "print the report as one JSON document"}},
      19,
      "Nodes are matched by their path of child positions from the compared roots, such\n"
      "as /0/2; arrays by their index in their geometry. Texts from the files are\n"
      "printed with the tag separator byte 0x1E as <RS> and other control or malformed\n"
      "bytes as \\xNN.\n"
      "Exit status: 0 equal within the tolerances, 1 they differ, 2 trouble (usage\n"
      "error, a file that cannot be read or is damaged).\n");
}

std::optional<DiffCommand> ParseDiffCommand(const std::vector<std::string>& args,
                                            std::string& error) {
  DiffCommand command;
  std::vector<std::string> files;
  bool absGiven = false, relGiven = false, ignoreGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos)
      value = arg.substr(eq + 1), arg = arg.substr(0, eq);
    const auto take = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 < args.size()) return args[++i];
      error = "Option " + arg + " needs a value";
      return std::nullopt;
    };
    const bool valued = arg == "--left-node" || arg == "--right-node" || arg == "--abs-tol" ||
                        arg == "--rel-tol" || arg == "--ignore";
    if (value && !valued) {
      error = "Option " + arg + " takes no value";
      return std::nullopt;
    }
    if (valued) {
      const auto text = take();
      if (!text) return std::nullopt;
      const auto bad = [&](const char* what) {
        error =
            "Bad value for " + arg + ": \"" + Kiv::Util::DisplayText(*text) + "\" (" + what + ")";
        return std::nullopt;
      };
      const auto twice = [&] {
        error = "Option " + arg + " given twice";
        return std::nullopt;
      };
      if (arg == "--left-node" || arg == "--right-node") {
        auto& node = arg == "--left-node" ? command.leftNode : command.rightNode;
        if (node) return twice();
        std::uint32_t id = 0;
        if (!ParseNodeId(*text, id)) return bad("a node identifier from 1 to 4294967295");
        node = id;
      } else if (arg == "--ignore") {
        if (ignoreGiven) return twice();
        ignoreGiven = true;
        if (!ParseIgnore(*text, command.options)) return bad("history and/or view-points");
      } else {
        bool& given = arg == "--abs-tol" ? absGiven : relGiven;
        if (given) return twice();
        given = true;
        double& limit = arg == "--abs-tol" ? command.options.tolerance.absolute
                                           : command.options.tolerance.relative;
        if (!ParseTolerance(*text, limit)) return bad("a number of 0 or more");
        command.options.tolerance.given = true;
      }
    } else if (arg == "--versions") {
      command.options.versions = true;
    } else if (arg == "--brief") {
      command.brief = true;
    } else if (arg == "--json") {
      command.json = true;
    } else if (arg == "--help") {
      command.help = true;
    } else if (arg == "--version") {
      command.version = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "Unknown option " + Kiv::Util::DisplayText(arg);
      return std::nullopt;
    } else if (arg.empty()) {
      error = "Empty file name";
      return std::nullopt;
    } else {
      files.push_back(arg);
    }
  }
  if (command.help || command.version) return command;
  if (files.size() != 2) {
    error = files.size() < 2 ? "Two files are needed" : "Unexpected argument " + files[2];
    return std::nullopt;
  }
  if (command.brief && command.json) {
    error = "--brief and --json do not go together";
    return std::nullopt;
  }
  command.left = files[0], command.right = files[1];
  command.options.subtree = command.leftNode || command.rightNode;
  command.options.leftRoot = command.leftNode.value_or(1);
  command.options.rightRoot = command.rightNode.value_or(1);
  return command;
}

namespace {

// What the loader read past without failing, and the comparison would miss: a "View
// Points" section of which it dropped the view points or the actions. The view points of
// legacy containers cannot be read at all (their frames have no size): that is no damage.
bool ReportDroppedParts(const KivMox::Tree& tree, const std::string& path, const char* side) {
  if (tree.viewPointsFailure.empty() || KivRkf::IsLegacyContainerVersion(tree.fileVersion))
    return false;
  std::cerr << "moxdiff: " << side << " file " << Kiv::Util::DisplayText(path)
            << ": section \"View Points\" is damaged, the readers drop its "
            << (tree.views.present ? "actions" : "view points") << " (" << tree.viewPointsFailure
            << ")" << std::endl;
  return true;
}

bool LoadSide(KivMox::Tree& tree, const std::string& path, const char* side,
              KivRkf::OpenFilePool& pool) {
  try {
    KivMox::Tree::IdentifierMap identifiers;
    tree.SetDeferredLoading(true);
    tree.Load(path, identifiers, &pool);
    return !ReportDroppedParts(tree, path, side);
  } catch (const std::exception& e) {
    // Where the damage lies, as the check of the whole file finds it first.
    const MoxTools::CheckReport check = MoxTools::CheckFile(path);
    std::cerr << "moxdiff: " << side << " file " << Kiv::Util::DisplayText(path) << ": "
              << Kiv::Util::DescriptionOf(e);
    if (!check.problems.empty())
      std::cerr << " (" << check.problems.front().where << ": " << check.problems.front().what
                << ")";
    std::cerr << std::endl;
    return false;
  }
}

bool HasNode(const KivMox::Tree& tree, std::uint32_t id, const char* option,
             const std::string& path) {
  if (tree.Entries().count(id)) return true;
  std::cerr << "moxdiff: " << option << " " << id << ": " << Kiv::Util::DisplayText(path)
            << " has no node with this identifier" << std::endl;
  return false;
}

int Compare(const DiffCommand& command) {
  // The files of both sides, read on two threads; declared first, it outlives them.
  KivRkf::OpenFilePool pool;
  KivMox::Tree left, right;
  // Both sides are loaded, so that damage on either is reported.
  const bool leftLoaded = LoadSide(left, command.left, "left", pool);
  const bool rightLoaded = LoadSide(right, command.right, "right", pool);
  if (!leftLoaded || !rightLoaded) return kTrouble;
  const DiffOptions& options = command.options;
  if (!HasNode(left, options.leftRoot, "--left-node", command.left) ||
      !HasNode(right, options.rightRoot, "--right-node", command.right))
    return kTrouble;
  DiffResult result;
  try {
    result = DiffModels({left, command.left}, {right, command.right}, options);
  } catch (const std::exception& e) {
    std::cerr << "moxdiff: " << e.what() << std::endl;
    return kTrouble;
  }
  if (command.json)
    MoxTools::PrintJson(ReportJson(result), std::cout);
  else
    PrintReport(result, command.brief, std::cout);
  std::cout << std::flush;
  return result.Equal() ? kEqual : kDiffer;
}

}  // namespace

int RunMoxDiff(int argc, const char* const* argv) {
  constexpr MoxTools::Tool kTool{
      .name = "moxdiff", .usage = DiffUsage, .namesItself = true, .usageStatus = kTrouble};
  std::string error;
  const auto command = ParseDiffCommand(MoxTools::Arguments(argc, argv), error);
  if (const auto end = MoxTools::StartUp(kTool, command, error)) return *end;
  // Inputs closed and opened again by the open-file pool cost time; a higher limit spares it.
  KivRkf::RaiseOpenFileLimit();
  return Compare(*command);
}

}  // namespace MoxDiff
