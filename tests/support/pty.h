// SPDX-License-Identifier: MIT
// Helpers for tests that talk to the radio link through a pseudo-terminal:
// the test plays the radio on the master side, the code under test opens the
// slave by its path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

namespace rigplot::test {

class Pty {
 public:
  Pty() {
    char name[128] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) m_path = name;
  }
  ~Pty() {
    CloseMaster();
    CloseSlave();
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return m_master >= 0 && m_slave >= 0; }
  const std::string& path() const { return m_path; }  // e.g. /dev/pts/3
  int master() const { return m_master; }
  int slave() const { return m_slave; }  // the test's own view of the line

  // The radio sends: every byte, waiting while the line's buffer is full.
  bool Send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t put = ::write(m_master, bytes.data(), bytes.size());
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
  }

  // Bytes received on the slave side and not yet read by anyone.
  int SlaveQueued() const {
    int queued = -1;
    ::ioctl(m_slave, FIONREAD, &queued);
    return queued;
  }

  // Whatever the slave side sent to the radio so far.
  std::string TakeSent() const {
    std::string sent;
    char buffer[256];
    for (;;) {
      pollfd p{m_master, POLLIN, 0};
      if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) break;
      const ssize_t got = ::read(m_master, buffer, sizeof buffer);
      if (got <= 0) break;
      sent.append(buffer, static_cast<std::size_t>(got));
    }
    return sent;
  }

  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }
  void CloseSlave() {
    if (m_slave >= 0) ::close(m_slave);
    m_slave = -1;
  }

 private:
  int m_master = -1;
  int m_slave = -1;
  std::string m_path;
};

// The shared serial lock file for a device, and the text a lock of `pid` holds.
inline std::string LockFileFor(const std::string& device) {
  std::string name = device.substr(5);  // without "/dev/"
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "/run/lock/LCK.." + name;
}
inline std::string LockText(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

}  // namespace rigplot::test
