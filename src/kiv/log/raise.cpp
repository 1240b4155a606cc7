#include "kiv/log/raise.hpp"

#include "kiv/log/log_manager.hpp"

namespace Kiv::Log {

void Raise(Kiv::Util::ErrorCode code, const char* description, const char* file,
           std::uint32_t line, const char* method) {
  const char* text = description ? description : Kiv::Util::ErrorCodeText(code);
  Kiv::Util::LogRecord record(Kiv::Util::LogRecord::kError, file, line, method);
  record.Append(text);
  LogManager::Instance().Publish(record);
  throw Kiv::Util::Exception(code, text, file, line, method);
}

}  // namespace Kiv::Log
