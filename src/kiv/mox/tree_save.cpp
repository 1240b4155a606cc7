// Saving a KivMox::Tree as a Mox file of container version "1.3": the heavy data first
// (it streams: full blocks are written and released as soon as they fill), then the node
// tree with every node's records, the view points, the history with one new record, and
// last the blocks still held and the block table. Every section is zlib-compressed.
#include <algorithm>
#include <unordered_set>

#include "kiv/log/log_manager.hpp"
#include "kiv/log/raise.hpp"
#include "kiv/mox/block_adoption.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/deferred_node_sets.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/heavy_order.hpp"
#include "kiv/mox/node_kinds.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/progress.hpp"
#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

void Tree::Save(const std::string& path, bool replaceLink) {
  SafeOutput output(path, inputs_, !replaceLink);
  try {
    KivRkf::RkFile file;
    file.AttachStream(output.TakeStream());
    fileVersion = KivRkf::kWrittenVersion;
    file.WriteHeader();
    // A device cannot be read back, which the check of adopted blocks does.
    SaveHeavyData(file, adoptBlocks_ && output.GetMode() != SafeOutput::Mode::Device);
    SaveTree(file);
    if (views.present) WriteViewPoints(file, views);
    WriteGlobalInfo(file, currentInfo, globalInfo, fileVersion, "");
    for (const char* section : {kHeavyData, kMoxTree, kLightData, kAttributes, kResources,
                                kGlobalInformation, kViewPoints})
      file.SetBlockFlags(section, KivRkf::kFlagZlib);
    file.Writer().WriteAllBuffersToFileStream(file.Stream());
    output.Finish(file.Stream());
    file.CloseFile();
  } catch (const Kiv::Util::Exception& e) {
    if (output.GetMode() != SafeOutput::Mode::InPlace) throw;
    // Written in place, the output cannot be restored: the message says so.
    Kiv::Log::Raise(e.GetCode(),
                    std::string(e.GetDescription()) + " (\"" + path +
                        "\" was written in place and is left incomplete)",
                    __FILE__, __LINE__, "KivMox::Tree::Save");
  }
  output.Commit();
}

void Tree::SaveHeavyData(KivRkf::RkFile& file, bool adoptBlocks) {
  const char* method = "KivMox::Tree::SaveHeavyData";
  std::vector<Geometry*> geometries;
  std::vector<NodeSets*> nodeSets;
  for (auto& [id, entry] : Entries()) {
    if (Geometry* geometry = NodeAs<Geometry>(entry.data)) geometries.push_back(geometry);
    if (NodeSets* sets = NodeAs<NodeSets>(entry.data)) nodeSets.push_back(sets);
  }
  KivRkf::IndexWriter& index = file.Writer();
  AdoptionPlan plan;
  if (adoptBlocks) plan = PlanAdoption(geometries, kHeavyData, index.StreamLimit(kHeavyData));
  DeferredNodeSets deferredSets(nodeSets);
  deferredSets.KeepFromAdopted(plan);
  // Adopted blocks count whole, the bytes no array takes included.
  std::uint64_t total = plan.rawBytes - plan.runBytes;
  for (Geometry* geometry : geometries)
    for (const auto& array : geometry->arrays)
      if (!array.linked) total += array.data.byteSize;
  ProgressListener* progress = GetProgressListener();
  AdoptBlocks(plan, index, file.Stream(), kHeavyData, progress, total);
  deferredSets.TakeKept(plan);
  // Input by input: each input is read once, front to back, and its blocks go as soon as
  // the writer moves on to the next input.
  const std::vector<GeometryArray*> order = WriteOrder(geometries);
  for (std::size_t k = 0; k < order.size(); ++k) {
    WriteHeavyArray(index, file.Stream(), kHeavyData, *order[k]);
    const DataLoader* loader = order[k]->data.loader.get();
    const DataLoader* next = k + 1 < order.size() ? order[k + 1]->data.loader.get() : nullptr;
    if (loader && loader->file && (!next || next->file != loader->file)) {
      deferredSets.ReadPending(loader->file.get());
      loader->file->Reader().ReleaseLoadedBlocks(loader->section);
    }
    if (progress) progress->Writing(index.GetSize(kHeavyData), total);
  }
  deferredSets.ReadAllPending();
  const std::uint64_t blocks =
      index.Table().HasName(kHeavyData) ? index.Table().Names().at(kHeavyData).blocks.size() : 0;
  KIV_LOG_INFO(method,
               "Heavy data blocks adopted: " + std::to_string(plan.blocks.size()) + " (" +
                   std::to_string(plan.rawBytes) + " bytes, " + std::to_string(plan.storedBytes) +
                   " stored); rewritten: " + std::to_string(blocks - plan.blocks.size()) + " (" +
                   std::to_string(index.GetSize(kHeavyData) - plan.rawBytes) + " bytes)");
  // Every input block that a seek passed over on its length field alone is inflated once by
  // now, or here: a length field that lies fails the save.
  std::vector<KivRkf::RkFile*> sources;
  std::unordered_set<const KivRkf::RkFile*> seen;
  for (Geometry* geometry : geometries)
    for (const GeometryArray& array : geometry->arrays)
      if (const DataLoader* loader = array.data.loader.get();
          loader && loader->file && seen.insert(loader->file.get()).second)
        sources.push_back(loader->file.get());
  for (KivRkf::RkFile* source : deferredSets.Files())
    if (seen.insert(source).second) sources.push_back(source);
  std::vector<const KivRkf::IndexReader*> readers;
  for (KivRkf::RkFile* source : sources) {
    const KivRkf::FileInUse use(source);
    source->Reader().CheckRecordedSizes();
    readers.push_back(&source->Reader());
  }
  // The adopted blocks were inflated once each, by the check of the output's copies.
  LogHeavyInflations(method, readers, plan.blocks.size());
}

void Tree::SaveTree(KivRkf::RkFile& file) {
  const char* method = "KivMox::Tree::SaveTree";
  KIV_LOG_INFO(method, "Saving mox tree ... ");
  KivRkf::IndexWriter& index = file.Writer();
  index.Put(kMoxTree, static_cast<std::uint32_t>(Entries().size()));
  for (auto& [id, entry] : Entries()) {
    for (std::uint32_t v : {entry.id, entry.parentId, entry.prevSiblingId, entry.nextSiblingId,
                            entry.firstChildId, entry.lastChildId})
      index.Put(kMoxTree, v);
    Node* node = entry.data;
    index.Put(kMoxTree, node ? node->name : std::string());
    index.Put(kMoxTree, node ? node->GetTypeName() : std::string());
    index.Put(kMoxTree, node ? node->GetVersion() : std::string());
    index.Put(kMoxTree, index.GetSize(kLightData));
    if (const auto write = node ? KindInfo(node->Kind()).write : nullptr) write(*node, index);
  }
  KIV_LOG_INFO(method, "Mox tree saved. ");
}

}  // namespace KivMox
