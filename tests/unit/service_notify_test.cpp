// SPDX-License-Identifier: MIT
// rigplotd's notifications to systemd: the watchdog pings only while the
// worker is alive, and not at all once stopped or when no watchdog was asked.
#include "service/service_notify.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "tests/support/files.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::TempDir;
using test::WaitFor;

// A notification socket as systemd offers one, named in NOTIFY_SOCKET.
class NotifySocket {
 public:
  explicit NotifySocket(const TempDir& dir, const char* watchdogUsec) {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir.path() + "/notify";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    if (watchdogUsec != nullptr) ::setenv("WATCHDOG_USEC", watchdogUsec, 1);
    ::unsetenv("WATCHDOG_PID");
  }
  ~NotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::close(m_fd);
  }
  bool bound() const { return m_bound; }

  // Every message received so far, each on its own line.
  std::string Take() {
    std::string all;
    char buffer[512];
    for (ssize_t got; (got = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;) {
      all.append(buffer, static_cast<std::size_t>(got)).append("\n");
    }
    return all;
  }

 private:
  int m_fd = -1;
  bool m_bound = false;
};

int Pings(const std::string& messages) {
  int count = 0;
  for (std::size_t at = 0; (at = messages.find("WATCHDOG=1", at)) != std::string::npos; ++at) {
    ++count;
  }
  return count;
}

TEST(ServiceNotify, WatchdogPingsOnlyWhileTheWorkerIsAlive) {
  TempDir dir;
  NotifySocket socket(dir, "30000");  // 30 ms: a probe every 10 ms
  ASSERT_TRUE(socket.bound());
  NotifyReady("listening on /dev/ttyUSB0");
  EXPECT_EQ(socket.Take(), "READY=1\nSTATUS=listening on /dev/ttyUSB0\n");

  std::atomic<bool> alive{true};
  std::atomic<int> probes{0};
  ServiceWatchdog watchdog([&] {
    ++probes;
    return alive.load();
  });
  std::string seen;
  ASSERT_TRUE(WaitFor(
      "three pings", [&] { return Pings(seen += socket.Take()) >= 3; }, [&] { return seen; }));

  // Two probes after the change: whatever the probe before it sent is in.
  const auto probesAfter = [&](int more) {
    const int from = probes.load();
    return WaitFor(
        std::to_string(more) + " more probes", [&] { return probes.load() >= from + more; },
        [&] { return std::to_string(probes.load() - from); });
  };
  alive = false;
  ASSERT_TRUE(probesAfter(2));
  socket.Take();
  ASSERT_TRUE(probesAfter(3));
  EXPECT_EQ(Pings(socket.Take()), 0) << "a stuck worker gets no ping";

  alive = true;
  seen.clear();
  ASSERT_TRUE(WaitFor(
      "pings again", [&] { return Pings(seen += socket.Take()) >= 1; }, [&] { return seen; }));

  NotifyStopping();
  watchdog.Stop();
  const int probesAtStop = probes.load();
  seen = socket.Take();
  EXPECT_NE(seen.find("STOPPING=1"), std::string::npos) << seen;
  ::usleep(100000);
  EXPECT_EQ(socket.Take(), "");
  EXPECT_EQ(probes.load(), probesAtStop) << "no probe after Stop";
}

TEST(ServiceNotify, NoWatchdogAskedForNoThread) {
  TempDir dir;
  NotifySocket socket(dir, nullptr);
  ASSERT_TRUE(socket.bound());
  std::atomic<int> probes{0};
  {
    ServiceWatchdog watchdog([&] { return ++probes > 0; });
    ::usleep(100000);
  }
  EXPECT_EQ(probes.load(), 0);
  EXPECT_EQ(socket.Take(), "");
}

}  // namespace
}  // namespace rigplot
