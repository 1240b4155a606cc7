#include "kiv/mox/block_adoption.hpp"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/progress.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {

constexpr std::uint64_t kDeadBytesFloor = std::uint64_t{1} << 20;

// What the output takes from one block of an input.
struct Taken {
  std::vector<AdoptedRun> runs;
  std::uint64_t bytes = 0;
  std::uint64_t runsEnd = 0;
  std::uint64_t lastOffset = 0;
  std::uint64_t lastSize = 0;
  bool refused = false;  // a run is not written unchanged, or not by one array alone
};

// The arrays loaded from one input, in tree order.
struct InputArrays {
  std::shared_ptr<KivRkf::RkFile> file;
  std::vector<GeometryArray*> arrays;
};

bool Qualifies(const KivRkf::StoredBlock& block, const Taken& taken, std::uint32_t limit) {
  if (taken.refused || taken.lastSize == 0 || !(block.flags & KivRkf::kFlagZlib)) return false;
  const std::uint64_t raw = block.rawLength;
  if (raw - taken.bytes > std::max(raw / 8, kDeadBytesFloor)) return false;
  return raw - taken.lastSize < limit;
}

void PlanInput(const InputArrays& input, const std::string& heavy, std::uint32_t limit,
               const std::map<const DataLoader*, int>& users, AdoptionPlan& plan) {
  const KivRkf::FileInUse use(input.file.get());
  if (KivRkf::VersionNumber(input.file->ReadVersion()) <= 6) return;
  const std::vector<KivRkf::StoredBlock> blocks = input.file->Reader().DescribeStream(heavy);
  std::vector<Taken> taken(blocks.size());
  for (GeometryArray* array : input.arrays) {
    const DataLoader& loader = *array->data.loader;
    auto after = std::upper_bound(
        blocks.begin(), blocks.end(), loader.position,
        [](std::uint64_t p, const KivRkf::StoredBlock& b) { return p < b.position; });
    if (after == blocks.begin()) continue;
    const KivRkf::StoredBlock& block = *(after - 1);
    const std::uint64_t offset = loader.position - block.position;
    // Beyond the stream: the classic writer reports it.
    if (offset >= block.rawLength) continue;
    Taken& t = taken[std::size_t(after - 1 - blocks.begin())];
    const bool unchanged = users.at(&loader) == 1 && loader.byteSize == array->data.byteSize &&
                           loader.StoredComponents() == array->data.componentCount &&
                           loader.AcceptsValueKind(array->IsConnectivity()) &&
                           loader.byteSize <= block.rawLength - offset;
    if (!unchanged) {
      t.refused = true;
      continue;
    }
    t.runs.push_back({array, offset});
    t.bytes += loader.byteSize;
    t.runsEnd = std::max(t.runsEnd, offset + loader.byteSize);
    if (loader.byteSize != 0 && (t.lastSize == 0 || offset > t.lastOffset)) {
      t.lastOffset = offset;
      t.lastSize = loader.byteSize;
    }
  }
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    if (!Qualifies(blocks[k], taken[k], limit)) continue;
    plan.blocks.push_back({input.file, blocks[k], std::move(taken[k].runs), taken[k].runsEnd, {}});
    plan.rawBytes += blocks[k].rawLength;
    plan.storedBytes += blocks[k].storedSize;
    plan.runBytes += taken[k].bytes;
  }
}

}  // namespace

AdoptionPlan PlanAdoption(const std::vector<Geometry*>& geometries, const std::string& heavy,
                          std::uint32_t outputLimit) {
  std::map<const DataLoader*, int> users;
  std::vector<InputArrays> inputs;
  std::unordered_map<const KivRkf::RkFile*, std::size_t> inputOf;
  for (Geometry* geometry : geometries) {
    for (GeometryArray& array : geometry->arrays) {
      array.adopted = false;
      const DataLoader* loader = array.data.loader.get();
      if (array.linked || !loader) continue;
      ++users[loader];
      if (!loader->file || loader->section != heavy) continue;
      const auto [at, fresh] = inputOf.emplace(loader->file.get(), inputs.size());
      if (fresh) inputs.push_back(InputArrays{loader->file, {}});
      inputs[at->second].arrays.push_back(&array);
    }
  }
  AdoptionPlan plan;
  for (const InputArrays& input : inputs) PlanInput(input, heavy, outputLimit, users, plan);
  return plan;
}

void AdoptBlocks(AdoptionPlan& plan, KivRkf::IndexWriter& output, std::FILE* stream,
                 const std::string& heavy, ProgressListener* progress, std::uint64_t total) {
  if (plan.blocks.empty()) return;
  std::uint64_t largest = 0;
  std::uint32_t largestRaw = 0;
  for (const AdoptedBlock& block : plan.blocks) {
    largest = std::max(largest, std::uint64_t{block.stored.rawLength} + block.stored.storedSize);
    largestRaw = std::max(largestRaw, block.stored.rawLength);
  }
  KivRkf::CopiedBlockCheck check(fileno(stream), KivRkf::CopiedBlockCheck::Workers(largest),
                                 largestRaw);
  for (AdoptedBlock& block : plan.blocks) {
    // The kernel copies from the input's descriptor: it stays open until the copy is done.
    const KivRkf::FileInUse use(block.file.get());
    const KivRkf::StoredBlock& stored = block.stored;
    const KivRkf::IndexWriter::Adopted placed =
        output.AdoptBlock(heavy, fileno(block.file->Stream()), stored.offset, stored.storedSize,
                          stored.rawLength, stream);
    check.Add(placed.offset, stored.storedSize, stored.rawLength, block.runsEnd,
              block.keep.empty() ? nullptr : &block.keep);
    for (const AdoptedRun& run : block.runs) {
      run.array->heavyPosition = placed.position + run.offset;
      run.array->adopted = true;
    }
    if (progress) progress->Writing(output.GetSize(heavy), total);
  }
  check.Finish();
  // Inflated once from the output: the input's length fields of these blocks hold.
  for (const AdoptedBlock& block : plan.blocks)
    block.file->Reader().MarkSizeChecked(block.stored.block);
}

}  // namespace KivMox
