// Attributes carried by groups and geometry arrays: an ordered map from name to a
// typed value. Stored in "Attributes" as six lists, all in the map's key order:
//   vector<string> names, vector<u8> type codes, vector<u32> Int32 values,
//   vector<u32> Float32 bits, vector<u64> Value64 values, vector<string> texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace KivRkf {
class IndexReader;
class IndexWriter;
}  // namespace KivRkf

namespace KivMox {

enum class AttributeType : std::int32_t { Int32 = 0, Float32 = 1, Text = 2, Value64 = 3 };

struct Attribute {
  AttributeType type = AttributeType::Int32;
  std::int32_t int32 = 0;
  float float32 = 0;
  std::string text;  // at most 255 bytes, none of them zero
  std::uint64_t value64 = 0;

  static Attribute MakeInt(std::int32_t v);
  static Attribute MakeFloat(float v);
  static Attribute MakeText(const std::string& v);  // cut to 255 characters
  static Attribute MakeValue64(std::uint64_t v);
  bool operator==(const Attribute& other) const;
};

using AttributeMap = std::map<std::string, Attribute>;

void ReadAttributeMap(KivRkf::IndexReader& index, const std::string& section, AttributeMap& map);
void WriteAttributeMap(KivRkf::IndexWriter& index, const std::string& section,
                       const AttributeMap& map);

}  // namespace KivMox
