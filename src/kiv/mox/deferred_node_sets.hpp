// KivMox::DeferredNodeSets: the node sets whose heavy records a save reads while it writes
// the heavy data (NodeSets::source, Tree::SetNodeSetsReadAtSave). A merge's load then
// inflates no heavy block, and the save takes each record from a block it inflates anyway:
//  - from an adopted block that holds the whole record, while the check of the block's copy
//    inflates it (AdoptedBlock::keep);
//  - from the block the writer inflated to write the input's arrays anew, before the
//    writer lets the input's blocks go (ReadPending);
//  - otherwise (the record straddles blocks, or lies in a block that nothing adopts or
//    rewrites) where it lies, when the writer is done (ReadAllPending).
// A record is read as a load reads it: the same checks, the same failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace KivRkf {
class RkFile;
}  // namespace KivRkf

namespace KivMox {

class NodeSets;
struct AdoptionPlan;

class DeferredNodeSets {
 public:
  // Keeps the nodes that still have a record to read.
  explicit DeferredNodeSets(const std::vector<NodeSets*>& nodes);

  // Asks the check of every adopted block that holds a whole pending record for its bytes.
  void KeepFromAdopted(AdoptionPlan& plan);
  // Once the adopted blocks are checked: takes the records kept. One whose bytes do not
  // read as its lists stays pending, to be read where it lies.
  void TakeKept(const AdoptionPlan& plan);
  // Reads the pending records of file through its reader, from the blocks it holds.
  void ReadPending(const KivRkf::RkFile* file);
  void ReadAllPending();
  // The files the records are read from, each once; kept open by this object.
  std::vector<KivRkf::RkFile*> Files() const;

 private:
  void Read(NodeSets& node);

  struct Kept {
    NodeSets* node;
    std::size_t block, range;  // in the plan, in the block's keep
  };
  std::vector<NodeSets*> nodes_;
  // Per file, its nodes: a merge of many inputs looks each input up once.
  std::unordered_map<const KivRkf::RkFile*, std::vector<NodeSets*>> byFile_;
  std::vector<Kept> kept_;
  std::vector<std::shared_ptr<KivRkf::RkFile>> files_;
};

}  // namespace KivMox
