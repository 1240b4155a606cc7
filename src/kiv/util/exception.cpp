#include "kiv/util/exception.hpp"

#include <cstdio>
#include <ctime>

namespace Kiv::Util {

Exception::Exception(ErrorCode code, const char* description, const char* file, std::uint32_t line,
                     const char* method)
    : code_(code), record_(LogRecord::kError, file, line, method) {
  record_.Append(description ? description : "");
  std::time_t t = static_cast<std::time_t>(record_.time);
  char when[64] = "\n";
  std::tm tmv{};
  if (localtime_r(&t, &tmv)) std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y\n", &tmv);
  std::snprintf(text_, sizeof text_,
                "Exception \"%s\" raised. \n"
                "%11s : %s \n"
                "%11s : %s \n"
                "%11s : %lu \n"
                "%11s : %s \n"
                "%11s : %s \n",
                ErrorCodeText(code), "Description", record_.message, "File", record_.file, "Line",
                static_cast<unsigned long>(line), "Method", record_.method, "Time", when);
}

Exception::Exception(ErrorCode code, const char* file, std::uint32_t line, const char* method)
    : Exception(code, ErrorCodeText(code), file, line, method) {}

std::string DescriptionOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->GetDescription();
  return e.what();
}

}  // namespace Kiv::Util
