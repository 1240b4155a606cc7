#include "kiv/util/interrupts.hpp"

#include <pthread.h>

namespace Kiv::Util {

InterruptsBlocked::InterruptsBlocked() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kInterruptSignals) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, &old_);
}

InterruptsBlocked::~InterruptsBlocked() {
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

}  // namespace Kiv::Util
