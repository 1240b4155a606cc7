#include "info/heavy_check.hpp"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "info/block_inflate.hpp"
#include "info/check_report.hpp"
#include "info/display_text.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/index.hpp"
#include "kiv/util/exception.hpp"

namespace MoxInfo {

namespace {

const std::string kHeavy = KivMox::kHeavyData;

struct HeavyRecord {
  std::uint64_t position = 0, size = 0;
  std::string where;
  const KivMox::GeometryArray* array = nullptr;
  KivMox::NodeSets* sets = nullptr;  // else an array, or a range an older record took
  bool done = false;                 // checked, or reported as unreadable
  std::uint64_t End() const { return position + size; }
};

std::string Range(std::uint64_t from, std::uint64_t to) {
  return "bytes " + std::to_string(from) + " to " + std::to_string(to);
}

std::vector<HeavyRecord> GatherRecords(KivMox::Tree& tree, KivRkf::Index& index,
                                       CheckReport& report) {
  std::vector<HeavyRecord> records;
  for (auto& [id, entry] : tree.Entries()) {
    KivMox::Node* node = entry.data;
    if (!node) continue;
    if (auto* g = KivMox::NodeAs<KivMox::Geometry>(node)) {
      for (std::size_t i = 0; i < g->arrays.size(); ++i) {
        const KivMox::GeometryArray& a = g->arrays[i];
        if (a.linked || !a.heavyPosition) continue;
        records.push_back({*a.heavyPosition, a.data.byteSize, ArrayWhere(id, node->name, i, a.name),
                           &a, nullptr});
        ++report.arrays;
      }
    } else if (auto* s = KivMox::NodeAs<KivMox::NodeSets>(node); s && s->heavySize != 0) {
      records.push_back(
          {s->heavyPosition, s->heavySize, NodeWhere(id, node->name) + " node sets", nullptr, s});
      ++report.nodeSetRecords;
    }
  }
  // Records of older versions that the node reader took at once.
  if (const auto* claims = index.ClaimedRanges(kHeavy))
    for (const auto& [from, to] : *claims)
      records.push_back({from, to - from, {}, nullptr, nullptr, true});
  std::stable_sort(records.begin(), records.end(), [](const HeavyRecord& a, const HeavyRecord& b) {
    return a.position < b.position;
  });
  return records;
}

class RecordChecker {
 public:
  explicit RecordChecker(CheckReport& report) : report_(report) {}

  void Check(HeavyRecord& r, const std::uint8_t* bytes) {
    r.done = true;
    if (r.array) {
      const std::uint64_t n = r.size;
      if (n >= 4 && n % 4 != 0) {
        report_.Problem(r.where, "its byte size " + std::to_string(n) + " is not a multiple of 4");
        return;
      }
      // Every run of bytes decodes; the values are decoded as a merge would.
      if (scratch_.size() < n) scratch_.resize(n);
      KivMox::DecodeComponents(bytes, scratch_.data(), n, r.array->data.componentCount);
      return;
    }
    if (!r.sets) return;
    KivRkf::Block block;
    block.Put(bytes, static_cast<std::uint32_t>(r.size));
    block.SetPosition(std::uint32_t{0});
    try {
      const std::uint64_t took = KivMox::ReadNodeSetsRecord(*r.sets, block);
      if (took < r.size)
        report_.Warning(r.where, std::to_string(r.size - took) + " of its " +
                                     std::to_string(r.size) + " bytes belong to no set");
    } catch (const std::exception& e) {
      report_.Problem(r.where, std::string("its member lists cannot be read within its ") +
                                   std::to_string(r.size) +
                                   " bytes: " + Kiv::Util::DescriptionOf(e));
    }
  }

