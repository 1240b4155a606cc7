// The mesh and result values of one part of the sample model: a curved plate of
// columns x rows nodes (node index = row * columns + column). The lower half of its
// cell rows is meshed with quadrilaterals, the upper half with two triangles per cell;
// element corners are 0-based node indices. Result fields are sums of sines and cosines
// over the node coordinates, so neighbouring nodes hold close values, as in a real
// analysis. Every array is written straight into its own buffer, value by value.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "kiv/mox/numeric_array.hpp"

namespace MoxSample {

class SampleRandom;

// No array of the sample is larger than this, so that the blocks of a stream stay well
// within the default stream block limit.
inline constexpr std::uint64_t kMaxSampleArrayBytes = 64ull << 20;
// 12 bytes per node (3 floats) for the largest arrays keep them below the limit.
inline constexpr std::uint64_t kMaxSampleNodes = 5000000;

struct PartGrid {
  std::uint32_t columns = 2;  // at least 2
  std::uint32_t rows = 3;     // at least 3: one quadrilateral and one triangle row
  std::uint32_t steps = 1;    // result steps, each a displacement and a stress array

  std::uint64_t Nodes() const { return std::uint64_t{columns} * rows; }
  std::uint32_t QuadRows() const { return (rows - 1) / 2; }
  std::uint64_t Quads() const { return std::uint64_t{columns - 1} * QuadRows(); }
  std::uint64_t Triangles() const { return 2ull * (columns - 1) * (rows - 1 - QuadRows()); }
  // Bytes of all array values of the part (linked arrays hold none of their own).
  std::uint64_t HeavyBytes() const;
};

// The grid whose arrays hold about partBytes bytes: two result steps while the nodes fit
// under kMaxSampleNodes, and more steps on the largest grid beyond that.
PartGrid PlanPartGrid(double partBytes);

// The geometry and the smooth fields of one part; creating it draws its shape from
// random, and every array is a function of that shape alone.
class PartFields {
 public:
  PartFields(const PartGrid& grid, float originX, SampleRandom& random);

  KivMox::NumericArray Coordinates() const;                     // 3 components
  KivMox::NumericArray Quadrilaterals() const;                  // 4 node indices per element
  KivMox::NumericArray Triangles() const;                       // 3 node indices per element
  KivMox::NumericArray Displacement(std::uint32_t step) const;  // 3 components
  KivMox::NumericArray Stress(std::uint32_t step) const;        // 1 component
  KivMox::NumericArray ModeShape() const;                       // 3 components
  float Frequency() const { return frequency_; }

 private:
  struct Wave {
    float ax, ay, phase, weight;
  };
  std::array<float, 3> Position(std::uint64_t node) const;
  float Basis(std::size_t k, float x, float y) const;
  // Load factor of a step, rising from the first step to the last.
  float Load(std::uint32_t step) const;

  PartGrid grid_;
  float originX_;
  float length_;
  float width_;
  float camber_;
  std::array<std::array<Wave, 2>, 3> waves_;
  std::uint32_t modeU_;
  std::uint32_t modeV_;
  float frequency_;
  // The three basis fields at every node, computed once for all steps.
  std::vector<std::array<float, 3>> basis_;
};

}  // namespace MoxSample
