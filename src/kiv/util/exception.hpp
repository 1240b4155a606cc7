// The one exception type of the system. Its six-line text is formatted once, at
// construction, into a fixed buffer: constructing or copying it never allocates.
#pragma once

#include <exception>
#include <string>

#include "kiv/util/error_code.hpp"
#include "kiv/util/log_record.hpp"

namespace Kiv::Util {

class Exception : public std::exception {
 public:
  static constexpr std::size_t kTextSize = 5632;

  Exception(ErrorCode code, const char* description, const char* file, std::uint32_t line,
            const char* method);
  Exception(ErrorCode code, const char* file, std::uint32_t line, const char* method);
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override = default;

  const char* what() const noexcept override { return text_; }
  virtual ErrorCode GetCode() const { return code_; }
  virtual const char* GetDescription() const { return record_.message; }
  const LogRecord& GetRecord() const { return record_; }

 private:
  ErrorCode code_;
  LogRecord record_;
  char text_[kTextSize];
};

// The one-line description of an exception for a report: the description of an Exception,
// the what() text of any other.
std::string DescriptionOf(const std::exception& e);

}  // namespace Kiv::Util
