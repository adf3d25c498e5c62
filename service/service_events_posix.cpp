// SPDX-License-Identifier: MIT
// Service events on POSIX: signals, taken synchronously with sigwait.
#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "service/service_events.h"

namespace rigplot {

std::vector<std::string> ServiceArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

namespace {

sigset_t ServiceSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, sig);
  return signals;
}

}  // namespace

const char kServiceEventsHelp[] =
    "Signals: SIGINT, SIGTERM stop; SIGUSR1 clears the station table; SIGHUP reopens\n"
    "the output files (after log rotation).\n";

// Blocked before any thread exists, so every thread inherits the mask and
// the signals arrive only at sigwait below. SIGPIPE is ignored: a reader of
// stderr that goes away (`rigplotd 2>&1 | logger`) or a page client that
// hangs up must fail a write, not end the service.
bool ArmServiceEvents() {
  const sigset_t signals = ServiceSignals();
  if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR) return false;
  return pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0;
}

ServiceEvent WaitServiceEvent() {
  const sigset_t signals = ServiceSignals();
  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    if (sig == SIGUSR1) return ServiceEvent::kClearTable;
    if (sig == SIGHUP) return ServiceEvent::kReopenFiles;
    return ServiceEvent::kStop;
  }
}

}  // namespace rigplot
