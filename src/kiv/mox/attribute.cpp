// Attribute maps in "Attributes": six lists in the map's key order
//   vector<string> names, vector<u8> type codes (0 Int32, 1 Float32, 2 Text, 3 Value64),
//   vector<u32> Int32 values, vector<u32> Float32 bits, vector<u64> Value64 values,
//   vector<string> texts.
// The reader pairs name i with type code i and the next unused value of that type's list.
#include "kiv/mox/attribute.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "kiv/log/raise.hpp"
#include "kiv/rkf/index_reader.hpp"
#include "kiv/rkf/index_writer.hpp"

namespace KivMox {

namespace {

constexpr const char* kReadMethod = "KivMox::ReadAttributeMap";
constexpr std::size_t kMaxText = 255;

struct AttributeLists {
  std::vector<std::string> names;
  std::vector<std::uint8_t> types;
  std::vector<std::uint32_t> ints;
  std::vector<std::uint32_t> floats;
  std::vector<std::uint64_t> values64;
  std::vector<std::string> texts;
};

// A text attribute holds at most 255 bytes, up to its first zero byte.
void SetText(Attribute& a, const std::string& v) {
  a.text.assign(v.data(), strnlen(v.data(), std::min(v.size(), kMaxText)));
}

// Fails with code 9 unless every type code is known and the value lists hold exactly
// one value per attribute of their type.
void CheckLists(const AttributeLists& l) {
  KIV_CHECK(l.names.size() == l.types.size(), ReadError,
            "The attribute names and type codes do not agree", kReadMethod);
  std::array<std::size_t, 4> perType = {};
  for (std::uint8_t code : l.types) {
    if (code > 3)
      KIV_RAISE(ReadError, "Unknown attribute type code " + std::to_string(code), kReadMethod);
    ++perType[code];
  }
  KIV_CHECK(perType[0] == l.ints.size() && perType[1] == l.floats.size() &&
                perType[2] == l.texts.size() && perType[3] == l.values64.size(),
            ReadError, "The attribute values do not agree with their type codes", kReadMethod);
}

}  // namespace

Attribute Attribute::MakeInt(std::int32_t v) {
  Attribute a;
  a.type = AttributeType::Int32;
  a.int32 = v;
  return a;
}

Attribute Attribute::MakeFloat(float v) {
  Attribute a;
  a.type = AttributeType::Float32;
  a.float32 = v;
  return a;
}

Attribute Attribute::MakeText(const std::string& v) {
  Attribute a;
  a.type = AttributeType::Text;
  SetText(a, v);
  return a;
}

Attribute Attribute::MakeValue64(std::uint64_t v) {
  Attribute a;
  a.type = AttributeType::Value64;
  a.value64 = v;
  return a;
}

bool Attribute::operator==(const Attribute& other) const {
  if (type != other.type) return false;
  switch (type) {
    case AttributeType::Int32:
      return int32 == other.int32;
    case AttributeType::Float32:
      return std::bit_cast<std::uint32_t>(float32) == std::bit_cast<std::uint32_t>(other.float32);
    case AttributeType::Text:
      return text == other.text;
    case AttributeType::Value64:
      return value64 == other.value64;
  }
  return false;
}

void WriteAttributeMap(KivRkf::IndexWriter& index, const std::string& section,
                       const AttributeMap& map) {
  AttributeLists l;
  for (const auto& [name, a] : map) {
    l.names.push_back(name);
    l.types.push_back(static_cast<std::uint8_t>(a.type));
    switch (a.type) {
      case AttributeType::Int32:
        l.ints.push_back(static_cast<std::uint32_t>(a.int32));
        break;
      case AttributeType::Float32:
        l.floats.push_back(std::bit_cast<std::uint32_t>(a.float32));
        break;
      case AttributeType::Text:
        l.texts.push_back(a.text);
        break;
      case AttributeType::Value64:
        l.values64.push_back(a.value64);
        break;
    }
  }
  index.Put(section, l.names);
  index.Put(section, l.types);
  index.Put(section, l.ints);
  index.Put(section, l.floats);
  index.Put(section, l.values64);
  index.Put(section, l.texts);
}

void ReadAttributeMap(KivRkf::IndexReader& index, const std::string& section, AttributeMap& map) {
  AttributeLists l;
  index.Get(section, l.names);
  index.Get(section, l.types);
  index.Get(section, l.ints);
  index.Get(section, l.floats);
  index.Get(section, l.values64);
  index.Get(section, l.texts);
  CheckLists(l);
  std::array<std::size_t, 4> next = {};
  for (std::size_t i = 0; i < l.names.size(); ++i) {
    Attribute a;
    a.type = static_cast<AttributeType>(l.types[i]);
    std::size_t& k = next[l.types[i]];
    switch (a.type) {
      case AttributeType::Int32:
        a.int32 = static_cast<std::int32_t>(l.ints[k]);
        break;
      case AttributeType::Float32:
        a.float32 = std::bit_cast<float>(l.floats[k]);
        break;
      case AttributeType::Text:
        SetText(a, l.texts[k]);
        break;
      case AttributeType::Value64:
        a.value64 = l.values64[k];
        break;
    }
    ++k;
    map.insert({l.names[i], a});
  }
}

}  // namespace KivMox
