// The start of a tool's run (tool_start.hpp).
#include "tools/tool_start.hpp"

#include <exception>
#include <iostream>

namespace MoxTools {

std::string HelpText(const std::string& head, const std::vector<OptionHelp>& options,
                     std::size_t column, const std::string& tail) {
  std::string text = head;
  const auto add = [&](const std::string& option, const std::string& help) {
    std::string line = "  " + option;
    line.append(line.size() < column ? column - line.size() : 1, ' ');
    for (const char c : help) {
      if (c != '\n') {
        line += c;
        continue;
      }
      text += line + '\n';
      line.assign(column, ' ');
    }
    text += line + '\n';
  };
  for (const OptionHelp& option : options) add(option.option, option.text);
  add("--help", "this text");
  add("--version", "the program's version");
  return text + tail;
}

std::vector<std::string> Arguments(int argc, const char* const* argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

int UsageError(const Tool& tool, const std::string& error) {
  if (tool.namesItself) std::cerr << tool.name << ": ";
  std::cerr << error << "\n" << tool.usage() << std::flush;
  return tool.usageStatus;
}

std::optional<int> HelpOrVersion(const Tool& tool, bool help, bool version) {
  if (help) {
    std::cout << tool.usage() << std::flush;
    return 0;
  }
  if (version) {
    std::cout << tool.name << " (MoxMerge 2017 R1)" << std::endl;
    return 0;
  }
  return std::nullopt;
}

int RunReporting(const std::function<int()>& work) {
  try {
    return work();
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 2;
  }
}

}  // namespace MoxTools
