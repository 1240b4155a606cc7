// Sample part meshes and fields (sample_mesh.hpp). Values are 32-bit words in the
// array's own buffer: floats by their bit pattern, node indices as integers.
#include "sample/sample_mesh.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "sample/sample_random.hpp"

namespace MoxSample {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Bytes per node of a part with s steps (coordinates, mode shape, elements, results).
double BytesPerNode(std::uint32_t steps) {
  return 12.0 + 12.0 + 20.0 + 16.0 * steps;
}

PartGrid GridOfNodes(double nodes, std::uint32_t steps) {
  PartGrid grid;
  nodes = std::clamp(nodes, 6.0, static_cast<double>(kMaxSampleNodes));
  const double columns = std::max(2.0, std::round(std::sqrt(nodes)));
  grid.columns = static_cast<std::uint32_t>(columns);
  grid.rows = static_cast<std::uint32_t>(std::max(3.0, std::round(nodes / columns)));
  grid.steps = steps;
  return grid;
}

// An array of count values of the given components, with its buffer allocated.
KivMox::NumericArray NewArray(std::uint64_t count, std::uint8_t components, std::uint32_t*& words) {
  KivMox::NumericArray array;
  array.componentCount = components;
  words = reinterpret_cast<std::uint32_t*>(array.Allocate(count * 4));
  return array;
}

void PutFloat(std::uint32_t*& out, float value) {
  *out++ = std::bit_cast<std::uint32_t>(value);
}

}  // namespace

std::uint64_t PartGrid::HeavyBytes() const {
  const std::uint64_t n = Nodes();
  return 12 * n + 12 * n + 16 * Quads() + 12 * Triangles() + std::uint64_t{steps} * 16 * n;
}

PartGrid PlanPartGrid(double partBytes) {
  const double nodes = partBytes / BytesPerNode(2);
  if (nodes >= static_cast<double>(kMaxSampleNodes)) {
    PartGrid grid = GridOfNodes(static_cast<double>(kMaxSampleNodes), 0);
    const double rest = partBytes - static_cast<double>(grid.HeavyBytes());
    grid.steps = static_cast<std::uint32_t>(
        std::max(2.0, std::round(rest / (16.0 * static_cast<double>(grid.Nodes())))));
    return grid;
  }
  // The element arrays make the bytes per node of small grids differ from the estimate:
  // one correction with the bytes of the first guess.
  PartGrid grid = GridOfNodes(nodes, 2);
  const double scale = partBytes / static_cast<double>(grid.HeavyBytes());
  return GridOfNodes(static_cast<double>(grid.Nodes()) * scale, 2);
}

PartFields::PartFields(const PartGrid& grid, float originX, SampleRandom& random)
    : grid_(grid), originX_(originX) {
  length_ = random.RangeF(80.0f, 160.0f);
  width_ = random.RangeF(40.0f, 90.0f);
  camber_ = random.RangeF(2.0f, 12.0f);
  for (auto& pair : waves_) {
    float weight = 0.6f;
    for (Wave& w : pair) {
      w.ax = random.RangeF(0.5f, 3.0f) * kPi / length_;
      w.ay = random.RangeF(0.5f, 3.0f) * kPi / width_;
      w.phase = random.RangeF(0.0f, 2.0f * kPi);
      w.weight = weight;
      weight = 0.4f;
    }
  }
  modeU_ = random.Between(1, 3);
  modeV_ = random.Between(1, 3);
  frequency_ = random.RangeF(20.0f, 400.0f);
  basis_.resize(grid_.Nodes());
  for (std::uint64_t node = 0; node < basis_.size(); ++node) {
    const auto p = Position(node);
    for (std::size_t k = 0; k < 3; ++k) basis_[node][k] = Basis(k, p[0] - originX_, p[1]);
  }
}

