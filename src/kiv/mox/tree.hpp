// KivMox::Tree: the node tree of one Mox model. Entries hold Node pointers that the tree
// owns: every payload is deleted with the tree, and a payload that SetEntry replaces is
// deleted unless the new entry carries the same pointer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kiv/adt/tree.hpp"
#include "kiv/mox/global_info.hpp"
#include "kiv/mox/node.hpp"
#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/view_point_file.hpp"
#include "kiv/mox/view_points.hpp"

namespace KivRkf {
class OpenFilePool;
class RkFile;
}  // namespace KivRkf

namespace KivMox {

class InputPrefetch;

class Tree : public KivAdt::Tree<Node*> {
 public:
  using TreeEntry = KivAdt::TreeEntry<Node*>;

  Tree();
  Tree(std::string applicationName, std::string applicationVersion);
  ~Tree() override;
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  // The payload of id, or null when there is no such entry or it has no node.
  Node* GetNode(std::uint32_t id) const;
  // AppendChild that hands the node to the tree.
  std::uint32_t AppendChildNode(std::unique_ptr<Node> node);
  // SetEntry with entry.data taken from node (entry.data itself is ignored).
  void SetEntryNode(TreeEntry entry, std::unique_ptr<Node> node);

  // The container version text of the file last loaded; "1.3" once saved.
  std::string fileVersion;
  // The program that will write the tree (the first fields of the record a save appends).
  std::string applicationName;
  std::string applicationVersion;

  // ---- Loading and saving (tree_load.cpp, tree_save.cpp) ----
  // New tree identifier -> identifier in the file, for every header a load reads.
  using IdentifierMap = std::map<std::uint32_t, std::uint32_t>;

  // Reads the whole file: history, nodes and their data, links, view points. With a pool,
  // the file joins it (KivRkf::OpenFilePool): a file kept open for deferred values may then
  // be closed while it is not read. Without one it stays open until the tree lets it go.
  void Load(const std::string& path, IdentifierMap& identifiers,
            KivRkf::OpenFilePool* pool = nullptr);
  // Reads only the nodes and their data of a further file (pool as for Load).
  void LoadNodes(const std::string& path, IdentifierMap& identifiers,
                 KivRkf::OpenFilePool* pool = nullptr);
  // Reads only the "View Points" section of a view point file (view_point_file.hpp): raises
  // when the file or its section is damaged, and then leaves the tree as it was.
  void LoadViewPoints(const std::string& path);
  // Adds the view points of a view point file read before.
  void AddViewPoints(ViewPointFile&& file);
  // Gives every linked geometry array the data of the array it links to.
  void UpdateLinkedBuffers();
  // With deferred loading on, geometry values are not read by a load: the arrays keep
  // loaders on the input file, which stays open until no array refers to it, and the
  // values go from input to output when the tree is saved.
  void SetDeferredLoading(bool deferred) { deferred_ = deferred; }
  // With deferred loading on, a load of a file of container version "0.6" or later also
  // leaves its node-set members for the save to read (NodeSets::source): a tree that is
  // saved, and not read otherwise, loads no heavy block then.
  void SetNodeSetsReadAtSave(bool atSave) { nodeSetsAtSave_ = atSave; }
  // Loads take the files prefetch opened ahead (input_prefetch.hpp), when it has them; null
  // (the default): every load opens its file itself.
  void SetPrefetch(InputPrefetch* prefetch) { prefetch_ = prefetch; }
  // With block adoption on, a save copies whole heavy blocks of the files the values are
  // loaded from where it can, instead of writing array by array (block_adoption.hpp).
  void SetBlockAdoption(bool adopt) { adoptBlocks_ = adopt; }
  // The files this tree's loads opened, and files another tree read that this tree's save
  // must treat as its own inputs (a merge that moves nodes between trees): a save never
  // writes one of them in place.
  const std::vector<FileIdentity>& Inputs() const { return inputs_; }
  void AddInputs(const std::vector<FileIdentity>& files) {
    inputs_.insert(inputs_.end(), files.begin(), files.end());
  }
  // Writes the tree as a new Mox file; the output path never holds a partial file. With
  // replaceLink, a symbolic link at path is replaced instead of the file it points to.
  void Save(const std::string& path, bool replaceLink = false);
  // The heavy data; blocks are adopted only when asked and the file can be read back.
  void SaveHeavyData(KivRkf::RkFile& file, bool adoptBlocks = false);
  void SaveTree(KivRkf::RkFile& file);

  // ---- Checking a file ----
  // Where the last read of the node tree stood: the header being read (from 0) of the count
  // the section declares and, once that header was read, the node's identifier, name and
  // type name; a check reports a read that failed there.
  struct ReadPlace {
    std::int64_t header = -1;
    std::int32_t count = 0;
    std::uint32_t id = 0;
    std::string name, type;
  };
  const ReadPlace& LastReadPlace() const { return place_; }
  // After a check read: per section the file lacks that a node's record read from (getting
  // nothing, as every reader does), the first such node.
  const std::map<std::string, ReadPlace>& MissingSectionReaders() const { return missingReaders_; }
  // Reads the nodes of an open file (EnsureIndex done, wide as CheckSupport gave it) for a
  // check of the whole file: no heavy data is read, neither array values nor node-set
  // members, and the heavy positions stay recorded in the arrays and node sets, for the
  // caller to read every heavy record itself in stored order.
  void ReadNodesForCheck(const std::shared_ptr<KivRkf::RkFile>& file, const std::string& path,
                         bool wide, IdentifierMap& identifiers);

  // ---- Global information and view points ----
  std::vector<GlobalInfoRecord> globalInfo;  // the history, in file order
  GlobalInfoRecord currentInfo;              // the record the next save appends
  ViewPoints views;                          // views.present is hasViewPoints
  // What the last Load dropped of a "View Points" section it found ("view points: ..." or
  // "actions: ..."); empty when it read the section whole or there was none.
  std::string viewPointsFailure;
  bool HasViewPoints() const { return views.present; }

 protected:
  void PayloadReplaced(Node*& old, Node* const& replacement) override;

 private:
  // The file of path, opened ahead by the prefetch or opened here.
  std::shared_ptr<KivRkf::RkFile> OpenForReading(const std::string& path, const char* method,
                                                 KivRkf::OpenFilePool* pool);
  std::uint32_t AttachIdentifier();
  // Returns the tree identifiers of the nodes read.
  std::set<std::uint32_t> ReadTreeSections(const std::shared_ptr<KivRkf::RkFile>& file,
                                           const std::string& path, std::uint32_t attach, bool wide,
                                           IdentifierMap& identifiers);
  // Reads (or defers) the heavy data of the nodes ids of a file of container version version.
  void LoadHeavy(const std::shared_ptr<KivRkf::RkFile>& file, const std::set<std::uint32_t>& ids,
                 const std::string& version);
  // Checks the sizes of blocks that a seek passed over without inflating them.
  void CheckRecordedSizes(KivRkf::RkFile& file);
  void ClearHeavyPositions(const std::set<std::uint32_t>& ids);
  // With deferred loading, frees the blocks the load inflated.
  void ReleaseLightBlocks(KivRkf::RkFile& file);

  bool deferred_ = false;
  bool adoptBlocks_ = false;
  bool nodeSetsAtSave_ = false;
  bool heavyLeftToCaller_ = false;
  InputPrefetch* prefetch_ = nullptr;
  ReadPlace place_;
  std::map<std::string, ReadPlace> missingReaders_;
  // Every file a load opened: a save never writes one of them in place.
  std::vector<FileIdentity> inputs_;
};

}  // namespace KivMox
