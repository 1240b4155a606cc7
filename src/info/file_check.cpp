#include "info/file_check.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <variant>

#include "info/framing_report.hpp"
#include "info/heavy_check.hpp"
#include "info/model_listing.hpp"
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

namespace MoxInfo {

using Kiv::Util::Quoted;

namespace {

void CheckOtherBlocks(KivRkf::Index& index, int fd, std::uint64_t fileSize, CheckReport& report) {
  KivRkf::BlockReader reader(fd, fileSize);
  for (const auto& [name, stream] : index.Names()) {
    if (name == KivMox::kHeavyData || KivRkf::IsSpecialName(name, KivRkf::kEmptyBlockName) ||
        KivRkf::IsSpecialName(name, KivRkf::kIndexBlockName))
      continue;
    for (std::size_t k = 0; k < stream.blocks.size(); ++k) {
      ++report.blocks;
      const KivRkf::BlockInfo& info = index.Blocks()[stream.blocks[k]];
      const std::string where = BlockWhere(name, k, stream.blocks[k]);
      const bool follows = k + 1 < stream.blocks.size();
      // Inflated whole by a reader already, which noted a stream shorter than its field.
      if (info.inflated) {
        if (info.declaredLength != 0)
          ReportShorterStream(report, where, name, k, follows,
                              KivRkf::Framing{KivRkf::Framing::State::Shorter, info.declaredLength,
                                              info.streamLength});
        continue;
      }
      const KivRkf::BlockRead read =
          reader.Read(info.offset, info.storedSize, info.flags & KivRkf::kFlagZlib, true);
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
  if (!history.empty())
    KivMox::SetLegacyWriterFlag(KivMox::IsLegacyWriter(history.back().applicationVersion));
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

void ReadViews(KivRkf::RkFile& file, const std::string& version, KivMox::Tree& tree,
               CheckReport& report) {
  if (version == "0.1" || !file.GetIndex().HasName(KivMox::kViewPoints)) return;
  KivRkf::ScopedContainerVersion scoped(version);
  std::string failure;
  KivMox::ReadViewPoints(file, tree.views, &failure);
  if (!failure.empty()) report.Problem(SectionWhere(KivMox::kViewPoints), failure);
  if (!tree.views.present) return;
  report.viewPoints = 1;
  for (const auto& group : tree.views.groups) report.viewPoints += group.entries.size();
}

std::string NameOf(const KivMox::Tree& tree, std::uint32_t id) {
  const KivMox::Node* node = tree.GetNode(id);
  return node ? node->name : std::string();
}

// Array links to arrays that do not exist or have no values of their own; tree links that
// lead nowhere, back, or too deep; entries the walk from the root never reaches.
void CheckLinks(const KivMox::Tree& tree, const std::string& path, CheckReport& report) {
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
  const ModelListing listing = ListModel(tree, path);
  for (const ListingLine& line : listing.lines) {
    if (const auto* p = std::get_if<LinkProblem>(&line)) {
      const std::string where = p->from == 0 ? std::string("the tree's root link")
                                             : NodeWhere(p->from, NameOf(tree, p->from));
      const std::string link = "its " + p->link + " link names node " + std::to_string(p->to);
      if (p->problem == "dangling")
        report.Warning(where, link + ", which does not exist");
      else if (p->problem == "cycle")
        report.Warning(where, link + ", which the walk from the root reached before");
      else
        report.Warning(where,
                       link + ", deeper than " + std::to_string(kMaxListingDepth) + " levels");
    } else if (const auto* e = std::get_if<EntryListing>(&line); e && !e->reached) {
      report.Warning(NodeWhere(e->id, e->name), "the walk from the root never reaches it");
    }
  }
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
    report.Problem("container", Kiv::Util::DescriptionOf(e));
    return report;
  }
  KivRkf::Index& index = file->GetIndex();
  const int fd = fileno(file->Stream());
  struct stat st {};
  fstat(fd, &st);
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (const std::optional<KivRkf::FileCut>& cut = index.Cut())
    report.Problem("container", "the file is cut short: " + cut->Describe() + "; block " +
                                    std::to_string(cut->firstBlockPast) +
                                    " is the first that runs past its end");

  std::uint64_t end = index.HeaderSize();
  for (const KivRkf::BlockInfo& b : index.Blocks()) end = std::max(end, b.offset + b.storedSize);
  if (end < fileSize)
    report.Warning("container", "the file goes on " + std::to_string(fileSize - end) +
                                    " bytes after the end of its last block");
  ReadHistory(*file, report);
  KivMox::Tree tree;
  const bool whole = ReadNodes(file, path, wide, tree, report);
  ReadViews(*file, version, tree, report);
  CheckOtherBlocks(index, fd, fileSize, report);
  CheckHeavyData(index, fd, fileSize, tree, report);
  if (whole) CheckLinks(tree, path, report);
  return report;
}

}  // namespace MoxInfo
