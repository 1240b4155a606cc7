// The random source of the sample model generator: std::mt19937_64, whose output
// sequence is fixed for a seed on every platform, and distributions written here (the
// standard ones may differ between libraries), so one seed gives one model everywhere.
#pragma once

#include <cstdint>
#include <random>

namespace MoxSample {

class SampleRandom {
 public:
  explicit SampleRandom(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t Next() { return engine_(); }
  // Uniform in [0, 1), from the top 53 bits of one draw.
  double Unit();
  // Uniform in [low, high).
  double Range(double low, double high) { return low + (high - low) * Unit(); }
  float RangeF(float low, float high) { return static_cast<float>(Range(low, high)); }
  // Uniform in [0, n) without bias (rejection of the incomplete last cycle); n > 0.
  std::uint64_t Below(std::uint64_t n);
  // Uniform in [low, high], both included; low <= high.
  std::uint32_t Between(std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(Below(std::uint64_t{high} - low + 1));
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace MoxSample
