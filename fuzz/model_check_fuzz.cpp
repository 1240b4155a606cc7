// Fuzz target for the two readers that test and compare whole files. The input is the file.
// The check of the whole file (moxinfo --check) must end in a report, never a crash; when it
// finds no problem, the program's loader must take the file too (the check reads the file
// as a merge would, and more). When the file loads, moxdiff's comparison of the file with
// itself must find the models equal, or refuse a tree it cannot walk. Failures other than
// Kiv::Util::Exception and the comparison's own refusal escape and count as crashes; a
// broken invariant aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diff/differences.hpp"
#include "diff/model_diff.hpp"
#include "fuzz_scratch.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/util/exception.hpp"
#include "tools/file_check.hpp"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

bool Loads(KivMox::Tree& tree, const std::string& path, std::string& why) {
  KivMox::Tree::IdentifierMap identifiers;
  tree.SetDeferredLoading(true);
  try {
    tree.Load(path, identifiers);
    return true;
  } catch (const Kiv::Util::Exception& e) {
    why = e.what();
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzScratch::Directory& dir = FuzzScratch::Scratch();
  const std::string input = dir.File("input.mox");
  FuzzScratch::Cleanup cleanup({input});
  FuzzScratch::WriteFile(input, data, size);

  const MoxTools::CheckReport report = MoxTools::CheckFile(input);
  KivMox::Tree left, right;
  std::string why;
  const bool loads = Loads(left, input, why);
  if (!loads && report.problems.empty()) {
    std::fprintf(stderr, "the loader refuses: %s\n", why.c_str());
    Require(false, "the check finds no problem in a file the loader refuses");
  }
  if (!loads || !Loads(right, input, why)) return 0;
  try {
    const MoxDiff::DiffResult result =
        MoxDiff::DiffModels({left, "left"}, {right, "right"}, MoxDiff::DiffOptions{});
    Require(result.Equal(), "a file compared with itself differs");
  } catch (const MoxDiff::DiffTrouble&) {
  }
  return 0;
}
