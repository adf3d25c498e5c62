// SPDX-License-Identifier: MIT
// What rigplotd tells the service manager that started it: ready, still
// alive, stopping.
//
// POSIX: systemd's notification protocol through libsystemd (a unit with
// Type=notify and WatchdogSec=). Without a service manager listening
// (NOTIFY_SOCKET unset) every call does nothing, so a run from a shell is
// unchanged. Windows: nothing to tell; every call does nothing.
// Thread: the main thread; the watchdog pings from a thread of its own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace rigplot {

// The port is open and the worker runs. `status` is shown by
// `systemctl status` (one line).
void NotifyReady(const std::string& status);

// The stop sequence has begun.
void NotifyStopping();

// Pings the service manager's watchdog three times in the interval it asked
// for, but only while `alive` says the receive worker is alive; a worker stuck
// for two probes in a row lets the watchdog run out, and systemd restarts the
// service. No thread is started when the manager asked for no watchdog.
// `alive` runs on the watchdog's thread and answers at once.
class ServiceWatchdog {
 public:
  explicit ServiceWatchdog(std::function<bool()> alive);
  ~ServiceWatchdog();
  ServiceWatchdog(const ServiceWatchdog&) = delete;
  ServiceWatchdog& operator=(const ServiceWatchdog&) = delete;

  // Ends the pings and the thread. Safe to call more than once.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace rigplot
