#include "kiv/util/log_record.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace Kiv::Util {

LogRecord::LogRecord(std::uint16_t lvl, const char* f, std::uint32_t l, const char* m)
    : level(lvl), file(f ? f : ""), line(l), method(m ? m : ""),
      time(static_cast<std::int64_t>(std::time(nullptr))) {}

std::size_t LogRecord::MessageLength() const { return std::strlen(message); }

LogRecord& LogRecord::Append(std::string_view text) {
  std::size_t len = MessageLength();
  std::size_t room = kMaxMessage - len;
  std::size_t n = text.size() < room ? text.size() : room;
  std::memcpy(message + len, text.data(), n);
  message[len + n] = '\0';
  return *this;
}

LogRecord& LogRecord::Append(std::uint64_t number) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(number));
  return Append(std::string_view(buf, static_cast<std::size_t>(n)));
}

}  // namespace Kiv::Util
