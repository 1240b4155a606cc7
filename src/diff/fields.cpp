// Field comparison (fields.hpp).
#include "diff/fields.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kiv/util/display_text.hpp"

namespace MoxDiff {

namespace {

std::string AttributeTextOf(const KivMox::Attribute& a) {
  return a.text;
}

}  // namespace

std::string FloatText(float value) {
  if (std::isnan(value)) {
    char text[32];
    std::snprintf(text, sizeof text, "nan(0x%08X)", static_cast<unsigned>(BitsOf(value)));
    return text;
  }
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

std::string AttributeText(const KivMox::Attribute& a) {
  switch (a.type) {
    case KivMox::AttributeType::Int32:
      return std::to_string(a.int32) + " (int)";
    case KivMox::AttributeType::Float32:
      return FloatText(a.float32) + " (float)";
    case KivMox::AttributeType::Text:
      return Kiv::Util::Quoted(AttributeTextOf(a)) + " (text)";
    case KivMox::AttributeType::Value64:
      return std::to_string(a.value64) + " (value64)";
  }
  return "type " + std::to_string(static_cast<std::int32_t>(a.type));
}

void Fields::Add(const std::string& field, std::string left, std::string right) {
  out_.push_back({field, std::move(left), std::move(right)});
}

void Fields::Text(const std::string& field, const std::string& left, const std::string& right) {
  if (left != right) Add(field, Kiv::Util::Quoted(left), Kiv::Util::Quoted(right));
}

void Fields::Float(const std::string& field, float left, float right) {
  if (!FloatsEqual(left, right, tolerance_)) Add(field, FloatText(left), FloatText(right));
}

bool Fields::AttributesEqual(const KivMox::Attribute& a, const KivMox::Attribute& b) const {
  if (a.type != b.type) return false;
  switch (a.type) {
    case KivMox::AttributeType::Int32:
      return a.int32 == b.int32;
    case KivMox::AttributeType::Float32:
      return FloatsEqual(a.float32, b.float32, tolerance_);
    case KivMox::AttributeType::Text:
      return AttributeTextOf(a) == AttributeTextOf(b);
    case KivMox::AttributeType::Value64:
      return a.value64 == b.value64;
  }
  return true;
}

void Fields::Attributes(const std::string& prefix, const KivMox::AttributeMap& left,
                        const KivMox::AttributeMap& right) {
  // Both maps are ordered by name: one merge-like pass.
  auto l = left.begin();
  auto r = right.begin();
  while (l != left.end() || r != right.end()) {
    if (r == right.end() || (l != left.end() && l->first < r->first)) {
      Add(prefix + "attribute " + Kiv::Util::Quoted(l->first), AttributeText(l->second), "(none)");
      ++l;
    } else if (l == left.end() || r->first < l->first) {
      Add(prefix + "attribute " + Kiv::Util::Quoted(r->first), "(none)", AttributeText(r->second));
      ++r;
    } else {
      if (!AttributesEqual(l->second, r->second))
        Add(prefix + "attribute " + Kiv::Util::Quoted(l->first), AttributeText(l->second),
            AttributeText(r->second));
      ++l, ++r;
    }
  }
}

}  // namespace MoxDiff
