// KivMox::Material: the material that every shape holds by value. Stored as a versioned
// record (rkf/versioned.hpp) of version "0.3"; payload 73 bytes, so 84 bytes framed:
//   group 1  colorA, colorB, colorC, colorD (4 x f32 each), valueE (f32)   68 bytes
//   group 2  valueF (f32)
//   group 3  flagG (u8)
// The reader keeps the first three floats of colorC and colorD; their fourth stays as
// it was in the object being filled, and the record's version in storedVersion.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kiv/mox/node.hpp"
#include "kiv/rkf/versioned.hpp"

namespace KivMox {

class Material : public Node {
 public:
  static constexpr NodeKind kKind = NodeKind::Material;
  NodeKind Kind() const override { return kKind; }
  std::string GetVersion() const override { return "0.3"; }
  // The version written into the versioned record.
  virtual std::string GetRecordVersion() const { return GetVersion(); }

  std::array<float, 4> colorA = {0.8f, 0.8f, 0.8f, 1.0f};
  std::array<float, 4> colorB = {0, 0, 0, 1.0f};
  std::array<float, 4> colorC = {0, 0, 0, 0};
  // 0.2 times colorA, component by component.
  std::array<float, 4> colorD = {0.2f * 0.8f, 0.2f * 0.8f, 0.2f * 0.8f, 0.2f * 1.0f};
  float valueE = 0;
  float valueF = 0.2f;
  std::uint8_t flagG = 1;
};

}  // namespace KivMox

namespace KivRkf {

template <>
struct VersionedRecord<KivMox::Material> {
  static std::string Version(const KivMox::Material& m) { return m.GetRecordVersion(); }
  static constexpr int kGroups = 3;
  template <class Io, class M>
  static void Fields(Io& io, M& m, int group) {
    switch (group) {
      case 1:
        io(m.colorA, m.colorB);
        io.Prefix(m.colorC, 3);
        io.Prefix(m.colorD, 3);
        io(m.valueE);
        break;
      case 2:
        io(m.valueF);
        break;
      case 3:
        io(m.flagG);
        break;
    }
  }
  static void KeepVersion(KivMox::Material& m, const std::string& v) { m.storedVersion = v; }
};

}  // namespace KivRkf
