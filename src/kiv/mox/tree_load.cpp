// Loading a Mox file into a KivMox::Tree: the "Mox Tree" headers with the records of
// every node, then the heavy data in the order the file stores it, then node-set members
// (left for the save to read, for a merge that asks for it). In append mode (the tree's root is a
// group with mergeRoot set) every identifier of the file is shifted past those in use
// and the file's root becomes the last child of the root.
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <set>

#include "kiv/log/log_manager.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/heavy_order.hpp"
#include "kiv/mox/input_prefetch.hpp"
#include "kiv/mox/node_kinds.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/progress.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {

const char* const kLoad = "KivMox::Tree::Load";

}  // namespace

std::shared_ptr<KivRkf::RkFile> Tree::OpenForReading(const std::string& path, const char* method,
                                                     KivRkf::OpenFilePool* pool) {
  if (ProgressListener* progress = GetProgressListener()) progress->Reading(path);
  std::shared_ptr<KivRkf::RkFile> shared = prefetch_ ? prefetch_->Take(path) : nullptr;
  if (!shared) {
    shared = std::make_shared<KivRkf::RkFile>();
    if (pool)
      shared->OpenFile(path, "rb", *pool);
    else
      shared->OpenFile(path, "rb");
  }
  KivRkf::RkFile& file = *shared;
  struct stat st;
  if (fstat(fileno(file.Stream()), &st) == 0) inputs_.push_back({st.st_dev, st.st_ino});
  KIV_CHECK(file.IsContainerFile(), FormatNotSupported, path + " is not a Mox file", method);
  return shared;
}

void Tree::Load(const std::string& path, IdentifierMap& identifiers, KivRkf::OpenFilePool* pool) {
  const std::shared_ptr<KivRkf::RkFile> shared = OpenForReading(path, kLoad, pool);
  KivRkf::RkFile& file = *shared;
  // The pool closes no file while it loads (files are opened ahead on another thread).
  std::optional<KivRkf::FileInUse> inUse(std::in_place, &file);
  fileVersion = file.ReadVersion();
  bool wide = false;
  file.CheckSupport(fileVersion, wide);
  std::uint32_t attach = AttachIdentifier();
  ReadGlobalInfo(file, globalInfo);
  const std::set<std::uint32_t> read = ReadTreeSections(shared, path, attach, wide, identifiers);
  LoadHeavy(shared, read, fileVersion);
  UpdateLinkedBuffers();
  viewPointsFailure.clear();
  if (fileVersion != "0.1") {
    std::string failure;
    ReadViewPoints(file, views, fileVersion, &failure);
    // A file without the section has no view points, which is no failure.
    if (file.Reader().HasName(kViewPoints)) viewPointsFailure = failure;
  }
  CheckRecordedSizes(file);
  LogHeavyInflations(kLoad, {&file.Reader()});
  ReleaseLightBlocks(file);
  inUse.reset();
  if (!deferred_) file.CloseFile();
  ClearHeavyPositions(read);
}

void Tree::LoadNodes(const std::string& path, IdentifierMap& identifiers,
                     KivRkf::OpenFilePool* pool) {
  const std::shared_ptr<KivRkf::RkFile> shared =
      OpenForReading(path, "KivMox::Tree::LoadNodes", pool);
  KivRkf::RkFile& file = *shared;
  std::optional<KivRkf::FileInUse> inUse(std::in_place, &file);
  bool wide = false;
  const std::string version = file.ReadVersion();
  file.CheckSupport(version, wide);
  std::uint32_t attach = AttachIdentifier();
  const std::set<std::uint32_t> read = ReadTreeSections(shared, path, attach, wide, identifiers);
  LoadHeavy(shared, read, version);
  CheckRecordedSizes(file);
  LogHeavyInflations("KivMox::Tree::LoadNodes", {&file.Reader()});
  ReleaseLightBlocks(file);
  inUse.reset();
  if (!deferred_) file.CloseFile();
  ClearHeavyPositions(read);
}

void Tree::LoadViewPoints(const std::string& path) {
  AddViewPoints(ReadViewPointFile(path));
}

