// KivMox::NumericArray: the values of one geometry array in memory, described by their
// byte size and component count (the stored form, component_codec.hpp) and by six
// descriptive fields carried unchanged from input to output. Copies share one buffer
// and one loader; copying never copies values.
#pragma once

#include <cstdint>
#include <memory>

namespace KivMox {

class DataLoader;

class NumericArray {
 public:
  NumericArray() = default;
  NumericArray(const NumericArray&) = default;
  NumericArray& operator=(const NumericArray&) = default;
  NumericArray(NumericArray&&) = default;
  NumericArray& operator=(NumericArray&&) = default;
  virtual ~NumericArray() = default;

  virtual std::uint8_t ComponentCount() const { return componentCount; }
  virtual std::uint64_t ValueCount() const { return byteSize / 4; }

  // Gives the array a new buffer of size bytes (content undefined) that no copy made
  // before shares; sets byteSize and ownsData. Raises code 0 when memory runs out.
  std::uint8_t* Allocate(std::uint64_t size);
  const std::uint8_t* Bytes() const { return data.get(); }
  bool HasBytes() const { return data != nullptr; }

  // The bytes, 4-byte aligned, shared by every copy of the array.
  std::shared_ptr<std::uint8_t[]> data;
  std::uint64_t byteSize = 0;
  std::uint8_t componentCount = 1;
  std::uint8_t ownsData = 0;
  std::shared_ptr<DataLoader> loader;
  std::uint32_t subKind = 0;
  std::uint8_t tagA = 0;
  std::uint8_t tagB = 0;
  std::uint32_t paramA = 0;
  std::uint32_t paramB = 0;
  std::uint8_t tagC = 0;
};

}  // namespace KivMox
