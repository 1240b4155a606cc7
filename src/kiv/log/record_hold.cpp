#include "kiv/log/record_hold.hpp"

#include "kiv/log/log_manager.hpp"

namespace Kiv::Log {

namespace {

thread_local RecordHold* holding = nullptr;

}  // namespace

RecordHold::RecordHold() : outer_(holding) {
  holding = this;
}

RecordHold::~RecordHold() {
  holding = outer_;
}

std::vector<Kiv::Util::LogRecord> RecordHold::Take() {
  std::vector<Kiv::Util::LogRecord> taken;
  taken.swap(records_);
  return taken;
}

bool HoldRecord(const Kiv::Util::LogRecord& record) {
  if (!holding) return false;
  holding->records_.push_back(record);
  return true;
}

void PublishHeld(const std::vector<Kiv::Util::LogRecord>& records) {
  for (const auto& record : records) LogManager::Instance().Publish(record);
}

}  // namespace Kiv::Log
