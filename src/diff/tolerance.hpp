// When two floating-point values count as equal. Without a tolerance they must have the
// same bits. With one (either limit given, even 0) a and b are equal when
// |a - b| <= absolute or |a - b| <= relative * max(|a|, |b|); NaN then equals NaN, an
// infinity only the same infinity, and -0 equals +0.
#pragma once

#include <cstdint>

namespace MoxDiff {

struct Tolerance {
  double absolute = 0;
  double relative = 0;
  bool given = false;
};

bool FloatsEqual(float a, float b, const Tolerance& tolerance);

// The size of a difference for the statistics: 0 for two NaNs or equal values, infinity
// when one side is NaN or an infinity and the other is not the same.
double AbsoluteDifference(double a, double b);
// AbsoluteDifference divided by max(|a|, |b|); 0 when both are zero.
double RelativeDifference(double a, double b);

std::uint32_t BitsOf(float value);
float FloatOf(std::uint32_t bits);

}  // namespace MoxDiff
