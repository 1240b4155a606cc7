// Comparing single fields of two models: each differing field adds a Difference with the
// texts of both sides. Floats go through the tolerance; integers and texts compare exactly.
#pragma once

#include <array>
#include <concepts>
#include <string>
#include <vector>

#include "diff/differences.hpp"
#include "diff/tolerance.hpp"
#include "kiv/mox/attribute.hpp"

namespace MoxDiff {

// The shortest text that reads back as the same float; NaN with its bits, "nan(0x7FC00000)".
std::string FloatText(float value);
// An attribute as "<value> (<type>)", texts quoted.
std::string AttributeText(const KivMox::Attribute& attribute);

class Fields {
 public:
  Fields(const Tolerance& tolerance, std::vector<Difference>& out)
      : tolerance_(tolerance), out_(out) {}

  const Tolerance& tolerance() const { return tolerance_; }
  // A difference with texts ready to print.
  void Add(const std::string& field, std::string left, std::string right);
  // Texts from the files, shown quoted.
  void Text(const std::string& field, const std::string& left, const std::string& right);
  template <std::integral T>
  void Integer(const std::string& field, T left, T right) {
    if (left != right) Add(field, std::to_string(+left), std::to_string(+right));
  }
  void Float(const std::string& field, float left, float right);
  template <std::size_t N>
  void Floats(const std::string& field, const std::array<float, N>& left,
              const std::array<float, N>& right) {
    for (std::size_t i = 0; i < N; ++i)
      Float(field + "[" + std::to_string(i) + "]", left[i], right[i]);
  }
  template <class T, std::size_t N>
  void Integers(const std::string& field, const std::array<T, N>& left,
                const std::array<T, N>& right) {
    for (std::size_t i = 0; i < N; ++i)
      Integer(field + "[" + std::to_string(i) + "]", left[i], right[i]);
  }
  // Attributes by name: "<prefix>attribute "<name>"", "(none)" on the side without it.
  void Attributes(const std::string& prefix, const KivMox::AttributeMap& left,
                  const KivMox::AttributeMap& right);

 private:
  bool AttributesEqual(const KivMox::Attribute& a, const KivMox::Attribute& b) const;

  const Tolerance& tolerance_;
  std::vector<Difference>& out_;
};

}  // namespace MoxDiff
