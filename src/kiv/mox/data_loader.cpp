#include "kiv/mox/data_loader.hpp"

#include <cstring>

#include "kiv/log/raise.hpp"
#include "kiv/mox/component_codec.hpp"
#include "kiv/mox/stored_run.hpp"
#include "kiv/rkf/open_file_pool.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {
const char* const kLoadTo = "KivMox::DataLoader::LoadTo";
}

void DataLoader::CheckValueKind(bool integers) const {
  if (!AcceptsValueKind(integers)) KIV_RAISE(BadCasting, nullptr, kLoadTo);
}

const std::uint8_t* DataLoader::TakeRun() {
  KIV_CHECK(file != nullptr, NotInitialized, "The data loader has no source", kLoadTo);
  // The run lies in a loaded block once taken: the file may close again afterwards.
  const KivRkf::FileInUse use(file.get());
  KivRkf::IndexReader& reader = file->Reader();
  reader.SetReadingPosition(section, position);
  return TakeStoredRun(reader, section, byteSize, kLoadTo);
}

void DataLoader::CopyStored(std::uint8_t* out) {
  const std::uint8_t* run = TakeRun();
  if (byteSize) std::memcpy(out, run, byteSize);
}

void DataLoader::CopyDecoded(std::uint8_t* out) {
  const std::uint8_t* run = TakeRun();
  DecodeComponents(run, out, byteSize, StoredComponents());
}

template <class T>
void DataLoader::LoadValues(std::vector<T>& out) {
  KIV_CHECK(file != nullptr, NotInitialized, "The data loader has no source", kLoadTo);
  const KivRkf::FileInUse use(file.get());
  KivRkf::IndexReader& reader = file->Reader();
  reader.SetReadingPosition(section, position);
  const std::uint64_t n = byteSize / 4;
  if (n == 0) return;
  KIV_CHECK(byteSize % 4 == 0, ReadError, "The byte size is not a multiple of 4", kLoadTo);
  const std::uint8_t* run = TakeStoredRun(reader, section, byteSize, kLoadTo);
  out.resize(n);
  DecodeComponents(run, reinterpret_cast<std::uint8_t*>(out.data()), byteSize, StoredComponents());
}

void DataLoader::LoadTo(std::vector<std::int32_t>& out) {
  CheckValueKind(true);
  LoadValues(out);
}

void DataLoader::LoadTo(std::vector<float>& out) {
  CheckValueKind(false);
  LoadValues(out);
}

}  // namespace KivMox
