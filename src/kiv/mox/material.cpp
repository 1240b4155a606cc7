// Field groups of the versioned material record (layout in material.hpp).
#include "kiv/mox/material.hpp"

namespace KivRkf {

namespace {

// Reads four floats and keeps the first three.
void GetThreeOfFour(Block& b, std::array<float, 4>& color) {
  std::array<float, 4> stored = {};
  b.Get(stored);
  for (int i = 0; i < 3; ++i) color[i] = stored[i];
}

}  // namespace

void VersionedRecord<KivMox::Material>::Put(Block& b, const KivMox::Material& m, int group) {
  switch (group) {
    case 1:
      b.Put(m.colorA);
      b.Put(m.colorB);
      b.Put(m.colorC);
      b.Put(m.colorD);
      b.Put(m.valueE);
      break;
    case 2:
      b.Put(m.valueF);
      break;
    case 3:
      b.Put(m.flagG);
      break;
  }
}

void VersionedRecord<KivMox::Material>::Get(Block& b, KivMox::Material& m, int group) {
  switch (group) {
    case 1:
      b.Get(m.colorA);
      b.Get(m.colorB);
      GetThreeOfFour(b, m.colorC);
      GetThreeOfFour(b, m.colorD);
      b.Get(m.valueE);
      break;
    case 2:
      b.Get(m.valueF);
      break;
    case 3:
      b.Get(m.flagG);
      break;
  }
}

}  // namespace KivRkf
