// The orders of heavy data. A file is read in the order it stores its arrays, whatever
// order its tree lists them in, so that each block is inflated once and then left behind.
// A save writes the arrays it writes anew input by input: each input is then read once,
// front to back, holding one inflated block of it at a time, however many inputs a
// merge has and however their arrays are spread over the output's geometries.
#pragma once

#include <cstdint>
#include <vector>

namespace KivRkf {
class IndexReader;
}  // namespace KivRkf

namespace KivMox {

class Geometry;
struct GeometryArray;

// The arrays of geometries that have a recorded heavy position and are not linked, by
// that position; arrays of one position keep tree order.
std::vector<GeometryArray*> StoredOrder(const std::vector<Geometry*>& geometries);

// The arrays a save writes anew (neither linked nor adopted). First those read from
// inputs, input by input in the order in which the geometries (in tree order) first take
// an array from each input, each input's by their position in it; an array whose values
// come from another array's run is placed by that run. Then the arrays whose values are
// in memory, connectivity arrays first, each kind in tree order.
std::vector<GeometryArray*> WriteOrder(const std::vector<Geometry*>& geometries);

// Publishes the level-1000 record "Heavy data blocks inflated: N (of M)": N counts every
// inflation of a "Heavy Data" block of the files read (plus checked, the blocks inflated
// elsewhere, such as adopted blocks checked in the output), M their "Heavy Data" blocks.
void LogHeavyInflations(const char* method, const std::vector<const KivRkf::IndexReader*>& files,
                        std::uint64_t checked = 0);

}  // namespace KivMox