void Tree::AddViewPoints(ViewPointFile&& file) {
  // A save never writes a file it read in place, view point files included.
  inputs_.push_back(file.identity);
  AppendViewPoints(views, std::move(file.views));
}

std::uint32_t Tree::AttachIdentifier() {
  SetCurrentId(1);
  auto* root = NodeAs<Group>(GetCurrentNode().data);
  return root && root->mergeRoot != 0 ? 1 : 0;
}

std::set<std::uint32_t> Tree::ReadTreeSections(const std::shared_ptr<KivRkf::RkFile>& file,
                                               const std::string& path, std::uint32_t attach,
                                               bool wide, IdentifierMap& identifiers) {
  file->EnsureIndex();
  KivRkf::IndexReader& index = file->Reader();
  // A container without the node tree is not a Mox file (a view point file, say).
  KIV_CHECK(index.HasName(kMoxTree), FormatNotSupported, path + " is not a Mox file", kLoad);
  const std::uint64_t offset = attach != 0 ? NextId() - 1 : 0;
  std::int32_t count = 0;
  place_ = ReadPlace{};
  missingReaders_.clear();
  index.Get(kMoxTree, count);
  place_.count = count;
  std::set<std::uint32_t> read;
  for (std::int32_t h = 0; h < count; ++h) {
    place_ = ReadPlace{h, count, 0, {}, {}};
    std::uint32_t link[6] = {};
    for (auto& v : link) index.Get(kMoxTree, v);
    KIV_CHECK(link[0] != 0 && link[0] + offset <= 0xFFFFFFFFull, OutOfBounds,
              "Node identifier out of range", kLoad);
    const auto id = static_cast<std::uint32_t>(link[0] + offset);
    KIV_CHECK(read.insert(id).second, OutOfBounds, "Node identifier read twice", kLoad);
    KIV_CHECK(attach == 0 || Entries().count(id) == 0, OutOfBounds,
              "Node identifier already in use", kLoad);
    for (int k = 1; k < 6; ++k) {
      KIV_CHECK(link[k] + offset <= 0xFFFFFFFFull, OutOfBounds, "Node link out of range", kLoad);
      if (link[k] != 0) link[k] = static_cast<std::uint32_t>(link[k] + offset);
    }
    std::string name, type, version;
    index.Get(kMoxTree, name);
    index.Get(kMoxTree, type);
    index.Get(kMoxTree, version);
    place_.id = link[0];
    place_.name = name;
    place_.type = type;
    std::uint64_t light = 0;
    if (wide) {
      index.Get(kMoxTree, light);
    } else {
      std::uint32_t narrow = 0;
      index.Get(kMoxTree, narrow);
      light = narrow;
    }
    if (light != 0) index.SetReadingPosition(kLightData, light);
    const std::uint64_t lightStart = index.ReadingPosition(kLightData);
    const NodeKindInfo* kind = KindOfTypeName(type);
    std::unique_ptr<Node> payload =
        kind ? kind->read(index, version, static_cast<std::uint32_t>(offset)) : nullptr;
    // A check names the first node that read from each section the file lacks; the map
    // is empty in a sound file, and the first entry per name is kept.
    if (heavyLeftToCaller_)
      for (const auto& reads : index.MissingReads())
        missingReaders_.try_emplace(reads.first, place_);
    // Each node's record has bytes of its own (headers pointing at one record would let
    // a small file stand for any number of nodes).
    const std::uint64_t lightEnd = index.ReadingPosition(kLightData);
    if (lightEnd > lightStart) index.ClaimRange(kLightData, lightStart, lightEnd - lightStart);
    if (payload) {
      payload->name = name;
      payload->storedVersion = version;
    }
    identifiers[id] = link[0];
    if (h == 0 && attach != 0) {
      SetCurrentId(attach);
      std::uint32_t placed = AppendChildNode(std::move(payload));
      auto& entry = GetReqNode(placed);
      entry.nextSiblingId = link[3];
      entry.firstChildId = link[4];
      entry.lastChildId = link[5];
      if (placed != id) read.insert(placed);
    } else {
      Entry entry;
      entry.id = id;
      entry.parentId = link[1] != 0 ? link[1] : attach;
      entry.prevSiblingId = link[2];
      entry.nextSiblingId = link[3];
      entry.firstChildId = link[4];
      entry.lastChildId = link[5];
      SetEntryNode(entry, std::move(payload));
    }
  }
  place_ = ReadPlace{};
  return read;
}

