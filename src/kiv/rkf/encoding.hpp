// Typed value encoding: the only code that knows byte order and widths.
//
//   number / bool / enum     natural width, little-endian (a bool as 0 or 1)
//   std::array<number, N>    the N elements, no count
//   byte string              u32 count n, then n bytes (reading cuts at the first NUL)
//   wide string              as the byte string of its UTF-8 form
//   std::vector<T>           u32 count n, then n values of T
//   std::map<K, V>           u32 count n, then n (key, value) pairs in key order
//   std::pair<A, B>          A then B
//
// Every count read from a block is checked against the bytes left in the block before
// anything is allocated, so a hostile count fails with "Not enough bytes in the block".
// Record types add their own Codec specialisation with the same two members and a
// kMinSize (the fewest bytes one value can take).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace KivRkf {

static_assert(std::endian::native == std::endian::little,
              "the encoding assumes a little-endian host");

class Block;

std::string WideToUtf8(const std::wstring& text);
// Invalid UTF-8 gives the empty wide string.
std::wstring Utf8ToWide(const std::string& text);

// Fails with code 1 "Not enough bytes in the block" unless count values of at least
// minSize bytes each can still be read from the block.
void CheckCount(const Block& block, std::uint64_t count, std::uint64_t minSize);

// Whether the versioned records among the values read carry their size field
// (versioned.hpp): they do in every container but those of the legacy versions.
enum class SizeField : std::uint8_t { Stored, Absent };

// Reads one value; the codecs of values that may hold versioned records take sizes.
template <class T>
void GetValue(Block& b, T& v, SizeField sizes) {
  if constexpr (requires { Codec<T>::Get(b, v, sizes); })
    Codec<T>::Get(b, v, sizes);
  else
    Codec<T>::Get(b, v);
}

template <class T>
inline constexpr bool kIsPlainNumber = (std::is_arithmetic_v<T> ||
                                        std::is_enum_v<T>)&&!std::is_same_v<T, bool>;

template <class T>
struct Codec<T, std::enable_if_t<kIsPlainNumber<T>>> {
  static constexpr std::uint32_t kMinSize = sizeof(T);
  static void Put(Block& b, const T& v) { b.Put(&v, sizeof(T)); }
  static void Get(Block& b, T& v) { b.Get(&v, sizeof(T)); }
};

template <>
struct Codec<bool> {
  static constexpr std::uint32_t kMinSize = 1;
  static void Put(Block& b, const bool& v) {
    std::uint8_t x = v ? 1 : 0;
    b.Put(&x, 1);
  }
  static void Get(Block& b, bool& v) {
    std::uint8_t x = 0;
    b.Get(&x, 1);
    v = x != 0;
  }
};

template <class T, std::size_t N>
struct Codec<std::array<T, N>, std::enable_if_t<kIsPlainNumber<T>>> {
  static constexpr std::uint32_t kMinSize = sizeof(T) * N;
  static void Put(Block& b, const std::array<T, N>& v) { b.Put(v.data(), sizeof(T) * N); }
  static void Get(Block& b, std::array<T, N>& v) { b.Get(v.data(), sizeof(T) * N); }
};

template <>
struct Codec<std::string> {
  static constexpr std::uint32_t kMinSize = 4;
  static void Put(Block& b, const std::string& v);
  static void Get(Block& b, std::string& v);
};

template <>
struct Codec<std::wstring> {
  static constexpr std::uint32_t kMinSize = 4;
  static void Put(Block& b, const std::wstring& v) { Codec<std::string>::Put(b, WideToUtf8(v)); }
  static void Get(Block& b, std::wstring& v) {
    std::string s;
    Codec<std::string>::Get(b, s);
    v = Utf8ToWide(s);
  }
};

template <class A, class B>
struct Codec<std::pair<A, B>> {
  static constexpr std::uint32_t kMinSize = Codec<A>::kMinSize + Codec<B>::kMinSize;
  static void Put(Block& b, const std::pair<A, B>& v) {
    Codec<A>::Put(b, v.first);
    Codec<B>::Put(b, v.second);
  }
  static void Get(Block& b, std::pair<A, B>& v, SizeField sizes = SizeField::Stored) {
    GetValue(b, v.first, sizes);
    GetValue(b, v.second, sizes);
  }
};

template <class T>
struct Codec<std::vector<T>> {
  static constexpr std::uint32_t kMinSize = 4;
  static void Put(Block& b, const std::vector<T>& v) {
    auto n = static_cast<std::uint32_t>(v.size());
    Codec<std::uint32_t>::Put(b, n);
    if constexpr (kIsPlainNumber<T>) {
      if (n) b.Put(v.data(), static_cast<std::uint32_t>(n * sizeof(T)));
    } else {
      for (const auto& e : v) Codec<T>::Put(b, e);
    }
  }
  static void Get(Block& b, std::vector<T>& v, SizeField sizes = SizeField::Stored) {
    std::uint32_t n = 0;
    Codec<std::uint32_t>::Get(b, n);
    if (n == 0) {
      v.clear();
      return;
    }
    CheckCount(b, n, Codec<T>::kMinSize);
    v.resize(n);
    if constexpr (kIsPlainNumber<T>) {
      b.Get(v.data(), static_cast<std::uint32_t>(n * sizeof(T)));
    } else {
      for (auto& e : v) GetValue(b, e, sizes);
    }
  }
};

template <class K, class V, class C>
struct Codec<std::map<K, V, C>> {
  static constexpr std::uint32_t kMinSize = 4;
  static void Put(Block& b, const std::map<K, V, C>& m) {
    Codec<std::uint32_t>::Put(b, static_cast<std::uint32_t>(m.size()));
    for (const auto& [k, v] : m) {
      Codec<K>::Put(b, k);
      Codec<V>::Put(b, v);
    }
  }
  static void Get(Block& b, std::map<K, V, C>& m, SizeField sizes = SizeField::Stored) {
    std::uint32_t n = 0;
    Codec<std::uint32_t>::Get(b, n);
    m.clear();
    CheckCount(b, n, std::uint64_t(Codec<K>::kMinSize) + Codec<V>::kMinSize);
    for (std::uint32_t i = 0; i < n; ++i) {
      K key{};
      V value{};
      GetValue(b, key, sizes);
      GetValue(b, value, sizes);
      m[std::move(key)] = std::move(value);
    }
  }
};

}  // namespace KivRkf
