// Block adoption: a save that writes the values of arrays loaded from other Mox files
// takes whole "Heavy Data" blocks of those files as they are stored (compressed bytes
// copied by the kernel, never inflated and deflated again) wherever that gives the output
// what writing the arrays one by one would, and a reader finds every array by its
// position all the same. A block of an input is adopted when:
//  - the input's container version is above "0.6" and the block is zlib-compressed;
//  - the output takes at least one run of bytes from it, and every run it takes is written
//    unchanged (the stored layout is kept), by one output array only;
//  - the bytes of it that no output array takes (such as the input's node sets at the end
//    of its last block) are at most an eighth of its raw length or 1 MiB, the larger;
//  - the writer could have made it under the output's stream limit: its raw length less
//    its last run is below the limit.
// Adopted blocks come first in the output's heavy data, input by input in input order and
// in their input's order; each keeps its input's stored bytes, so the bytes no array takes
// go along. An array taken from an adopted block lies at the block's position in the
// output's stream plus its offset inside the block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "kiv/rkf/copied_block_check.hpp"
#include "kiv/rkf/index_reader.hpp"

namespace KivRkf {
class IndexWriter;
class RkFile;
}  // namespace KivRkf

namespace KivMox {

class Geometry;
struct GeometryArray;
class ProgressListener;

struct AdoptedRun {
  GeometryArray* array = nullptr;
  std::uint64_t offset = 0;  // inside the block
};

struct AdoptedBlock {
  std::shared_ptr<KivRkf::RkFile> file;
  KivRkf::StoredBlock stored;
  std::vector<AdoptedRun> runs;
  std::uint64_t runsEnd = 0;  // the end of the last run inside the block
  // Other bytes of the block that the save needs (node sets): copied out by the check.
  std::vector<KivRkf::CheckedBytes> keep;
};

// The blocks a save adopts, in the order it writes them.
struct AdoptionPlan {
  std::vector<AdoptedBlock> blocks;
  std::uint64_t rawBytes = 0;
  std::uint64_t storedBytes = 0;
  std::uint64_t runBytes = 0;  // of the arrays taken from them
};

// Chooses the blocks to adopt among those that the arrays of geometries (in tree order)
// are loaded from; outputLimit is the output stream's block size limit.
AdoptionPlan PlanAdoption(const std::vector<Geometry*>& geometries, const std::string& heavy,
                          std::uint32_t outputLimit);

// Copies the planned blocks to the end of the output's stream heavy, gives their arrays
// their output positions (marking them adopted), and checks every copied block from the
// output file's bytes (KivRkf::CopiedBlockCheck) before it returns, filling each block's keep.
// Progress counts the stream's size against total.
void AdoptBlocks(AdoptionPlan& plan, KivRkf::IndexWriter& output, std::FILE* stream,
                 const std::string& heavy, ProgressListener* progress, std::uint64_t total);

}  // namespace KivMox
