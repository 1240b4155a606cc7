// Comparison of array values (array_values.hpp).
#include "diff/array_values.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <future>

#include <xxh3.h>

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
    if (components == 0) return decoded = stored;  // stored as they are
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

using SideOf = const KivMox::GeometryArray* ArrayPair::*;

std::uint64_t StoragePosition(const KivMox::GeometryArray& array) {
  // Values already in memory first: they need no reading.
  const auto& loader = array.data.loader;
  return loader ? loader->position + 1 : 0;
}

// The pairs' indices in the order one side stores their values.
std::vector<std::size_t> StoredOrder(const std::vector<ArrayPair>& pairs, SideOf side) {
  std::vector<std::size_t> order(pairs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return StoragePosition(*(pairs[a].*side)) < StoragePosition(*(pairs[b].*side));
  });
  return order;
}

// Whether the right file stores the values of pairs in the left file's order (pairs in
// that order): then reading both side by side goes through each file front to back.
bool StoredInLeftOrder(const std::vector<ArrayPair>& pairs) {
  std::uint64_t last = 0;
  for (const ArrayPair& pair : pairs) {
    const std::uint64_t position = StoragePosition(*pair.right);
    if (position == 0) continue;
    if (position < last) return false;
    last = position;
  }
  return true;
}

// An array's values as their decoded 32-bit words, digested: equal digests of equal
// counts are taken as equal bits, whatever the encoding and component count of the runs.
struct Digest {
  std::uint64_t count = 0;
  XXH128_hash_t hash{0, 0};
  bool operator==(const Digest& other) const {
    return count == other.count && XXH128_isEqual(hash, other.hash);
  }
};

// The digests of one side's arrays of pairs, read in the order that side stores them, so
// that its file is read front to back once, one array at a time.
std::vector<Digest> DigestValues(const std::vector<ArrayPair>& pairs, SideOf side,
                                 const std::string& name) {
  std::vector<Digest> digests(pairs.size());
  Values values;
  for (std::size_t i : StoredOrder(pairs, side)) {
    values.Read(*(pairs[i].*side), name);
    if (values.count == 0) continue;
    digests[i] = {values.count, XXH3_128bits(values.Decoded(name), values.count * 4)};
  }
  return digests;
}

// For each pair, the number of its values known to hold equal bits on both sides, found from
// digests when the right file stores its arrays in another order than the left; 0 for the
// pairs left to read side by side (all of them when the orders agree).
std::vector<std::uint64_t> EqualByDigest(const std::vector<ArrayPair>& pairs,
                                         const std::string& leftSide,
                                         const std::string& rightSide) {
  std::vector<std::uint64_t> equal(pairs.size(), 0);
  if (StoredInLeftOrder(pairs)) return equal;
  std::vector<Digest> left;
  auto leftDigests = std::async(std::launch::async,
                                [&] { left = DigestValues(pairs, &ArrayPair::left, leftSide); });
  const std::vector<Digest> right = DigestValues(pairs, &ArrayPair::right, rightSide);
  leftDigests.get();
  for (std::size_t i = 0; i < pairs.size(); ++i)
    if (left[i] == right[i]) equal[i] = left[i].count;
  return equal;
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
    return StoragePosition(*a.left) < StoragePosition(*b.left);
  });
  const std::vector<std::uint64_t> equalValues = EqualByDigest(pairs, leftSide, rightSide);
  Values left, right;  // their buffers live until the last pair is done
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ArrayPair& pair = pairs[i];
    if (equalValues[i]) {
      valuesCompared += equalValues[i];
      continue;
    }
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
