// The signals that interrupt a run from outside: SIGINT (Ctrl-C), SIGTERM (a scheduler,
// `timeout`) and SIGHUP (a closed terminal). Worker threads keep them blocked, so that
// they reach a thread that can clean up.
#pragma once

#include <signal.h>

namespace Kiv::Util {

inline constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the interrupt signals in the calling thread for the scope's lifetime; a thread
// started inside the scope inherits them blocked.
class InterruptsBlocked {
 public:
  InterruptsBlocked();
  ~InterruptsBlocked();
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

 private:
  sigset_t old_;
};

}  // namespace Kiv::Util
