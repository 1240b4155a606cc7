#include "tools/file_check.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <variant>

#include "kiv/log/raise.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/global_info.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/mox/view_points.hpp"
#include "kiv/rkf/block_read.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "kiv/util/display_text.hpp"
#include "kiv/util/exception.hpp"
#include "tools/framing_report.hpp"
#include "tools/heavy_check.hpp"
#include "tools/tree_walk.hpp"

namespace MoxTools {

using Kiv::Util::Quoted;

namespace {

// What a read from a block past the end of a cut file fails with.
const char* const kCutRead = "Unable to read from file";

// For a file too short for its header or primary index, that cut; else nothing.
std::optional<std::string> CutHeader(std::FILE* stream) {
  if (!stream) return std::nullopt;
  const int fd = fileno(stream);
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::string has = "the file is cut short: it has " + std::to_string(size) + " bytes, ";
  std::uint32_t length = 0;
  if (size < 16 || pread(fd, &length, 4, 12) != 4) return has + "too few for its header (16 bytes)";
  if (size < 16 + std::uint64_t{length})
    return has + "its primary index ends at byte " + std::to_string(16 + std::uint64_t{length});
  return std::nullopt;
}

bool IsReadSection(const std::string& name) {
  for (const char* read :
       {KivMox::kHeavyData, KivMox::kMoxTree, KivMox::kLightData, KivMox::kAttributes,
        KivMox::kResources, KivMox::kViewPoints, KivMox::kGlobalInformation})
    if (name == read) return true;
  return false;
}

std::uint64_t StoredBytes(KivRkf::IndexReader& index, const std::vector<std::uint64_t>& blocks) {
  std::uint64_t bytes = 0;
  for (std::uint64_t b : blocks) bytes += index.Table().Blocks()[b].storedSize;
  return bytes;
}

void CheckOtherBlocks(KivRkf::IndexReader& index, int fd, std::uint64_t fileSize,
                      CheckReport& report) {
  KivRkf::BlockReader reader(fd, fileSize);
  for (const auto& [name, stream] : index.Table().Names()) {
    if (name == KivMox::kHeavyData || KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) ||
        KivRkf::IsSpecialName(name, KivRkf::kIndexBlockName))
      continue;
    for (std::size_t k = 0; k < stream.blocks.size(); ++k) {
      ++report.blocks;
      if (k == 0 && !IsReadSection(name))
        report.Warning(SectionWhere(name),
                       "no reader reads this section: its " + std::to_string(stream.blocks.size()) +
                           " blocks and " + std::to_string(StoredBytes(index, stream.blocks)) +
                           " stored bytes are left out");
      const KivRkf::BlockInfo& info = index.Table().Blocks()[stream.blocks[k]];
      const KivRkf::BlockReadState& state = index.ReadState(stream.blocks[k]);
      const std::string where = BlockWhere(name, k, stream.blocks[k]);
      const bool follows = k + 1 < stream.blocks.size();
      // Inflated whole by a reader already, which noted a stream shorter than its field.
      if (state.inflated) {
        if (state.declaredLength != 0)
          ReportShorterStream(report, where, name, k, follows,
                              KivRkf::Framing{KivRkf::Framing::State::Shorter, state.declaredLength,
                                              state.streamLength});
        continue;
      }
      const KivRkf::BlockRead read =
          reader.Read(info.offset, info.storedSize, info.flags & KivRkf::kFlagZlib, true);
      // The cut of the file is the one problem of the blocks past its end.
      if (read.pastEnd && index.Cut()) continue;
      if (read.raw && read.framing.state == KivRkf::Framing::State::Shorter)
        ReportShorterStream(report, where, name, k, follows, read.framing);
      else if (!read.Exact())
        report.Problem(where, read.Problem());
    }
  }
}

void ReadHistory(KivRkf::RkFile& file, CheckReport& report) {
  std::vector<KivMox::GlobalInfoRecord> history;
  try {
    KivMox::ReadGlobalInfo(file, history);
  } catch (const std::exception& e) {
    report.Problem(SectionWhere(KivMox::kGlobalInformation),
                   "cut short after " + std::to_string(history.size()) +
                       " records: " + Kiv::Util::DescriptionOf(e));
  }
  report.historyRecords = history.size();
}

// False when the tree is cut short: links to the nodes not read are no news then.
bool ReadNodes(const std::shared_ptr<KivRkf::RkFile>& file, const std::string& path, bool wide,
               KivMox::Tree& tree, CheckReport& report) {
  KivMox::Tree::IdentifierMap identifiers;
  try {
    tree.ReadNodesForCheck(file, path, wide, identifiers);
  } catch (const std::exception& e) {
    const KivMox::Tree::ReadPlace& at = tree.LastReadPlace();
    std::string where = SectionWhere(KivMox::kMoxTree);
    if (at.id != 0)
      where = NodeWhere(at.id, at.name) + " (" + Quoted(at.type) + ")";
    else if (at.header >= 0)
      where += " header " + std::to_string(at.header + 1) + " of " + std::to_string(at.count);
    report.Problem(where, "the node tree is cut short here (" + std::to_string(identifiers.size()) +
                              " nodes read): " + Kiv::Util::DescriptionOf(e));
    report.nodes = identifiers.size();
    return false;
  }
  report.nodes = identifiers.size();
  return true;
}

// The readers read a section the file lacks as empty, and the nodes that read from it keep
// their defaults (no attributes, the default material): named, with the first such node.
// The sections a file may lack by design ("View Points", "Global Information") are read by
// their own readers, which look for them first, and never by a node's record.
void ReportMissingSections(const KivMox::Tree& tree, CheckReport& report) {
  for (const auto& [name, at] : tree.MissingSectionReaders())
    report.Warning(SectionWhere(name),
                   "the file has no such section, and the readers read it as empty; " +
                       NodeWhere(at.id, at.name) + " (" + Quoted(at.type) +
                       ") is the first whose record reads from it");
}

void ReadViews(KivRkf::RkFile& file, const std::string& version, KivMox::Tree& tree,
               CheckReport& report) {
  if (version == "0.1" || !file.Reader().HasName(KivMox::kViewPoints)) return;
  std::string failure;
  KivMox::ViewPointsReadPlace at;
  KivMox::ReadViewPoints(file, tree.views, version, &failure, &at);
  if (!failure.empty() && KivRkf::IsLegacyContainerVersion(version)) {
    // The readers load such a file without its view points, and say nothing.
    report.Warning(SectionWhere(KivMox::kViewPoints),
                   "the view points of a container of version " + Quoted(version) +
                       " cannot be read and are left out: " + failure);
  } else if (!failure.empty()) {
    std::string where = SectionWhere(KivMox::kViewPoints);
    if (at.group >= 0) where += " group " + std::to_string(at.group) + " " + Quoted(at.groupName);
    if (at.entry >= 0) {
      where += " entry " + std::to_string(at.entry);
      if (!at.entryName.empty()) where += " " + Quoted(at.entryName);
    }
    report.Problem(where, failure);
  }
  if (!tree.views.present) return;
  report.viewPoints = 1;
  for (const auto& group : tree.views.groups) report.viewPoints += group.entries.size();
}

std::string NameOf(const KivMox::Tree& tree, std::uint32_t id) {
  const KivMox::Node* node = tree.GetNode(id);
  return node ? node->name : std::string();
}

// A merge shifts the identifiers of every input past those in use (at least past its own
// root), so an identifier or link of 0xFFFFFFFF has nowhere to go: every merge refuses it.
void CheckIdentifierRange(const KivMox::Tree& tree, CheckReport& report) {
  constexpr std::uint32_t kLast = 0xFFFFFFFF;
  for (const auto& [id, entry] : tree.Entries()) {
    const std::string where = NodeWhere(id, NameOf(tree, id));
    if (id == kLast)
      report.Problem(where,
                     "its identifier is 0xFFFFFFFF, which a merge cannot shift past "
                     "the identifiers in use and refuses");
    const std::pair<const char*, std::uint32_t> links[] = {
        {"parent", entry.parentId},
        {"previous sibling", entry.prevSiblingId},
        {"next sibling", entry.nextSiblingId},
        {"first child", entry.firstChildId},
        {"last child", entry.lastChildId}};
    for (const auto& [link, to] : links)
      if (to == kLast)
        report.Problem(where, std::string("its ") + link +
                                  " link is 0xFFFFFFFF, which a merge cannot shift past the "
                                  "identifiers in use and refuses");
  }
}

// Array links to arrays that do not exist or have no values of their own; tree links that
// lead nowhere, back, or too deep; entries the walk from the root never reaches.
void CheckLinks(const KivMox::Tree& tree, CheckReport& report) {
  for (const auto& [id, entry] : tree.Entries()) {
    const auto* g = KivMox::NodeAs<KivMox::Geometry>(entry.data);
    if (!g) continue;
    for (std::size_t i = 0; i < g->arrays.size(); ++i) {
      const KivMox::GeometryArray& a = g->arrays[i];
      if (!a.linked) continue;
      const auto* target = KivMox::NodeAs<KivMox::Geometry>(tree.GetNode(a.linkNode));
      const std::string to = "links to array " + std::to_string(a.linkIndex) + " of node " +
                             std::to_string(a.linkNode);
      if (!target || a.linkIndex >= target->arrays.size())
        report.Warning(ArrayWhere(id, g->name, i, a.name), to + ", which does not exist");
      else if (target->arrays[a.linkIndex].linked)
        report.Warning(ArrayWhere(id, g->name, i, a.name),
                       to + ", which is itself linked and has no values of its own");
    }
  }
  const TreeWalk walk = WalkTree(tree);
  for (const WalkStep& step : walk.steps) {
    const auto* p = std::get_if<BrokenLink>(&step);
    if (!p || p->to == 0xFFFFFFFF) continue;
    const std::string where = p->from == 0 ? std::string("the tree's root link")
                                           : NodeWhere(p->from, NameOf(tree, p->from));
    const std::string link =
        std::string("its ") + LinkName(p->link) + " link names node " + std::to_string(p->to);
    switch (p->fault) {
      case LinkFault::Dangling:
        report.Warning(where, link + ", which does not exist");
        break;
      case LinkFault::Cycle:
        report.Warning(where, link + ", which the walk from the root reached before");
        break;
      case LinkFault::TooDeep:
        report.Warning(where, link + ", deeper than " + std::to_string(kMaxWalkDepth) + " levels");
        break;
    }
  }
  for (const std::uint32_t id : walk.unreached)
    report.Warning(NodeWhere(id, NameOf(tree, id)), "the walk from the root never reaches it");
}

}  // namespace

