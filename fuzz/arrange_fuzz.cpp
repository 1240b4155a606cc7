// Fuzz target for the command-line split and the natural ordering of inputs. The input
// is a list of arguments separated by NUL bytes, the first one being the program name.
// Any broken invariant aborts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "merge/arrange_files.hpp"
#include "merge/command_line.hpp"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> SplitOnNul(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else
      args.back().push_back(static_cast<char>(data[i]));
  }
  return args;
}

void CheckCommandLine(const std::vector<std::string>& args, const MoxMerge::CommandLine& line) {
  Require(line.program == args[0]);
  Require(line.options.size() + line.positionals.size() == args.size() - 1);
  std::size_t o = 0, p = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (MoxMerge::IsOption(args[i]))
      Require(o < line.options.size() && line.options[o++] == args[i]);
    else
      Require(p < line.positionals.size() && line.positionals[p++] == args[i]);
  }
  Require(line.usageError == (line.positionals.size() < 3));
  if (!line.positionals.empty()) {
    Require(line.outputPath == line.positionals.back());
    Require(line.inputs.size() + 1 == line.positionals.size());
    Require(std::equal(line.inputs.begin(), line.inputs.end(), line.positionals.begin()));
  } else {
    Require(line.inputs.empty() && line.outputPath.empty());
  }
  Require(!line.autoRename || line.suffix);
  if (line.suffixFileInstanceOption) Require(line.suffix && !line.autoRename);

  MoxMerge::SplitInputs split = MoxMerge::SeparateInputs(line.inputs);
  Require(split.moxInputs.size() + split.viewPointInputs.size() == line.inputs.size());
  std::size_t m = 0, v = 0;
  for (const auto& input : line.inputs) {
    bool vpt = input.size() >= 4 && input.compare(input.size() - 4, 4, ".vpt") == 0;
    Require(vpt == MoxMerge::IsViewPointPath(input));
    if (vpt)
      Require(v < split.viewPointInputs.size() && split.viewPointInputs[v++] == input);
    else
      Require(m < split.moxInputs.size() && split.moxInputs[m++] == input);
  }
}

// The output is a permutation of the input in which only family members moved: each
// family holds the same slots, its members ascending by number, ties in input order.
void CheckArrangement(const std::vector<std::string>& in) {
  std::vector<std::string> out = MoxMerge::ArrangeFiles(in);
  Require(out.size() == in.size());
  std::vector<std::string> a = in, b = out;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  Require(a == b);

  std::map<std::string, std::vector<std::size_t>> families;
  for (std::size_t i = 0; i < in.size(); ++i) {
    MoxMerge::FileEntry e = MoxMerge::MakeFileEntry(in[i], i);
    Require(e.extension == ".mox" && e.position == i);
    Require(e.path.compare(0, e.stem.size() + e.digits.size(), e.stem + e.digits) == 0);
    Require(!e.digits.empty() || e.number == MoxMerge::kUnparsedNumber);
    if (e.digits.empty())
      Require(out[i] == in[i]);
    else
      families[e.stem].push_back(i);
  }
  for (const auto& [stem, slots] : families) {
    std::vector<MoxMerge::FileEntry> expected;
    for (std::size_t slot : slots) expected.push_back(MoxMerge::MakeFileEntry(in[slot], slot));
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& x, const auto& y) { return x.number < y.number; });
    for (std::size_t k = 0; k < slots.size(); ++k) {
      MoxMerge::FileEntry got = MoxMerge::MakeFileEntry(out[slots[k]], slots[k]);
      Require(got.stem == stem && !got.digits.empty());
      Require(got.path == expected[k].path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = SplitOnNul(data, size);
  MoxMerge::CommandLine line = MoxMerge::ParseCommandLine(args);
  CheckCommandLine(args, line);
  CheckArrangement(line.inputs);
  CheckArrangement(args);
  return 0;
}
