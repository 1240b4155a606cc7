// The rules by which two floating-point values are equal, and the statistics of an array
// pair whose values differ.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "diff/array_values.hpp"
#include "diff/tolerance.hpp"

namespace {

using MoxDiff::FloatOf;
using MoxDiff::Tolerance;

TEST(FloatsEqual, ToleranceRules) {
  const float nan = FloatOf(0x7FC00000u), otherNan = FloatOf(0x7FC01234u);
  const float inf = std::numeric_limits<float>::infinity();
  const Tolerance bits, zero{0, 0, true};
  const auto abs = [](double x) { return Tolerance{x, 0, true}; };
  const auto rel = [](double y) { return Tolerance{0, y, true}; };
  struct Row {
    const char* what;
    float a, b;
    Tolerance tolerance;
    bool equal;
  } rows[] = {
      {"same bits", 1.5f, 1.5f, bits, true},
      {"bits: -0 and +0 differ", -0.0f, 0.0f, bits, false},
      {"tolerance: -0 equals +0", -0.0f, 0.0f, zero, true},
      {"bits: the same NaN", nan, nan, bits, true},
      {"bits: NaNs of other payloads differ", nan, otherNan, bits, false},
      {"tolerance: NaN equals NaN", nan, otherNan, zero, true},
      {"tolerance: NaN never equals a number", nan, 1.0f, abs(1e300), false},
      {"tolerance: an infinity equals itself", inf, inf, zero, true},
      {"tolerance: not the other infinity", inf, -inf, abs(1e300), false},
      {"tolerance: nor a finite value", inf, 3e38f, abs(1e300), false},
      {"bits: a subnormal is not zero", 1e-40f, 0.0f, bits, false},
      {"absolute: at the limit", 1.0f, 1.5f, abs(0.5), true},
      {"absolute: beyond", 1.0f, 1.5f, abs(0.49), false},
      {"relative: at most 1% of the larger", 100.0f, 101.0f, rel(0.01), true},
      {"relative: beyond", 100.0f, 102.0f, rel(0.01), false},
      {"either limit suffices", 1.0f, 2.0f, {0.5, 0.6, true}, true},
      {"neither suffices", 1.0f, 2.0f, {0.5, 0.4, true}, false},
      {"no overflow of the difference", 3e38f, -3e38f, abs(1e39), true},
      {"bits: a tiny difference counts", 1.0f, std::nextafter(1.0f, 2.0f), bits, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MoxDiff::FloatsEqual(row.a, row.b, row.tolerance), row.equal) << row.what;
    EXPECT_EQ(MoxDiff::FloatsEqual(row.b, row.a, row.tolerance), row.equal) << row.what;
  }
}

TEST(CompareValues, CountsDifferencesAndShowsTheFirstFive) {
  std::vector<float> left(20, 1.0f), right(20, 1.0f);
  for (int i : {3, 5, 7, 9, 11, 13}) right[i] = 1.25f;
  right[17] = 4.0f;  // the largest difference, beyond the places shown
  const auto bytes = [](const std::vector<float>& v) {
    return reinterpret_cast<const std::uint8_t*>(v.data());
  };
  auto diff = MoxDiff::CompareValues(bytes(left), bytes(right), 20, false, {});
  EXPECT_EQ(diff.compared, 20u);
  EXPECT_EQ(diff.differing, 7u);
  EXPECT_EQ(diff.largestAbsolute, 3.0);
  EXPECT_EQ(diff.largestRelative, 0.75);
  ASSERT_EQ(diff.first.size(), 5u);
  EXPECT_EQ(diff.first[4].index, 11u);
  EXPECT_EQ(FloatOf(diff.first[4].right), 1.25f);
  // Within an absolute tolerance of 0.25 only the value at 17 differs.
  diff = MoxDiff::CompareValues(bytes(left), bytes(right), 20, false, {0.25, 0, true});
  EXPECT_EQ(diff.differing, 1u);
  EXPECT_EQ(diff.first.at(0).index, 17u);
  // A NaN against a number is an infinite difference; integers compare exactly.
  right[0] = FloatOf(0x7FC00000u);
  EXPECT_TRUE(
      std::isinf(MoxDiff::CompareValues(bytes(left), bytes(right), 1, false, {}).largestAbsolute));
  // Without a tolerance -0 and +0 differ in their bits, by nothing in value.
  const std::vector<float> zero = {0.0f}, minusZero = {-0.0f};
  diff = MoxDiff::CompareValues(bytes(zero), bytes(minusZero), 1, false, {});
  EXPECT_EQ(diff.differing, 1u);
  EXPECT_EQ(diff.largestAbsolute, 0.0);
  EXPECT_EQ(diff.largestRelative, 0.0);
  const std::int32_t a[] = {5, -7}, b[] = {5, 9};
  diff = MoxDiff::CompareValues(reinterpret_cast<const std::uint8_t*>(a),
                                reinterpret_cast<const std::uint8_t*>(b), 2, true, {1e9, 1, true});
  EXPECT_EQ(diff.differing, 1u);
  EXPECT_EQ(diff.largestAbsolute, 16.0);
}

}  // namespace
