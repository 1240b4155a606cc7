// Distributions over std::mt19937_64 draws (sample_random.hpp).
#include "sample/sample_random.hpp"

namespace MoxSample {

double SampleRandom::Unit() {
  constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;
  return static_cast<double>(Next() >> 11) * kTwoToMinus53;
}

std::uint64_t SampleRandom::Below(std::uint64_t n) {
  // Draws at or above the largest multiple of n would favour the small results.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  std::uint64_t draw = Next();
  while (draw >= limit) draw = Next();
  return draw % n;
}

}  // namespace MoxSample
