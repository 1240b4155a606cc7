// One log record: level, message of at most 5120 characters, source location and time.
// A record is made on the stack, filled, published and discarded; it owns no heap memory.
#pragma once

#include <cstdint>
#include <string_view>

namespace Kiv::Util {

struct LogRecord {
  static constexpr std::size_t kMaxMessage = 5120;
  static constexpr std::uint16_t kInfo = 1000;
  static constexpr std::uint16_t kError = 2000;

  std::uint16_t level = 0;
  char message[kMaxMessage + 1] = {};
  const char* file = "";
  std::uint32_t line = 0;
  const char* method = "";
  std::int64_t time = 0;

  LogRecord() = default;
  // An empty message and the current time.
  LogRecord(std::uint16_t level, const char* file, std::uint32_t line, const char* method);

  std::size_t MessageLength() const;
  // Appends at most 5120 minus the current length characters.
  LogRecord& Append(std::string_view text);
  LogRecord& Append(std::uint64_t number);
};

}  // namespace Kiv::Util
