// Writing geometry: the heavy writer, which puts each array's stored run at the end of
// "Heavy Data" (streaming, so full blocks go to the file at once), and the "0.7" light
// record that points at those runs (layouts in geometry.hpp).
#include <memory>
#include <new>

#include "kiv/log/raise.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/data_loader.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/rkf/index_writer.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {

const char* const kHeavyMethod = "KivMox::Geometry::WriteHeavyData";
const char* const kWriteRk = "KivMox::Geometry::WriteRk";
constexpr std::uint64_t kMaxRun = 0xFFFFFFFF;

std::unique_ptr<std::uint8_t[]> Scratch(std::uint64_t size) {
  try {
    return std::make_unique_for_overwrite<std::uint8_t[]>(size);
  } catch (const std::bad_alloc&) {
    KIV_RAISE(MemoryAllocation, nullptr, kHeavyMethod);
  }
}

// Through the loader: the stored bytes go through unchanged when they are already in the
// form to write; otherwise they are decoded and encoded again.
void WriteThroughLoader(DataLoader& loader, const NumericArray& data, std::uint8_t* out,
                        bool connectivity) {
  loader.CheckValueKind(connectivity);
  KIV_CHECK(loader.byteSize == data.byteSize, MisMatch,
            "The data loader and the array disagree on the byte size", kHeavyMethod);
  if (loader.StoredComponents() == data.componentCount) {
    loader.CopyStored(out);
    return;
  }
  std::unique_ptr<std::uint8_t[]> values = Scratch(data.byteSize);
  loader.CopyDecoded(values.get());
  EncodeComponents(values.get(), out, data.byteSize, data.componentCount);
}

}  // namespace

void WriteHeavyArray(KivRkf::IndexWriter& index, std::FILE* stream, const std::string& heavy,
                     GeometryArray& array) {
  const NumericArray& data = array.data;
  KIV_CHECK(data.byteSize <= kMaxRun, OutOfBounds, "A block cannot hold more than 4294967295 bytes",
            kHeavyMethod);
  KIV_CHECK(data.loader || data.byteSize == 0 || data.HasBytes(), NotInitialized,
            "The array has no values", kHeavyMethod);
  const std::uint64_t position = index.GetSize(heavy);
  index.SetBlockFlags(heavy, KivRkf::kFlagStreaming);
  index.SetBlockFlags(heavy, KivRkf::kFlagZlib);
  // One run of bytes in one block, encoded straight into it.
  std::uint8_t* out =
      index.WritingBlock(heavy, false).Extend(static_cast<std::uint32_t>(data.byteSize));
  if (data.loader)
    WriteThroughLoader(*data.loader, data, out, array.IsConnectivity());
  else if (data.byteSize != 0)
    EncodeComponents(data.Bytes(), out, data.byteSize, data.componentCount);
  index.FlushFrozen(stream);
  array.heavyPosition = position;
}

void Geometry::WriteRk(KivRkf::IndexWriter& index, const std::string& light,
                       const std::string& attributes) const {
  for (const GeometryArray& array : arrays) {
    // The kind word holds the kind in its low byte and the subKind in its high byte; a
    // wider kind (older records store 32 bits) would come back as another kind.
    KIV_CHECK(array.kind == kUnpackedKind || (array.kind <= 0xFF && array.data.subKind <= 0xFF),
              OutOfBounds, "An array kind above 255 cannot be stored", kWriteRk);
    if (array.linked) continue;
    KIV_CHECK(array.heavyPosition.has_value(), ElementNotFound, nullptr, kWriteRk);
    KIV_CHECK(array.data.byteSize <= kMaxRun, OutOfBounds,
              "A byte size above 4294967295 cannot be stored", kWriteRk);
  }
  index.Put(light, static_cast<std::uint32_t>(arrays.size()));
  for (const GeometryArray& array : arrays) {
    const NumericArray& data = array.data;
    index.Put(light, array.name);
    const std::uint32_t word =
        array.kind == kUnpackedKind ? kUnpackedKind : (data.subKind << 24) | array.kind;
    index.Put(light, word);
    const std::uint8_t linked = array.linked ? 1 : 0;
    index.Put(light, linked);
    if (array.linked) {
      index.Put(light, array.linkNode);
      index.Put(light, array.linkIndex);
    } else {
      index.Put(light, static_cast<std::uint32_t>(data.byteSize));
      index.Put(light, data.componentCount);
      index.Put(light, data.tagA);
      index.Put(light, data.tagB);
      index.Put(light, data.paramA);
      index.Put(light, data.paramB);
      index.Put(light, data.tagC);
      index.Put(light, *array.heavyPosition);
    }
    index.Put(light, array.vibration);
    WriteAttributeMap(index, attributes, array.attributes);
  }
}

}  // namespace KivMox
