// Comparison of floating-point values (tolerance.hpp).
#include "diff/tolerance.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace MoxDiff {

std::uint32_t BitsOf(float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, 4);
  return bits;
}

float FloatOf(std::uint32_t bits) {
  float value = 0;
  std::memcpy(&value, &bits, 4);
  return value;
}

bool FloatsEqual(float a, float b, const Tolerance& tolerance) {
  if (!tolerance.given) return BitsOf(a) == BitsOf(b);
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b)) return a == b;
  // In double: the difference of two large floats can exceed the float range.
  const double d = std::fabs(double{a} - double{b});
  const double larger = std::max(std::fabs(double{a}), std::fabs(double{b}));
  return d <= tolerance.absolute || d <= tolerance.relative * larger;
}

double AbsoluteDifference(double a, double b) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : kInfinity;
  if (a == b) return 0;
  return std::fabs(a - b);
}

double RelativeDifference(double a, double b) {
  const double d = AbsoluteDifference(a, b);
  if (d == 0 || std::isinf(d)) return d;
  return d / std::max(std::fabs(a), std::fabs(b));
}

}  // namespace MoxDiff
