// moxsample's command line and main line (sample_command.hpp).
#include "sample/sample_command.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "tools/tool_start.hpp"

namespace MoxSample {

namespace {

// A whole decimal number in [low, high].
bool ParseUnsigned(const std::string& text, std::uint64_t low, std::uint64_t high,
                   std::uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseMib(const std::string& text, double& value) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v <= 0 || v > kMaxSampleHeavyMib) return false;
  value = v;
  return true;
}

bool ApplyOption(const std::string& name, const std::string& value, SampleOptions& options) {
  std::uint64_t n = 0;
  if (name == "--parts") {
    if (!ParseUnsigned(value, 1, kMaxSampleParts, n)) return false;
    options.parts = static_cast<std::uint32_t>(n);
  } else if (name == "--seed") {
    if (!ParseUnsigned(value, 0, UINT64_MAX, n)) return false;
    options.seed = n;
  } else if (name == "--view-points") {
    if (!ParseUnsigned(value, 0, kMaxSampleViewPointGroups, n)) return false;
    options.viewPointGroups = static_cast<std::uint32_t>(n);
  } else if (name == "--heavy-mib") {
    return ParseMib(value, options.heavyMib);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string SampleUsage() {
  return MoxTools::HelpText(
      "Usage: moxsample OUT.mox [--parts N] [--heavy-mib M] [--seed S] [--view-points K]\n"
      "Writes a synthetic Mox model.\n",
      {{"--parts N", "part groups, each with a shape and a geometry (1 to 10000, default 3)"},
       {"--heavy-mib M",
        "MiB of array values in the whole model; fractions allowed\n"
        "(above 0, at most 65536, default 1); held in memory while saving"},
       {"--seed S",
        "seed of the generator, 0 to 18446744073709551615 (default 1);\n"
        "one seed always gives the same model"},
       {"--view-points K", "view point groups (0 to 1000, default 2)"}},
      19, "Exit status: 0 written, 1 usage error, 2 the file could not be written.\n");
}

std::optional<SampleCommand> ParseSampleCommand(const std::vector<std::string>& args,
                                                std::string& error) {
  SampleCommand command;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      command.help = true;
    } else if (arg == "--version") {
      command.version = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const std::size_t eq = arg.find('=');
      std::string name = arg.substr(0, eq), value;
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = "Missing value for " + name;
        return std::nullopt;
      }
      if (!ApplyOption(name, value, command.options)) {
        error = "Bad option " + name + " " + value;
        return std::nullopt;
      }
    } else if (command.output.empty() && !arg.empty()) {
      command.output = arg;
    } else {
      error = "Unexpected argument " + arg;
      return std::nullopt;
    }
  }
  if (command.output.empty() && !command.help && !command.version) {
    error = "No output file given";
    return std::nullopt;
  }
  return command;
}

int RunMoxSample(int argc, const char* const* argv) {
  constexpr MoxTools::Tool kTool{
      .name = "moxsample", .usage = SampleUsage, .namesItself = false, .usageStatus = 1};
  std::string error;
  const auto command = ParseSampleCommand(MoxTools::Arguments(argc, argv), error);
  if (const auto end = MoxTools::StartUp(kTool, command, error)) return *end;
  return MoxTools::RunReporting([&] {
    WriteSampleModel(command->output, command->options);
    return 0;
  });
}

}  // namespace MoxSample
