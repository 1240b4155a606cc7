// Fuzz target for the view point reader. The first input byte chooses how the container
// is made, the rest is the content of its "View Points" section:
//   bit 0     the section is zlib-compressed
//   bits 1-2  the header's container version: "1.3", "0.5", "0.2" or "0.1"
//   other bits are not used
// The container is written with the library; KivMox::Tree::LoadViewPoints reads it into a
// tree that already holds one view point group and one action. A damaged section is
// refused with the system's exception and changes nothing; otherwise the groups read are
// appended after the one present.
// The tree is then saved and loaded again, and must come back with the same view points.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_scratch.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/exception.hpp"
#include "support/tree_description.hpp"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

const char* const kVersions[4] = {"1.3", "0.5", "0.2", "0.1"};

void WriteViewPointFile(const std::string& path, const char* version, bool zlib,
                        const std::uint8_t* section, std::size_t size) {
  KivRkf::RkFile file;
  file.OpenFile(path, "wb+");
  char field[4] = {};
  std::memcpy(field, version, std::strlen(version));
  Require(std::fwrite(KivRkf::kMagic, 1, 8, file.Stream()) == 8 &&
              std::fwrite(field, 1, 4, file.Stream()) == 4,
          "header written");
  file.Writer().Put(KivMox::kViewPoints, section, static_cast<std::uint32_t>(size));
  if (zlib) file.SetBlockFlags(KivMox::kViewPoints, KivRkf::kFlagZlib);
  file.Writer().WriteAllBuffersToFileStream(file.Stream());
  file.CloseFile();
}

std::string ViewsText(const KivMox::Tree& tree) {
  FuzzDescription::Writer w;
  FuzzDescription::Views(w, tree.views);
  return w.Text();
}

// A tree with a root group, one view point group and one action.
void Prepare(KivMox::Tree& tree) {
  auto root = std::make_unique<KivMox::Group>();
  root->name = "root";
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
  tree.views.present = true;
  tree.views.current.name = "before";
  KivMox::ViewPointGroup group;
  group.name = "kept";
  group.entries.resize(2);
  group.entries[1].name = "second";
  tree.views.groups.push_back(group);
  auto rotate = std::make_unique<KivMox::RotateAction>();
  rotate->amount = 0.5f;
  tree.views.actions.actions.push_back(std::move(rotate));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  const char* version = kVersions[(selector >> 1) & 3];
  FuzzScratch::Directory& dir = FuzzScratch::Scratch();
  const std::string vpt = dir.File("input.vpt");
  const std::string output = dir.File("saved.mox");
  FuzzScratch::Cleanup cleanup({vpt, output});
  WriteViewPointFile(vpt, version, selector & 1, data + 1, size - 1);

  KivMox::Tree tree;
  Prepare(tree);
  const KivMox::ViewPointGroup kept = tree.views.groups.front();
  const KivMox::BasicAction* firstAction = tree.views.actions.actions.front().get();
  const std::string before = ViewsText(tree);
  bool refused = false;
  try {
    tree.LoadViewPoints(vpt);
  } catch (const Kiv::Util::Exception&) {
    refused = true;
  } catch (...) {
    Require(false, "LoadViewPoints threw something other than the system's exception");
  }
  if (refused)
    Require(ViewsText(tree) == before, "a refused file leaves the view points as they were");
  if (std::strcmp(version, "0.1") == 0)
    Require(!refused && tree.views.present && tree.views.groups.size() == 1 &&
                tree.views.actions.actions.size() == 1,
            "a file of version 0.1 changes nothing");
  Require(tree.views.present && !tree.views.groups.empty() && tree.views.groups.front() == kept,
          "the groups read are appended after those present");
  Require(!tree.views.actions.actions.empty() &&
              tree.views.actions.actions.front().get() == firstAction,
          "the actions read are appended after those present");
  for (const auto& action : tree.views.actions.actions)
    Require(action != nullptr, "no null action");

  const std::string views = ViewsText(tree);
  try {
    tree.Save(output);
  } catch (const Kiv::Util::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Require(false, "a tree with the view points read cannot be saved");
  }
  KivMox::Tree again;
  KivMox::Tree::IdentifierMap identifiers;
  try {
    again.Load(output, identifiers);
  } catch (const Kiv::Util::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Require(false, "the saved tree does not load again");
  }
  if (ViewsText(again) != views) {
    std::fprintf(stderr, "read:\n%s\n\nsaved and loaded again:\n%s\n", views.c_str(),
                 ViewsText(again).c_str());
    Require(false, "the view points change when saved");
  }
  return 0;
}
