// Kiv::Log::RecordHold: while one is in place on a thread, the records that thread publishes
// are kept in it instead of written. Work done ahead on another thread (an input opened
// before its turn) holds its records so that they can be published later, where the same
// work on the main thread would have published them, and the log keeps its order; records
// of work given up are dropped with the hold. Holds on one thread nest: the newest holds.
#pragma once

#include <vector>

#include "kiv/util/log_record.hpp"

namespace Kiv::Log {

// Keeps record in the newest hold of this thread; false when the thread has none.
bool HoldRecord(const Kiv::Util::LogRecord& record);

class RecordHold {
 public:
  RecordHold();
  ~RecordHold();
  RecordHold(const RecordHold&) = delete;
  RecordHold& operator=(const RecordHold&) = delete;

  // The records held so far, in the order they were published; the hold goes on empty.
  std::vector<Kiv::Util::LogRecord> Take();

 private:
  friend bool HoldRecord(const Kiv::Util::LogRecord& record);
  std::vector<Kiv::Util::LogRecord> records_;
  RecordHold* outer_;
};

// Publishes records in their order (on the calling thread, through its holds if any).
void PublishHeld(const std::vector<Kiv::Util::LogRecord>& records);

}  // namespace Kiv::Log
