#include "tools/heavy_check.hpp"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/rkf/block.hpp"
#include "kiv/rkf/block_read.hpp"
#include "kiv/rkf/block_table.hpp"
#include "kiv/rkf/copied_block_check.hpp"
#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/spare_buffers.hpp"
#include "kiv/rkf/zlib.hpp"
#include "kiv/util/display_text.hpp"
#include "kiv/util/exception.hpp"
#include "tools/check_report.hpp"
#include "tools/node_set_check.hpp"

namespace MoxTools {

using Kiv::Util::Quoted;

namespace {

const std::string kHeavy = KivMox::kHeavyData;

struct HeavyRecord {
  std::uint64_t position = 0, size = 0;
  std::string where;
  const KivMox::GeometryArray* array = nullptr;
  KivMox::NodeSets* sets = nullptr;  // else an array
  bool done = false;                 // checked, or reported as unreadable
  // The earlier record whose bytes this one's first bytes are (then done): its place, and
  // the end of the bytes shared.
  const HeavyRecord* sharesWith = nullptr;
  std::uint64_t sharedTo = 0;
  std::uint64_t End() const { return position + size; }
};

std::string Range(std::uint64_t from, std::uint64_t to) {
  return "bytes " + std::to_string(from) + " to " + std::to_string(to);
}

std::vector<HeavyRecord> GatherRecords(KivMox::Tree& tree, CheckReport& report) {
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
  std::stable_sort(records.begin(), records.end(), [](const HeavyRecord& a, const HeavyRecord& b) {
    return a.position < b.position;
  });
  return records;
}

// Checks records from their bytes. The runs of arrays are decoded as a merge would decode
// them (every run of bytes decodes); those of one block are decoded on two threads, each
// with a buffer of its own, when Decode is called.
class RecordChecker {
 public:
  explicit RecordChecker(CheckReport& report) : report_(report) {}

  // bytes stay valid until Decode.
  void Check(HeavyRecord& r, const std::uint8_t* bytes) {
    r.done = true;
    if (r.array) {
      const std::uint64_t n = r.size;
      if (n >= 4 && n % 4 != 0)
        report_.Problem(r.where, "its byte size " + std::to_string(n) + " is not a multiple of 4");
      else
        runs_.push_back({&r, bytes});
      return;
    }
    if (!r.sets) return;
    KivRkf::Block block;
    block.Put(bytes, static_cast<std::uint32_t>(r.size));
    block.SetPosition(std::uint32_t{0});
    try {
      const KivMox::NodeSetLists lists = KivMox::ReadNodeSetLists(block);
      const std::uint64_t took = block.Position();
      const std::vector<std::string> faults = NodeSetListFaults(lists, r.sets->count);
      for (const std::string& fault : faults) report_.Problem(r.where, fault);
      if (faults.empty()) KivMox::TakeNodeSets(*r.sets, lists);
      if (took < r.size)
        report_.Warning(r.where, std::to_string(r.size - took) + " of its " +
                                     std::to_string(r.size) + " bytes belong to no set");
    } catch (const std::exception& e) {
      report_.Problem(r.where, std::string("its member lists cannot be read within its ") +
                                   std::to_string(r.size) +
                                   " bytes: " + Kiv::Util::DescriptionOf(e));
    }
  }

  // Decodes the runs checked since the last call: every other run (by size) on a second
  // thread.
  void Decode() {
    std::sort(runs_.begin(), runs_.end(),
              [](const Run& a, const Run& b) { return a.record->size > b.record->size; });
    std::vector<Run> first, second;
    std::uint64_t firstBytes = 0, secondBytes = 0;
    for (const Run& run : runs_) {
      const bool toFirst = firstBytes <= secondBytes;
      (toFirst ? first : second).push_back(run);
      (toFirst ? firstBytes : secondBytes) += run.record->size;
    }
    runs_.clear();
    std::future<const HeavyRecord*> other;
    if (!second.empty())
      other = std::async(std::launch::async, [&] { return DecodeAll(second, otherScratch_); });
    const HeavyRecord* failed = DecodeAll(first, scratch_);
    const HeavyRecord* otherFailed = other.valid() ? other.get() : nullptr;
    for (const HeavyRecord* r : {failed, otherFailed})
      if (r)
        report_.Problem(r->where, "no memory to decode its " + std::to_string(r->size) + " bytes");
  }

 private:
  struct Run {
    HeavyRecord* record;
    const std::uint8_t* bytes;
  };

