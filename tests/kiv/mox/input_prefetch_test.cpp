// Later inputs opened ahead: loads through the prefetch read, fail and log as loads that open
// their files themselves, whatever the inputs and however few files the pool may keep open.
#include "kiv/mox/input_prefetch.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include "kiv/mox/group.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "support/container_helpers.hpp"
#include "support/log_capture.hpp"
#include "support/model_builder.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace TestSupport;
using KivMox::Tree;

// The messages of the trace records of a merge's loads of paths (the first loaded whole, the
// rest as nodes under a merge root), and the tree they built or the failure's description.
// (Which files the pool had closed when the tree went shows in the source lines of the
// closing records only.)
struct Loaded {
  std::vector<std::string> messages;
  std::string outcome;
  std::size_t openedAhead = 0;
};
Loaded LoadAll(const std::vector<std::string>& paths, bool ahead, std::size_t capacity) {
  LogCapture capture;
  Loaded loaded;
  {
    KivRkf::OpenFilePool pool(capacity);
    Tree tree;
    auto root = std::make_unique<KivMox::Group>();
    std::tie(root->name, root->mergeRoot) = std::make_pair("Merge", 1);
    tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
    tree.SetDeferredLoading(true);
    tree.SetNodeSetsReadAtSave(true);
    std::unique_ptr<KivMox::InputPrefetch> prefetch;
    if (ahead)
      prefetch = std::make_unique<KivMox::InputPrefetch>(
          std::vector<std::string>(paths.begin() + 1, paths.end()), pool);
    try {
      for (std::size_t i = 0; i < paths.size(); ++i) {
        Tree::IdentifierMap identifiers;
        i == 0 ? tree.Load(paths[i], identifiers, &pool)
               : tree.LoadNodes(paths[i], identifiers, &pool);
        tree.SetPrefetch(prefetch.get());
      }
      loaded.outcome = FuzzDescription::DescribeTree(tree);
    } catch (const Kiv::Util::Exception& e) {
      loaded.outcome = e.GetDescription();
    }
    if (prefetch) loaded.openedAhead = prefetch->Given();
  }
  for (const auto& [line, exceptions] : capture.Captured())
    loaded.messages.push_back(line.substr(line.find(" @ ") + 3) + std::to_string(exceptions));
  return loaded;
}

TEST(InputPrefetch, LoadsReadFailAndLogAsWithoutIt) {
  TempDir dir;
  Tree rich{"Tester", "1.0"};
  BuildRichTree(rich);
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox");
  rich.Save(a);
  rich.Save(b);
  const Bytes sound = ReadFileBytes(a);
  Bytes cut = sound, damaged = sound;
  cut.resize(sound.size() - 10);
  const KivRkf::BlockInfo tree = BlockNamed(a, KivMox::kMoxTree);
  damaged[tree.offset + tree.storedSize / 2] ^= 0x5A;
  WriteFileBytes(dir.File("cut.mox"), cut);
  WriteFileBytes(dir.File("damaged.mox"), damaged);
  WriteFileBytes(dir.File("text.mox"), Bytes(100, 'x'));
  const std::tuple<std::string, std::size_t, std::size_t, std::string> cases[] = {
      // later inputs, pool capacity (0: from the limit), files opened ahead, the failure or ""
      {"b a b", 0, 3, ""},
      {"b a b", 1, 0, ""},  // no room to open ahead
      {"b a b", 5, 3, ""},
      {"missing.mox b", 0, 0, "Unable to open file \"" + dir.File("missing.mox") + "\""},
      {"b text.mox", 0, 1, dir.File("text.mox") + " is not a Mox file"},
      {"cut.mox", 0, 0, "cut short"},
      // the damaged block is read again by its load, which fails on it
      {"b damaged.mox b", 0, 2, "Unable to decompress block"}};
  for (const auto& [later, capacity, openedAhead, failure] : cases) {
    std::vector<std::string> paths = {a};
    std::istringstream names(later);
    for (std::string name; names >> name;)
      paths.push_back(dir.File(name.size() == 1 ? name + ".mox" : name));
    const auto opened = LoadAll(paths, false, capacity), ahead = LoadAll(paths, true, capacity);
    EXPECT_EQ(ahead.messages, opened.messages) << later << " " << capacity;
    EXPECT_TRUE(ahead.outcome == opened.outcome) << later << " " << capacity;
    EXPECT_EQ(ahead.openedAhead, openedAhead) << later << " " << capacity;
    if (failure.empty())
      EXPECT_EQ(std::count(opened.messages.begin(), opened.messages.end(), "Index read. \n0"),
                std::ptrdiff_t(paths.size()))
          << later;
    else
      EXPECT_NE(opened.outcome.find(failure), std::string::npos) << later << ": " << opened.outcome;
  }
}

// However many inputs follow, at most kAhead files wait opened ahead, and one taken makes
// room for the next; only the next path is given; a prefetch goes with files still waiting
// (closing them without a record) and with its thread waiting for room.
TEST(InputPrefetch, KeepsItsBoundAndLeavesNoTrace) {
  TempDir dir;
  Tree rich{"Tester", "1.0"};
  BuildRichTree(rich);
  const std::string a = dir.File("a.mox");
  rich.Save(a);
  KivRkf::OpenFilePool pool;
  LogCapture capture;
  const std::size_t bound = KivMox::InputPrefetch::kAhead;
  // The number of open files once it reached count, and time enough to pass it went by.
  const auto settled = [&](std::size_t count) {
    for (int i = 0; i < 1000 && pool.OpenCount() < count; ++i) usleep(10000);
    usleep(100000);
    return pool.OpenCount();
  };
  std::shared_ptr<KivRkf::RkFile> taken;
  {
    std::vector<std::string> paths(100, a);
    paths[0] = dir.File("b.mox");
    KivMox::InputPrefetch prefetch(paths, pool);
    EXPECT_EQ(settled(bound - 1), bound - 1);  // b.mox does not exist: it waits as nothing
    EXPECT_EQ(prefetch.Take(a), nullptr);      // not next
    EXPECT_EQ(prefetch.Take(paths[0]), nullptr);
    taken = prefetch.Take(a);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(settled(bound + 1), bound + 1);
  }
  EXPECT_EQ(pool.OpenCount(), 1u);
  EXPECT_TRUE(capture.Captured().empty());
  KivMox::InputPrefetch one({a}, pool);
  taken = one.Take(a);
  EXPECT_NE(taken, nullptr);
  EXPECT_EQ(one.Take(a), nullptr);  // past the last
}

}  // namespace
