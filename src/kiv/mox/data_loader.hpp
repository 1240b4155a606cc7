// KivMox::DataLoader: where one array's values lie in a file that is still open (the
// container, section, position and byte size of the stored run) and how they are stored
// (component count, encoded flag). Value kind: 0 any, 1 floats, 5 integers. Shared by the
// numeric arrays that use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace KivRkf {
class RkFile;
}  // namespace KivRkf

namespace KivMox {

class DataLoader {
 public:
  // The container the values are read from, through its reader: kept while a loader refers
  // to it (deferred loading), and opened again before a read when the open-file pool
  // closed it.
  std::shared_ptr<KivRkf::RkFile> file;
  std::string section;
  std::uint64_t position = 0;
  std::uint64_t byteSize = 0;
  std::uint8_t componentCount = 1;
  std::uint8_t encoded = 0;
  std::uint32_t valueKind = 0;

  // Reads the values into out, decoded. A value kind that the variant does not accept
  // raises code 12; a byte size below 4 leaves out unchanged; a byte size that is not a
  // multiple of 4 raises code 9.
  void LoadTo(std::vector<std::int32_t>& out);
  void LoadTo(std::vector<float>& out);

  // Raises code 12 "Bad Casting" unless values of the kind may be loaded as integers
  // (integers true) or as floats.
  void CheckValueKind(bool integers) const;
  bool AcceptsValueKind(bool integers) const {
    return valueKind == 0 || valueKind == (integers ? 5u : 1u);
  }
  // The component count of the stored run: 0 when it is not encoded.
  std::uint8_t StoredComponents() const { return encoded ? componentCount : 0; }
  // The byteSize bytes of the run as they are stored, in place in the block that holds
  // them (valid until the file's reader reads that section again; null for byte size 0).
  const std::uint8_t* TakeRun();
  // Copies the byteSize stored bytes to out as they are stored.
  void CopyStored(std::uint8_t* out);
  // Copies the byteSize stored bytes to out, decoded.
  void CopyDecoded(std::uint8_t* out);

 private:
  template <class T>
  void LoadValues(std::vector<T>& out);
};

}  // namespace KivMox
