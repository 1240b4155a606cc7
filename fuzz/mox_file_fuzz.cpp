// Fuzz target for whole Mox files. The input is the file. When KivMox::Tree::Load accepts
// it, the moxinfo listing (text and JSON) is made from the tree, the tree is saved and the
// saved file loaded again: that load must succeed and give the same tree (the canonical
// description of tree_description.hpp, and the listing text, without the save history,
// which the save extends by one record). A save that fails must leave no file behind.
// The file is also merged alone, as moxmerge merges its first input. Failures other
// than Kiv::Util::Exception escape and count as crashes; a broken invariant aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_scratch.hpp"
#include "info/listing_json.hpp"
#include "info/listing_text.hpp"
#include "info/model_listing.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/util/exception.hpp"
#include "support/tree_description.hpp"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

// The listing text without what a save changes (container version and history), without
// the vibration flags of linked arrays (recomputed on reading from an attribute map that
// the reader empties for linked arrays), and with an empty current view point name read
// as the default name (an empty string is stored with length 0, which reads as nothing).
std::string ListingText(const KivMox::Tree& tree) {
  MoxInfo::ModelListing listing = MoxInfo::ListModel(tree, "");
  listing.containerVersion.clear();
  listing.history.clear();
  for (auto& line : listing.lines)
    if (auto* entry = std::get_if<MoxInfo::EntryListing>(&line))
      for (auto& array : entry->arrays)
        if (array.linked) array.vibration = 0;
  if (listing.currentViewName.empty()) listing.currentViewName = "no name";
  std::ostringstream out;
  MoxInfo::PrintListing(listing, out);
  return out.str();
}

void ExerciseJson(const KivMox::Tree& tree) {
  const MoxInfo::ModelListing listing = MoxInfo::ListModel(tree, "input");
  const std::string text = MoxInfo::ListingJson(listing, nullptr)
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  Require(!text.empty(), "the JSON listing is empty");
}

enum class MergeOutcome { NotLoaded, Saved, Refused };

// Merges the file alone as the plain merge merges its first input: loaded into a tree
// whose root is a merge group, its values left in the file until the save, which adopts
// the heavy blocks it can (copied as stored and checked from the output). A refused
// save leaves nothing behind; a saved merge loads again with every entry.
MergeOutcome MergeAlone(FuzzScratch::Directory& dir, const std::string& input,
                        const std::string& output) {
  KivMox::Tree tree("MoxMerge", "2017 R1");
  tree.SetDeferredLoading(true);
  tree.SetBlockAdoption(true);
  auto root = std::make_unique<KivMox::Group>();
  root->name = "Merge";
  root->mergeRoot = 1;
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
  KivMox::Tree::IdentifierMap identifiers;
  try {
    tree.Load(input, identifiers);
  } catch (const Kiv::Util::Exception&) {
    // Shifted identifiers may not fit where the file's own did.
    return MergeOutcome::NotLoaded;
  }
  // Every entry the file brought is shifted past the merge root.
  for (const auto& [id, fileId] : identifiers) Require(id == fileId + 1, "identifier shift");
  try {
    tree.Save(output);
  } catch (const Kiv::Util::Exception&) {
    Require(dir.Entries() == std::vector<std::string>{"input.mox"}, "a failed merge left a file");
    return MergeOutcome::Refused;
  }
  KivMox::Tree again;
  KivMox::Tree::IdentifierMap againIdentifiers;
  try {
    again.Load(output, againIdentifiers);
  } catch (const Kiv::Util::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Require(false, "a saved merge does not load again");
  }
  Require(again.Size() == tree.Size(), "the saved merge has every entry");
  std::remove(output.c_str());
  return MergeOutcome::Saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzScratch::Directory& dir = FuzzScratch::Scratch();
  const std::string input = dir.File("input.mox");
  const std::string output = dir.File("saved.mox");
  FuzzScratch::Cleanup cleanup({input, output});
  FuzzScratch::WriteFile(input, data, size);

  KivMox::Tree tree;
  KivMox::Tree::IdentifierMap identifiers;
  try {
    tree.Load(input, identifiers);
  } catch (const Kiv::Util::Exception&) {
    return 0;
  }
  const MergeOutcome merged = MergeAlone(dir, input, output);
  ExerciseJson(tree);
  const std::string description = FuzzDescription::DescribeTree(tree);
  const std::string listing = ListingText(tree);
  const std::vector<KivMox::GlobalInfoRecord> history = tree.globalInfo;

  try {
    tree.Save(output);
  } catch (const Kiv::Util::Exception&) {
    // Refused (a tree the format cannot carry): nothing may be left, neither at the
    // output path nor as a temporary file; the merge of the same tree is refused too.
    Require(dir.Entries() == std::vector<std::string>{"input.mox"}, "a failed save left a file");
    Require(merged != MergeOutcome::Saved, "the merge saves a tree that the save refuses");
    return 0;
  }
  Require(merged != MergeOutcome::Refused, "the merge refuses a tree that the save takes");
  Require(dir.Entries() == (std::vector<std::string>{"input.mox", "saved.mox"}),
          "the save left a temporary file");

  KivMox::Tree again;
  KivMox::Tree::IdentifierMap againIdentifiers;
  try {
    again.Load(output, againIdentifiers);
  } catch (const Kiv::Util::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Require(false, "a saved tree does not load again");
  }
  const std::string againDescription = FuzzDescription::DescribeTree(again);
  if (againDescription != description) {
    std::fprintf(stderr, "loaded:\n%s\n\nsaved and loaded again:\n%s\n", description.c_str(),
                 againDescription.c_str());
    Require(false, "the saved tree differs from the loaded one");
  }
  Require(ListingText(again) == listing, "the listing of the saved tree differs");
  Require(again.fileVersion == "1.3", "the saved file is not of version 1.3");
  // A save writes every record as version "0.1", whatever version it was read under.
  auto sameFields = [](KivMox::GlobalInfoRecord a, KivMox::GlobalInfoRecord b) {
    a.storedVersion = b.storedVersion = "";
    return a == b;
  };
  Require(again.globalInfo.size() == history.size() + 1 &&
              std::equal(history.begin(), history.end(), again.globalInfo.begin(), sameFields),
          "the saved history is not the loaded one plus one record");
  return 0;
}
