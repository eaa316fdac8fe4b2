// Termination signals are blocked everywhere and taken synchronously with sigwait, so no
// handler runs in the middle of other code.
#include "platform/signals.h"

#include <csignal>
#include <pthread.h>

namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void PrepareProcessSignals() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int WaitForTerminationSignal() {
  const sigset_t set = TerminationSignals();
  int received = 0;
  while (sigwait(&set, &received) != 0) {
  }
  return received;
}