  // The record that could not get memory to be decoded, if any.
  static const HeavyRecord* DecodeAll(const std::vector<Run>& runs, KivRkf::SpareBuffer& scratch) {
    for (const Run& run : runs) {
      std::uint8_t* values = scratch.Room(run.record->size);
      if (!values) return run.record;
      KivMox::DecodeComponents(run.bytes, values, run.record->size,
                               run.record->array->data.componentCount);
    }
    return nullptr;
  }

  CheckReport& report_;
  std::vector<Run> runs_;
  KivRkf::SpareBuffer scratch_, otherScratch_;
};

struct ScannedBlock {
  std::uint64_t position = 0, length = 0;
  std::size_t nth = 0;
  std::uint64_t block = 0;
};

// The bytes of sound blocks that no record covers.
std::uint64_t UnreferencedBytes(const std::vector<ScannedBlock>& blocks,
                                const std::vector<HeavyRecord>& records) {
  std::uint64_t unreferenced = 0;
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
    unreferenced += b.length - covered;
  }
  return unreferenced;
}

// A record whose first bytes are those of an earlier one; sectionEnd when the section's
// length is known.
void ReportShared(const HeavyRecord& r, std::optional<std::uint64_t> sectionEnd,
                  CheckReport& report) {
  std::string what =
      Range(r.position, r.sharedTo) + " of the section are also those of " + r.sharesWith->where;
  if (sectionEnd && r.End() > *sectionEnd)
    what = Range(r.position, r.End()) + " run past the end of the section (" +
           std::to_string(*sectionEnd) + " bytes); " + what;
  report.Problem(r.where, what);
}

// Takes the blocks of the section in stream order and checks each record as its last byte
// goes by; a record that goes on into the next block is gathered meanwhile.
class HeavyScan {
 public:
  HeavyScan(std::vector<HeavyRecord>& records, bool fileCut, CheckReport& report)
      : records_(records), report_(report), checker_(report), fileCut_(fileCut) {}

  void Take(std::size_t k, std::uint64_t block, const KivRkf::BlockRead& read) {
    ++report_.blocks;
    // A merge takes the length of every block of the section from its field before it reads
    // any: a stream that gives fewer bytes is refused, as a damaged one.
    const bool usable = read.Exact();
    const std::uint64_t blockEnd = position_ + (usable ? read.length : read.declared);
    if (read.pastEnd && fileCut_) {
      // The cut of the file is the one problem of the blocks past its end.
      cut_ = true;
    } else if (!usable) {
      report_.Problem(BlockWhere(kHeavy, k, block), Damaged(read, blockEnd));
    } else if (!cut_) {
      sound_.push_back({position_, read.length, k, block});
      TakeRecords(read, blockEnd);
    }
    position_ = blockEnd;
  }

  // recordsWhole: every record of the tree was read, so bytes no record covers are bytes
  // no record references.
  void Finish(bool recordsWhole) {
    const std::optional<std::uint64_t> end = cut_ ? std::nullopt : std::optional(position_);
    for (HeavyRecord& r : records_) {
      if (r.sharesWith) {
        ReportShared(r, end, report_);
      } else if (end && r.size == 0 && r.position > *end) {
        report_.Problem(r.where, "it is empty, but its position " + std::to_string(r.position) +
                                     " lies past the end of the section (" + std::to_string(*end) +
                                     " bytes)");
      } else if (end && !r.done) {
        report_.Problem(r.where, Range(r.position, r.End()) +
                                     " lie beyond the end of the section (" + std::to_string(*end) +
                                     " bytes)");
      }
    }
    if (end && recordsWhole) report_.unreferencedHeavyBytes = UnreferencedBytes(sound_, records_);
  }

 private:
  // What is wrong with a damaged block and what it costs its records.
  std::string Damaged(const KivRkf::BlockRead& read, std::uint64_t blockEnd) {
    std::string what = read.Problem();
    if (cut_) return what;
    std::size_t lost = 0;
    if (active_) ++lost, active_->done = true, active_ = nullptr;
    for (; next_ < records_.size() && records_[next_].position < blockEnd; ++next_)
      if (!records_[next_].done) ++lost, records_[next_].done = true;
    if (read.pastEnd) {
      cut_ = true;
      return what + "; the section is cut short here and its later records are not checked";
    }
    const bool lengthLies = read.framing.state == KivRkf::Framing::State::Shorter ||
                            read.framing.state == KivRkf::Framing::State::Longer;
    if (lengthLies || read.declared == 0) {
      cut_ = true;
      return what +
             "; every later position of the section is shifted, so the section is cut short "
             "here and its later records are not checked";
    }
    if (lost)
      what += "; " + std::to_string(lost) + (lost == 1 ? " record" : " records") +
              " in it cannot be read";
    return what;
  }