std::array<float, 3> PartFields::Position(std::uint64_t node) const {
  const float u = static_cast<float>(node % grid_.columns) / static_cast<float>(grid_.columns - 1);
  const float v = static_cast<float>(node / grid_.columns) / static_cast<float>(grid_.rows - 1);
  const float z = camber_ * std::sin(kPi * u) * std::sin(kPi * v);
  return {originX_ + length_ * u, width_ * v, z};
}

float PartFields::Basis(std::size_t k, float x, float y) const {
  float sum = 0;
  for (std::size_t i = 0; i < 2; ++i) {
    const Wave& w = waves_[k][i];
    const float arg = w.ax * x + w.ay * y + w.phase;
    sum += w.weight * (i == 0 ? std::sin(arg) : std::cos(arg));
  }
  return sum;
}

float PartFields::Load(std::uint32_t step) const {
  const float t = static_cast<float>(step + 1) / static_cast<float>(grid_.steps);
  return std::sin(0.5f * kPi * t);
}

KivMox::NumericArray PartFields::Coordinates() const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(3 * grid_.Nodes(), 3, out);
  for (std::uint64_t node = 0; node < grid_.Nodes(); ++node)
    for (float c : Position(node)) PutFloat(out, c);
  return array;
}

KivMox::NumericArray PartFields::Quadrilaterals() const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(4 * grid_.Quads(), 4, out);
  const std::uint32_t columns = grid_.columns;
  for (std::uint32_t row = 0; row < grid_.QuadRows(); ++row)
    for (std::uint32_t column = 0; column + 1 < columns; ++column) {
      const std::uint32_t first = row * columns + column;
      for (std::uint32_t corner : {first, first + 1, first + columns + 1, first + columns})
        *out++ = corner;
    }
  return array;
}

KivMox::NumericArray PartFields::Triangles() const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(3 * grid_.Triangles(), 3, out);
  const std::uint32_t columns = grid_.columns;
  for (std::uint32_t row = grid_.QuadRows(); row + 1 < grid_.rows; ++row)
    for (std::uint32_t column = 0; column + 1 < columns; ++column) {
      const std::uint32_t first = row * columns + column;
      for (std::uint32_t corner : {first, first + 1, first + columns + 1}) *out++ = corner;
      for (std::uint32_t corner : {first, first + columns + 1, first + columns}) *out++ = corner;
    }
  return array;
}

KivMox::NumericArray PartFields::Displacement(std::uint32_t step) const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(3 * grid_.Nodes(), 3, out);
  const float load = Load(step);
  for (const auto& b : basis_) {
    PutFloat(out, load * 0.3f * b[1]);
    PutFloat(out, load * 0.2f * b[2]);
    PutFloat(out, load * b[0] + 0.1f * load * load * b[2]);
  }
  return array;
}

KivMox::NumericArray PartFields::Stress(std::uint32_t step) const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(grid_.Nodes(), 1, out);
  const float load = Load(step);
  for (const auto& b : basis_)
    PutFloat(out, 20.0f + 80.0f * load * (1.2f + 0.6f * b[0] + 0.3f * b[2]));
  return array;
}

KivMox::NumericArray PartFields::ModeShape() const {
  std::uint32_t* out = nullptr;
  KivMox::NumericArray array = NewArray(3 * grid_.Nodes(), 3, out);
  for (std::uint64_t node = 0; node < grid_.Nodes(); ++node) {
    const float u =
        static_cast<float>(node % grid_.columns) / static_cast<float>(grid_.columns - 1);
    const float v = static_cast<float>(node / grid_.columns) / static_cast<float>(grid_.rows - 1);
    const float su = std::sin(kPi * static_cast<float>(modeU_) * u);
    const float sv = std::sin(kPi * static_cast<float>(modeV_) * v);
    PutFloat(out, 0.05f * std::cos(kPi * u) * sv);
    PutFloat(out, 0.05f * su * std::cos(kPi * v));
    PutFloat(out, su * sv);
  }
  return array;
}

}  // namespace MoxSample
