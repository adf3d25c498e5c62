// SPDX-License-Identifier: MIT
// Notifications to systemd through libsystemd's sd_notify.
#include <systemd/sd-daemon.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "service/service_notify.h"

namespace rigplot {

void NotifyReady(const std::string& status) {
  const std::string state = "READY=1\nSTATUS=" + status;
  sd_notify(0, state.c_str());
}

void NotifyStopping() {
  sd_notify(0, "STOPPING=1\nSTATUS=stopping");
}

struct ServiceWatchdog::State {
  std::function<bool()> alive;
  std::chrono::microseconds interval{0};
  std::mutex lock;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;

  void Run() {
    bool wasAlive = true;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      if (wake.wait_for(guard, interval, [this] { return stop; })) return;
      guard.unlock();
      const bool isAlive = alive();
      if (isAlive) sd_notify(0, "WATCHDOG=1");
      // Said once per change, like every other fault.
      if (isAlive != wasAlive) {
        std::fprintf(stderr, isAlive ? "rigplotd: receive worker responding again\n"
                                     : "rigplotd: receive worker not responding, "
                                       "watchdog pings withheld\n");
      }
      wasAlive = isAlive;
      guard.lock();
    }
  }
};

ServiceWatchdog::ServiceWatchdog(std::function<bool()> alive) {
  std::uint64_t usec = 0;
  // Zero or less: no watchdog asked for, or it is meant for another process.
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
  auto state = std::make_unique<State>();
  state->alive = std::move(alive);
  // A third of the interval: one probe that finds the worker busy (a slow
  // disk, say) still leaves time for the next ping; two in a row let the
  // watchdog run out.
  state->interval = std::chrono::microseconds(usec / 3);
  try {
    state->thread = std::thread(&State::Run, state.get());
  } catch (const std::system_error&) {
    // Without pings systemd restarts the service: say why.
    std::fprintf(stderr, "rigplotd: cannot start the watchdog thread\n");
    return;
  }
  m_state = std::move(state);
}

ServiceWatchdog::~ServiceWatchdog() {
  Stop();
}

void ServiceWatchdog::Stop() {
  if (!m_state) return;
  {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->stop = true;
  }
  m_state->wake.notify_all();
  if (m_state->thread.joinable()) m_state->thread.join();
}

}  // namespace rigplot
