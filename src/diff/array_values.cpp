// Comparison of array values (array_values.hpp).
#include "diff/array_values.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "info/display_text.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"

namespace MoxDiff {

namespace {

double ValueOf(std::uint32_t word, bool integers) {
  if (integers) return static_cast<std::int32_t>(word);
  return FloatOf(word);
}

// The values of one array as loaded: read through its loader into the vector of its
// kind, or left where a load put them at once.
struct Values {
  std::vector<float> floats;
  std::vector<std::int32_t> integers;
  const std::uint8_t* bytes = nullptr;
  std::uint64_t count = 0;

  void Read(const KivMox::GeometryArray& array, const std::string& side) {
    Release();
    try {
      const KivMox::NumericArray& data = array.data;
      if (data.loader && array.IsConnectivity()) {
        data.loader->LoadTo(integers);
        bytes = reinterpret_cast<const std::uint8_t*>(integers.data()), count = integers.size();
      } else if (data.loader) {
        data.loader->LoadTo(floats);
        bytes = reinterpret_cast<const std::uint8_t*>(floats.data()), count = floats.size();
      } else if (data.HasBytes()) {
        bytes = data.Bytes(), count = data.byteSize / 4;
      }
    } catch (const std::exception& e) {
      throw DiffTrouble(side + ": the values of array " + MoxInfo::Quoted(array.name) +
                        " cannot be read: " + e.what());
    }
  }
  // Frees the values of the previous array before the next one is read.
  void Release() {
    std::vector<float>().swap(floats);
    std::vector<std::int32_t>().swap(integers);
    bytes = nullptr, count = 0;
  }
};

std::uint32_t WordAt(const std::uint8_t* bytes, std::uint64_t i) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes + 4 * i, 4);
  return word;
}

std::uint64_t StoragePosition(const ArrayPair& pair) {
  // Values already in memory first: they need no reading.
  const auto& loader = pair.left->data.loader;
  return loader ? loader->position + 1 : 0;
}

}  // namespace

ArrayValueDiff CompareValues(const std::uint8_t* left, const std::uint8_t* right, std::uint64_t n,
                             bool integers, const Tolerance& tolerance) {
  ArrayValueDiff result;
  result.integers = integers;
  result.compared = n;
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint32_t l = WordAt(left, i), r = WordAt(right, i);
    const bool equal = integers ? l == r : FloatsEqual(FloatOf(l), FloatOf(r), tolerance);
    if (equal) continue;
    const double a = ValueOf(l, integers), b = ValueOf(r, integers);
    result.largestAbsolute = std::max(result.largestAbsolute, AbsoluteDifference(a, b));
    result.largestRelative = std::max(result.largestRelative, RelativeDifference(a, b));
    if (result.first.size() < kShownPlaces) result.first.push_back({i, l, r});
    ++result.differing;
  }
  return result;
}

void CompareArrayValues(std::vector<ArrayPair>& pairs, const Tolerance& tolerance,
                        const std::string& leftSide, const std::string& rightSide,
                        std::uint64_t& valuesCompared,
                        const std::function<void(const ArrayPair&, ArrayValueDiff&&)>& found) {
  std::stable_sort(pairs.begin(), pairs.end(), [](const ArrayPair& a, const ArrayPair& b) {
    return StoragePosition(a) < StoragePosition(b);
  });
  Values left, right;
  for (const ArrayPair& pair : pairs) {
    left.Read(*pair.left, leftSide);
    right.Read(*pair.right, rightSide);
    const std::uint64_t n = std::min(left.count, right.count);
    if (n == 0) continue;
    ArrayValueDiff diff =
        CompareValues(left.bytes, right.bytes, n, pair.left->IsConnectivity(), tolerance);
    valuesCompared += n;
    if (diff.differing == 0) continue;
    diff.index = pair.index;
    diff.name = MoxInfo::DisplayText(pair.left->name);
    found(pair, std::move(diff));
  }
  // Nothing of the last pair is kept.
  left.Release();
  right.Release();
}

}  // namespace MoxDiff