  void TakeRecords(const KivRkf::BlockRead& ib, std::uint64_t blockEnd) {
    if (active_) {
      const std::uint64_t take = std::min<std::uint64_t>(active_->End() - position_, ib.length);
      gathered_.insert(gathered_.end(), ib.raw, ib.raw + take);
      if (active_->End() > blockEnd) return;
      checker_.Check(*active_, gathered_.data());
      checker_.Decode();
      active_ = nullptr;
      gathered_ = {};
    }
    for (; !active_ && next_ < records_.size() && records_[next_].position < blockEnd; ++next_) {
      HeavyRecord& r = records_[next_];
      if (r.done) continue;
      const std::uint64_t offset = r.position - position_;
      if (r.End() <= blockEnd) {
        checker_.Check(r, ib.raw + offset);
      } else {
        active_ = &r;
        gathered_.assign(ib.raw + offset, ib.raw + ib.length);
      }
    }
    checker_.Decode();
  }

  std::vector<HeavyRecord>& records_;
  CheckReport& report_;
  RecordChecker checker_;
  std::vector<ScannedBlock> sound_;
  std::size_t next_ = 0;
  HeavyRecord* active_ = nullptr;
  std::vector<std::uint8_t> gathered_;
  std::uint64_t position_ = 0;
  bool cut_ = false;
  bool fileCut_;
};

// The bytes inflating the block holds at once: its stored bytes and the length it declares.
std::uint64_t HeldBytes(int fd, const KivRkf::BlockInfo& block) {
  std::uint8_t field[4] = {};
  if ((block.flags & KivRkf::kFlagZlib) == 0 ||
      pread(fd, field, 4, static_cast<off_t>(block.offset)) != 4)
    return block.storedSize;
  return block.storedSize + KivRkf::FramedLength(field, block.storedSize).value_or(0);
}

}  // namespace

void CheckHeavyData(KivRkf::IndexReader& index, int fd, std::uint64_t fileSize, KivMox::Tree& tree,
                    bool recordsWhole, CheckReport& report) {
  std::vector<HeavyRecord> records = GatherRecords(tree, report);
  // Records that share bytes: the reader refuses the later one. Empty records are checked
  // for their position alone, at the end.
  std::uint64_t end = 0;
  const HeavyRecord* last = nullptr;
  for (HeavyRecord& r : records) {
    if (r.size == 0) {
      r.done = true;
    } else if (last && r.position < end) {
      r.sharesWith = last;
      r.sharedTo = std::min(end, r.End());
      r.done = true;
    } else {
      end = r.End();
      last = &r;
    }
  }
  if (!index.HasName(kHeavy)) {
    for (const HeavyRecord& r : records)
      if (r.sharesWith)
        ReportShared(r, std::nullopt, report);
      else if (!r.done || r.position > 0)
        report.Problem(r.where, "the section " + Quoted(kHeavy) + " is missing");
    return;
  }

  const std::vector<std::uint64_t>& blocks = index.Table().Names().at(kHeavy).blocks;
  HeavyScan scan(records, index.Cut().has_value(), report);
  // Two blocks are inflated side by side when two workers' blocks fit the memory bound of a
  // merge's block check; the records of each are checked in stream order all the same.
  std::uint64_t largest = 0;
  for (std::uint64_t b : blocks)
    largest = std::max(largest, HeldBytes(fd, index.Table().Blocks()[b]));
  const bool pairs = KivRkf::CopiedBlockCheck::Workers(largest) > 1;
  KivRkf::BlockReader first(fd, fileSize), second(fd, fileSize);
  const auto read = [&](KivRkf::BlockReader& reader, std::size_t k) {
    const KivRkf::BlockInfo& info = index.Table().Blocks()[blocks[k]];
    return reader.Read(info.offset, info.storedSize, info.flags & KivRkf::kFlagZlib, true);
  };
  for (std::size_t k = 0; k < blocks.size(); k += pairs ? 2 : 1) {
    std::future<KivRkf::BlockRead> ahead;
    if (pairs && k + 1 < blocks.size())
      ahead = std::async(std::launch::async, [&, k] { return read(second, k + 1); });
    scan.Take(k, blocks[k], read(first, k));
    if (ahead.valid()) scan.Take(k + 1, blocks[k + 1], ahead.get());
  }
  scan.Finish(recordsWhole);
}

}  // namespace MoxTools