 private:
  CheckReport& report_;
  std::vector<std::uint8_t> scratch_;
};

struct ScannedBlock {
  std::uint64_t position = 0, length = 0;
  std::size_t nth = 0;
  std::uint64_t block = 0;
};

// Bytes of sound blocks that no record covers.
void ReportUnreferenced(const std::vector<ScannedBlock>& blocks,
                        const std::vector<HeavyRecord>& records, CheckReport& report) {
  std::size_t r = 0;
  std::uint64_t coveredTo = 0;  // records before r cover up to here (merged)
  for (const ScannedBlock& b : blocks) {
    const std::uint64_t end = b.position + b.length;
    std::uint64_t covered = 0, at = b.position;
    if (coveredTo > at) {
      covered += std::min(coveredTo, end) - at;
      at = std::min(coveredTo, end);
    }
    while (r < records.size() && records[r].position < end) {
      const std::uint64_t from = std::max(records[r].position, at);
      const std::uint64_t to = std::min(records[r].End(), end);
      if (to > from) {
        covered += to - from;
        at = to;
      }
      coveredTo = std::max(coveredTo, records[r].End());
      if (records[r].End() > end) break;
      ++r;
    }
    if (covered < b.length)
      report.Warning(BlockWhere(kHeavy, b.nth, b.block), std::to_string(b.length - covered) +
                                                             " of its " + std::to_string(b.length) +
                                                             " bytes belong to no record");
  }
}

}  // namespace

void CheckHeavyData(KivRkf::Index& index, int fd, std::uint64_t fileSize, KivMox::Tree& tree,
                    CheckReport& report) {
  std::vector<HeavyRecord> records = GatherRecords(tree, index, report);
  // Records that share bytes: the reader refuses the later one.
  std::uint64_t end = 0;
  const HeavyRecord* last = nullptr;
  for (HeavyRecord& r : records) {
    if (r.size == 0) {
      r.done = true;
      continue;
    }
    if (last && r.position < end) {
      report.Problem(r.where.empty() ? last->where : r.where,
                     Range(r.position, r.End()) + " of the section are also those of " +
                         (r.where.empty() ? std::string("an older record") : last->where));
      r.done = true;
      continue;
    }
    end = r.End();
    last = &r;
  }
  if (!index.HasName(kHeavy)) {
    for (const HeavyRecord& r : records)
      if (!r.done && !r.where.empty())
        report.Problem(r.where, "the section " + Quoted(kHeavy) + " is missing");
    return;
  }

  BlockInflater inflater(fd, fileSize);
  RecordChecker checker(report);
  std::vector<ScannedBlock> sound;
  std::size_t next = 0;
  HeavyRecord* active = nullptr;  // a record that goes on into the next block
  std::vector<std::uint8_t> gathered;
  std::uint64_t position = 0;
  bool cut = false;
  const std::vector<std::uint64_t>& blocks = index.Names().at(kHeavy).blocks;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const InflatedBlock ib = inflater.Inflate(index.Blocks()[blocks[k]]);
    ++report.blocks;
    const std::uint64_t blockEnd = position + (ib.problem.empty() ? ib.length : ib.declared);
    if (!ib.problem.empty()) {
      std::string what = ib.problem;
      if (!cut) {
        std::size_t lost = 0;
        if (active) ++lost, active->done = true, active = nullptr;
        for (; next < records.size() && records[next].position < blockEnd; ++next)
          if (!records[next].done && !records[next].where.empty())
            ++lost, records[next].done = true;
        if (ib.lengthLies || ib.declared == 0) {
          what +=
              "; every later position of the section is shifted, so the section is cut short "
              "here and its later records are not checked";
          cut = true;
        } else if (lost) {
          what += "; " + std::to_string(lost) + (lost == 1 ? " record" : " records") +
                  " in it cannot be read";
        }
      }
      report.Problem(BlockWhere(kHeavy, k, blocks[k]), what);
      position = blockEnd;
      continue;
    }
    if (cut) {
      position = blockEnd;
      continue;
    }
    sound.push_back({position, ib.length, k, blocks[k]});
    if (active) {
      const std::uint64_t take = std::min<std::uint64_t>(active->End() - position, ib.length);
      gathered.insert(gathered.end(), ib.raw, ib.raw + take);
      if (active->End() <= blockEnd) {
        checker.Check(*active, gathered.data());
        active = nullptr;
        gathered = {};
      }
    }
    for (; !active && next < records.size() && records[next].position < blockEnd; ++next) {
      HeavyRecord& r = records[next];
      if (r.done) continue;
      const std::uint64_t offset = r.position - position;
      if (r.End() <= blockEnd) {
        checker.Check(r, ib.raw + offset);
      } else {
        active = &r;
        gathered.assign(ib.raw + offset, ib.raw + ib.length);
      }
    }
    position = blockEnd;
  }
  if (!cut) {
    for (HeavyRecord& r : records)
      if (!r.done && !r.where.empty())
        report.Problem(r.where, Range(r.position, r.End()) +
                                    " lie beyond the end of the section (" +
                                    std::to_string(position) + " bytes)");
    ReportUnreferenced(sound, records, report);
  }
}

}  // namespace MoxInfo
