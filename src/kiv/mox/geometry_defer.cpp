// Deferred loading of geometry values: an array read from a file keeps a loader on the
// file, which stays open (or is opened again, see KivRkf::OpenFilePool), instead of its
// values. The heavy writer takes the stored run through the loader when the output is
// written, so at any moment about one block per input is in memory.
#include <memory>

#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

void Geometry::DeferBlocks(const std::shared_ptr<KivRkf::RkFile>& file, const std::string& heavy) {
  for (GeometryArray& array : arrays) {
    if (array.linked || !array.heavyPosition) continue;
    // The run is read only when the output is written; no other array may share it.
    file->Reader().ClaimRange(heavy, *array.heavyPosition, array.data.byteSize);
    auto loader = std::make_shared<DataLoader>();
    loader->file = file;
    loader->section = heavy;
    loader->position = *array.heavyPosition;
    loader->byteSize = array.data.byteSize;
    loader->componentCount = array.data.componentCount;
    loader->encoded = 1;
    array.data.loader = std::move(loader);
  }
}

}  // namespace KivMox