CheckReport CheckFile(const std::string& path) {
  CheckReport report;
  report.file = path;
  auto file = std::make_shared<KivRkf::RkFile>();
  std::string version;
  bool wide = false;
  try {
    file->OpenFile(path, "rb");
    KIV_CHECK(file->IsContainerFile(), FormatNotSupported, path + " is not a Mox file",
              "MoxInfo::CheckFile");
    version = file->ReadVersion();
    file->CheckSupport(version, wide);
    // A cut file is read as far as it goes: the blocks past its end are reported, not read.
    file->ReadIndex(KivRkf::OnCut::Keep);
  } catch (const std::exception& e) {
    report.Problem("container", CutHeader(file->Stream()).value_or(Kiv::Util::DescriptionOf(e)));
    return report;
  }
  KivRkf::IndexReader& index = file->Reader();
  const int fd = fileno(file->Stream());
  struct stat st {};
  fstat(fd, &st);
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  ReadHistory(*file, report);
  KivMox::Tree tree;
  const bool whole = ReadNodes(file, path, wide, tree, report);
  // A table cut short may have lost the records of the sections that seem missing.
  if (!index.Cut() || index.Cut()->endKnown) ReportMissingSections(tree, report);
  ReadViews(*file, version, tree, report);
  if (const std::optional<KivRkf::FileCut>& cut = index.Cut()) {
    // One problem: what the readers could not read for the cut is told with it.
    // With the table itself cut, a stream may lack blocks the lost index blocks listed: every
    // read that failed so far may have failed for the cut.
    std::string unread;
    for (auto it = report.problems.begin(); it != report.problems.end();) {
      if (cut->endKnown && it->what.find(kCutRead) == std::string::npos) {
        ++it;
        continue;
      }
      unread += (unread.empty() ? "; not read for it: " : ", ") + it->where;
      it = report.problems.erase(it);
    }
    report.problems.insert(report.problems.begin(),
                           {"container", "the file is cut short: " + cut->Describe() + "; block " +
                                             std::to_string(cut->firstBlockPast) +
                                             " is the first that runs past its end" + unread});
  }

  std::uint64_t end = index.Table().HeaderSize();
  for (const KivRkf::BlockInfo& b : index.Table().Blocks())
    end = std::max(end, b.offset + b.storedSize);
  if (end < fileSize)
    report.Warning("container", "the file goes on " + std::to_string(fileSize - end) +
                                    " bytes after the end of its last block");
  CheckOtherBlocks(index, fd, fileSize, report);
  CheckHeavyData(index, fd, fileSize, tree, whole, report);
  CheckIdentifierRange(tree, report);
  if (whole) CheckLinks(tree, report);
  return report;
}

}  // namespace MoxTools