void Tree::ReadNodesForCheck(const std::shared_ptr<KivRkf::RkFile>& file, const std::string& path,
                             bool wide, IdentifierMap& identifiers) {
  heavyLeftToCaller_ = true;
  struct Restore {
    bool& flag;
    ~Restore() { flag = false; }
  } restore{heavyLeftToCaller_};
  ScopedRunsLeftUnread atOnceRuns;
  ReadTreeSections(file, path, AttachIdentifier(), wide, identifiers);
}

void Tree::LoadHeavy(const std::shared_ptr<KivRkf::RkFile>& file,
                     const std::set<std::uint32_t>& ids, const std::string& version) {
  KivRkf::IndexReader& index = file->Reader();
  std::vector<Geometry*> geometries;
  std::vector<NodeSets*> sets;
  for (std::uint32_t id : ids) {
    auto it = Entries().find(id);
    if (it == Entries().end()) continue;
    if (auto* g = NodeAs<Geometry>(it->second.data)) geometries.push_back(g);
    if (auto* s = NodeAs<NodeSets>(it->second.data)) sets.push_back(s);
  }
  if (deferred_) {
    for (auto* g : geometries) g->DeferBlocks(file, kHeavyData);
  } else {
    // In the order the file stores them: each block is inflated once, then left behind.
    for (GeometryArray* array : StoredOrder(geometries)) LoadStoredArray(index, kHeavyData, *array);
  }
  // Records of "0.6" and later lie after the arrays, usually in the last block: a save
  // takes them from that block when it inflates it anyway (deferred_node_sets.hpp).
  const bool setsAtSave = deferred_ && nodeSetsAtSave_ && KivRkf::VersionNumber(version) >= 6;
  for (auto* s : sets) {
    if (setsAtSave && s->heavySize != 0)
      s->source = file;
    else
      ReadNodeSetsHeavy(*s, index, kHeavyData);
  }
  // The writer reads the deferred values block by block when it needs them; the blocks the
  // node sets came from (usually the last, up to a full block) are not held until then.
  if (deferred_) index.ReleaseLoadedBlocks(kHeavyData);
}

void Tree::CheckRecordedSizes(KivRkf::RkFile& file) {
  // Deferred heavy data is read (and its blocks checked) when the output is written.
  file.Reader().CheckRecordedSizes(deferred_ ? kHeavyData : std::string());
}

void Tree::ReleaseLightBlocks(KivRkf::RkFile& file) {
  // A file kept open for its deferred values is read again only in "Heavy Data": the other
  // sections' blocks are not held until the save.
  if (!deferred_) return;
  KivRkf::IndexReader& index = file.Reader();
  for (const auto& [name, limiter] : index.Table().Names()) index.ReleaseLoadedBlocks(name);
}

void Tree::ClearHeavyPositions(const std::set<std::uint32_t>& ids) {
  // Only the nodes of the file just read: a merge's work per input stays that input's.
  for (std::uint32_t id : ids)
    if (auto* g = NodeAs<Geometry>(GetNode(id))) g->ClearHeavyPositions();
}

void Tree::UpdateLinkedBuffers() {
  const char* method = "KivMox::Tree::UpdateLinkedBuffers";
  KIV_LOG_INFO(method, "Updating buffer links ... ");
  LinkSources sources;
  for (auto& [id, entry] : Entries())
    if (auto* g = NodeAs<Geometry>(entry.data)) g->EnterArrays(id, sources);
  for (auto& [id, entry] : Entries())
    if (auto* g = NodeAs<Geometry>(entry.data)) g->ResolveLinks(sources);
  KIV_LOG_INFO(method, "Buffer links updated. ");
}

}  // namespace KivMox
