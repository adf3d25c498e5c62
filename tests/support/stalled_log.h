// A report log that stalls like a full or hung disk: its day files (today's
// and tomorrow's, in case a run crosses midnight) are FIFOs nobody reads,
// their buffers filled, so that the writer blocks until Release. Linux only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "stations/report_log.h"

namespace rigplot::test {

class StalledLog {
 public:
  explicit StalledLog(const std::string& dir) {
    const std::time_t now = std::time(nullptr);
    for (int day = 0; day < 2; ++day) {
      const std::string path = ReportLog(dir).PathFor(now + day * 86400);
      if (::mkfifo(path.c_str(), 0644) != 0) return;
      // Read-write: opening never waits, and the pipe lives while we hold it.
      m_fds[day] = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (m_fds[day] < 0 || ::fcntl(m_fds[day], F_SETPIPE_SZ, 4096) < 0) return;
      const std::string fill(4096, 'x');
      while (::write(m_fds[day], fill.data(), fill.size()) > 0) {
      }
    }
    m_ok = true;
  }
  ~StalledLog() {
    Release();
    for (int fd : m_fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  StalledLog(const StalledLog&) = delete;
  StalledLog& operator=(const StalledLog&) = delete;

  bool ok() const { return m_ok; }

  // Empties the buffers: a blocked write goes through, and a few after it.
  void Release() {
    char sink[4096];
    for (int fd : m_fds) {
      while (fd >= 0 && ::read(fd, sink, sizeof sink) > 0) {
      }
    }
  }

 private:
  int m_fds[2] = {-1, -1};
  bool m_ok = false;
};

}  // namespace rigplot::test
