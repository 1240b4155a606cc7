// Text rendering of moxinfo's listing (listing_text.hpp).
#include "info/listing_text.hpp"

#include <charconv>
#include <iomanip>
#include <string>

#include "kiv/util/display_text.hpp"

namespace MoxInfo {

using Kiv::Util::DisplayText;
using Kiv::Util::Quoted;

namespace {

std::string Indent(int depth) {
  return std::string(2 * static_cast<std::size_t>(depth), ' ');
}

std::string FloatText(float value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

void PrintArray(const ArrayListing& a, const std::string& indent, std::ostream& out) {
  out << indent << "array " << a.index << ' ' << Quoted(a.name) << " kind=" << a.kind;
  if (a.subKind != 0) out << " subKind=" << a.subKind;
  if (a.linked) {
    out << " -> node " << a.linkNode << " array " << a.linkIndex;
    if (!a.linkResolves) out << " (no such array)";
  } else {
    out << " values=" << a.valueCount << " components=" << unsigned{a.components};
    if (a.byteSize % 4 != 0) out << " bytes=" << a.byteSize;
    if (a.minimum) out << " min=" << ValueText(*a.minimum, a.integers);
    if (a.maximum) out << " max=" << ValueText(*a.maximum, a.integers);
    if (a.nanCount) out << " nan=" << a.nanCount;
  }
  if (a.attributes) out << " attributes=" << a.attributes;
  if (a.vibration) out << " vibration";
  out << '\n';
}

void PrintEntry(const EntryListing& e, std::ostream& out) {
  const std::string indent = Indent(e.depth);
  out << indent << '[' << e.id << "] ";
  if (!e.hasNode) {
    out << "(no node)";
  } else {
    out << DisplayText(e.type) << ' ' << Quoted(e.name) << " version " << DisplayText(e.version);
  }
  if (e.mergeRoot) out << " mergeRoot=" << unsigned{*e.mergeRoot} << " attributes=" << e.attributes;
  if (e.colour) {
    const auto& c = *e.colour;
    out << " colour=(" << FloatText(c[0]) << ", " << FloatText(c[1]) << ", " << FloatText(c[2])
        << ", " << FloatText(c[3]) << ')';
  }
  if (e.isGeometry) out << " arrays=" << e.arrays.size();
  if (e.isNodeSets) out << " sets=" << e.sets.size();
  // A parent link that the walk does not confirm (or any parent of an unreached entry).
  if (e.reached ? e.depth > 0 && e.parentId != e.walkParentId : e.parentId != 0)
    out << " (parent link " << e.parentId << ')';
  out << '\n';
  const std::string inner = indent + "    ";
  for (const auto& a : e.arrays) PrintArray(a, inner, out);
  for (const auto& s : e.sets)
    out << inner << "set " << Quoted(s.name) << ": " << s.members << " members\n";
}

void PrintProblem(const LinkProblem& p, std::ostream& out) {
  out << Indent(p.depth) << "!! ";
  if (p.from != 0) out << '[' << p.from << "] ";
  out << MoxTools::LinkName(p.link) << " -> " << p.to << ": ";
  switch (p.fault) {
    case MoxTools::LinkFault::Dangling:
      out << "dangling, no such entry";
      break;
    case MoxTools::LinkFault::Cycle:
      out << "cycle, already listed, not followed";
      break;
    case MoxTools::LinkFault::TooDeep:
      out << "deeper than " << MoxTools::kMaxWalkDepth << " levels, not followed";
      break;
  }
  out << '\n';
}

void PrintHistory(const ModelListing& listing, std::ostream& out) {
  const std::size_t n = listing.history.size();
  out << "\nSave history (" << n << (n == 1 ? " record" : " records") << "):\n";
  std::size_t k = 0;
  for (const auto& r : listing.history) {
    out << "  " << ++k << ". " << Quoted(r.applicationName) << ' ' << Quoted(r.applicationVersion)
        << ", format " << Quoted(r.formatVersion) << ", saved " << Quoted(r.saveTime)
        << ", computer " << Quoted(r.computerName) << ", user " << Quoted(r.userName) << ", caller "
        << Quoted(r.callerText) << '\n';
  }
}

void PrintViewPoints(const ModelListing& listing, std::ostream& out) {
  if (!listing.hasViewPoints) {
    out << "\nView points: none\n";
    return;
  }
  out << "\nView points: current " << Quoted(listing.currentViewName) << ", "
      << listing.viewGroups.size() << " groups, " << listing.actionCount << " actions\n";
  for (const auto& g : listing.viewGroups)
    out << "  group " << Quoted(g.name) << ": " << g.entries << " entries\n";
}

}  // namespace

std::string ValueText(double value, bool integer) {
  if (integer) return std::to_string(static_cast<long long>(value));
  return FloatText(static_cast<float>(value));
}

void PrintListing(const ModelListing& listing, std::ostream& out) {
  out << "File: " << DisplayText(listing.path) << '\n'
      << "Container version: " << DisplayText(listing.containerVersion) << '\n'
      << "Entries: " << listing.entryCount << '\n'
      << "\nNode tree:\n";
  bool unreachedHeader = false;
  for (const auto& line : listing.lines) {
    if (const auto* e = std::get_if<EntryListing>(&line)) {
      if (!e->reached && !unreachedHeader) {
        out << "\nUnreached entries (not linked from the root):\n";
        unreachedHeader = true;
      }
      PrintEntry(*e, out);
    } else {
      PrintProblem(std::get<LinkProblem>(line), out);
    }
  }
  PrintHistory(listing, out);
  PrintViewPoints(listing, out);
}

void PrintBlockListing(const BlockListing& table, std::ostream& out) {
  out << "\nBlocks (" << table.rows.size() << "; file size " << table.fileSize
      << ", primary index at " << table.primaryOffset << ", " << table.primaryLength
      << " bytes):\n";
  out << "  number serial     stored flags                offset  name\n";
  for (const auto& r : table.rows) {
    out << "  " << std::setw(6) << r.number << ' ' << std::setw(6) << unsigned{r.serial} << ' '
        << std::setw(10) << r.storedSize << ' ' << std::left << std::setw(15)
        << BlockFlagsText(r.flags) << std::right << ' ' << std::setw(12) << r.offset << "  "
        << BlockNameText(r.name) << '\n';
  }
}

}  // namespace MoxInfo
