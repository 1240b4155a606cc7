// The "Heavy Data" of a file checked in one pass: its blocks inflated in stream order, each
// once, and every record that lies in them (the stored run of each array, the member lists
// of each node-set node) checked from those bytes as they go by, so that at most one block
// and one record are held at a time.
#pragma once

#include <cstdint>

namespace KivRkf {
class IndexReader;
}
namespace KivMox {
class Tree;
}

namespace MoxTools {

struct CheckReport;

// The tree was read with Tree::ReadNodesForCheck (heavy positions still recorded); fd is the
// open file of fileSize bytes whose table index holds; recordsWhole when the whole tree
// was read (else the bytes no record references are not counted).
void CheckHeavyData(KivRkf::IndexReader& index, int fd, std::uint64_t fileSize, KivMox::Tree& tree,
                    bool recordsWhole, CheckReport& report);

}  // namespace MoxTools
