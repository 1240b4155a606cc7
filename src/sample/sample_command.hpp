// The command line of moxsample:
//   moxsample OUT.mox [--parts N] [--heavy-mib M] [--seed S] [--view-points K]
// Options take their value as the next argument or after "=" ("--parts=4"). Exit status:
// 0 written, 1 usage error (usage on stderr), 2 the model could not be written (the
// error text on stderr). "--help" prints the usage on stdout; "--version" the version.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sample/sample_model.hpp"

namespace MoxSample {

struct SampleCommand {
  std::string output;
  SampleOptions options;
  bool help = false;
  bool version = false;
};

// Limits of the options.
inline constexpr std::uint32_t kMaxSampleParts = 10000;
inline constexpr double kMaxSampleHeavyMib = 65536.0;
inline constexpr std::uint32_t kMaxSampleViewPointGroups = 1000;

std::string SampleUsage();
// The arguments after the program name; nullopt (with the reason in error) when they
// are not usable.
std::optional<SampleCommand> ParseSampleCommand(const std::vector<std::string>& args,
                                                std::string& error);
int RunMoxSample(int argc, const char* const* argv);

}  // namespace MoxSample
