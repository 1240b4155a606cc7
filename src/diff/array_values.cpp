// Comparison of array values (array_values.hpp).
#include "diff/array_values.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <future>

#include "kiv/log/raise.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/rkf/spare_buffers.hpp"
#include "kiv/util/display_text.hpp"
#include "kiv/util/exception.hpp"

namespace MoxDiff {

namespace {

double ValueOf(std::uint32_t word, bool integers) {
  if (integers) return static_cast<std::int32_t>(word);
  return FloatOf(word);
}

// The values of one array: its run as stored, read in place through its loader, or the
// values a load put in memory at once. Stored runs are decoded only when their bytes differ,
// into a buffer kept from array to array.
struct Values {
  KivRkf::SpareBuffer buffer;
  const std::uint8_t* stored = nullptr;
  std::uint8_t components = 0;  // of the stored run
  const std::uint8_t* decoded = nullptr;
  std::uint64_t count = 0;

  void Read(const KivMox::GeometryArray& array, const std::string& side) {
    stored = decoded = nullptr, count = 0;
    try {
      const KivMox::NumericArray& data = array.data;
      if (data.loader) {
        KivMox::DataLoader& loader = *data.loader;
        loader.CheckValueKind(array.IsConnectivity());
        if (loader.byteSize < 4) return;
        KIV_CHECK(loader.byteSize % 4 == 0, ReadError, "The byte size is not a multiple of 4",
                  "MoxDiff::CompareArrayValues");
        stored = loader.TakeRun();
        components = loader.StoredComponents();
        count = loader.byteSize / 4;
      } else if (data.HasBytes()) {
        decoded = data.Bytes(), count = data.byteSize / 4;
      }
    } catch (const std::exception& e) {
      throw DiffTrouble(side + ": the values of array " + Kiv::Util::Quoted(array.name) +
                        " cannot be read: " + Kiv::Util::DescriptionOf(e));
    }
  }

  const std::uint8_t* Decoded(const std::string& side) {
    if (decoded || !stored) return decoded;
    std::uint8_t* out = buffer.Room(count * 4);
    if (!out)
      throw DiffTrouble(side + ": no memory to decode " + std::to_string(count) + " values");
    KivMox::DecodeComponents(stored, out, count * 4, components);
    return decoded = out;
  }
};

// Runs stored alike (the same count and component count) hold equal values exactly when
// their bytes are equal.
bool StoredAlike(const Values& left, const Values& right) {
  return left.stored && right.stored && left.count == right.count &&
         left.components == right.components &&
         std::memcmp(left.stored, right.stored, left.count * 4) == 0;
}

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
  // Equal bits are equal values under every rule: most pairs end here.
  if (std::memcmp(left, right, n * 4) == 0) return result;
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
  Values left, right;  // their buffers live until the last pair is done
  for (const ArrayPair& pair : pairs) {
    // The two files are read side by side: each has its own index and open file.
    auto leftRead = std::async(std::launch::async, [&] { left.Read(*pair.left, leftSide); });
    right.Read(*pair.right, rightSide);
    leftRead.get();
    const std::uint64_t n = std::min(left.count, right.count);
    if (n == 0) continue;
    valuesCompared += n;
    if (StoredAlike(left, right)) continue;
    ArrayValueDiff diff = CompareValues(left.Decoded(leftSide), right.Decoded(rightSide), n,
                                        pair.left->IsConnectivity(), tolerance);
    if (diff.differing == 0) continue;
    diff.index = pair.index;
    diff.name = Kiv::Util::DisplayText(pair.left->name);
    found(pair, std::move(diff));
  }
}

}  // namespace MoxDiff
