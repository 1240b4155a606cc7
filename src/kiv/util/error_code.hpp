// The fixed error codes of the system. The numbers and their texts never change:
// they appear in messages that users and scripts read.
#pragma once

#include <cstdint>

namespace Kiv::Util {

enum class ErrorCode : std::int32_t {
  MemoryAllocation = 0,
  OutOfBounds = 1,
  UnknownVersion = 2,
  NotInitialized = 3,
  ElementExists = 4,
  ElementNotFound = 5,
  InvalidMethod = 6,
  InvalidEnumeration = 7,
  InvalidObject = 8,
  ReadError = 9,
  WriteError = 10,
  FormatNotSupported = 11,
  BadCasting = 12,
  NotImplemented = 13,
  MisMatch = 14,
  SystemError = 15,
  Miscellaneous = 16,
  ZeroLength = 17,
  ModelError = 18,
  StateError = 19,
  Reserved20 = 20,
  InvalidArguments = 21,
  InvalidException = 22,
};

inline constexpr int kErrorCodeCount = 23;

// The text of a code; an empty text for code 20 and for numbers outside the table.
const char* ErrorCodeText(ErrorCode code);

}  // namespace Kiv::Util
