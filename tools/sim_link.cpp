#include "tools/sim_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/sim_stream.h"

namespace rigplot {
namespace {

constexpr unsigned char kXon = 0x11;
constexpr unsigned char kXoff = 0x13;
// Longest single wait, so that a stop set by another thread is seen in time.
constexpr auto kWaitSlice = std::chrono::milliseconds(200);

std::string OsError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string PortNameOf(const std::string& path) {
  constexpr std::string_view kDev = "/dev/";
  return path.compare(0, kDev.size(), kDev) == 0 ? path.substr(kDev.size()) : path;
}

std::optional<speed_t> SpeedFor(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return std::nullopt;
  }
}

// Raw 8N1; flow control is ours to do, so the driver must pass XON/XOFF up.
bool MakeRaw(int fd, speed_t speed) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

std::optional<SimLink> SimLink::OpenPseudoTerminal(std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    *error = OsError("posix_openpt");
    return std::nullopt;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    *error = OsError("pseudo-terminal set-up");
    close(master);
    return std::nullopt;
  }
  const int flags = fcntl(master, F_GETFL);
  // The master's terminal settings are the slave's. Raw from the start: the
  // slave processes bytes as they arrive, even before a receiver opens it,
  // and cooked it would echo them back and turn every CR into LF.
  if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 || !MakeRaw(master, B9600)) {
    *error = OsError(name);
    close(master);
    return std::nullopt;
  }
  return SimLink(master, true, name);
}

std::optional<SimLink> SimLink::OpenDevice(const std::string& path, int baud, std::string* error) {
  const std::optional<speed_t> speed = SpeedFor(baud);
  if (!speed) {
    *error = path + ": " + std::to_string(baud) + " baud is not a rate a tty can be set to";
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = OsError(path.c_str());
    return std::nullopt;
  }
  if (!isatty(fd) || !MakeRaw(fd, *speed)) {
    *error = OsError(path.c_str());
    close(fd);
    return std::nullopt;
  }
  return SimLink(fd, false, path);
}

SimLink::SimLink(int fd, bool pseudoTerminal, std::string devicePath)
    : m_fd(fd),
      m_pseudoTerminal(pseudoTerminal),
      m_devicePath(std::move(devicePath)),
      m_portName(PortNameOf(m_devicePath)) {}

SimLink::SimLink(SimLink&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_pseudoTerminal(other.m_pseudoTerminal),
      m_devicePath(std::move(other.m_devicePath)),
      m_portName(std::move(other.m_portName)),
      m_bytesPerSecond(other.m_bytesPerSecond),
      m_nextSlot(other.m_nextSlot),
      m_held(other.m_held),
      m_bytesSent(other.m_bytesSent),
      m_error(std::move(other.m_error)) {}

SimLink& SimLink::operator=(SimLink&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_pseudoTerminal = other.m_pseudoTerminal;
    m_devicePath = std::move(other.m_devicePath);
    m_portName = std::move(other.m_portName);
    m_bytesPerSecond = other.m_bytesPerSecond;
    m_nextSlot = other.m_nextSlot;
    m_held = other.m_held;
    m_bytesSent = other.m_bytesSent;
    m_error = std::move(other.m_error);
  }
  return *this;
}

SimLink::~SimLink() {
  Close();
}

void SimLink::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void SimLink::SetBaud(int baud) {
  m_bytesPerSecond = baud > 0 ? baud / 10.0 : 0.0;
  m_nextSlot = Clock::now();
}

bool SimLink::Fail(const char* what) {
  if (m_error.empty()) m_error = OsError(what);
  return false;
}

void SimLink::Sleep(Clock::duration timeout) {
  const auto ms =
      std::chrono::ceil<std::chrono::milliseconds>(std::max(timeout, Clock::duration{}));
  poll(nullptr, 0, static_cast<int>(ms.count()));  // a signal cuts it short
}

bool SimLink::TakeInput() {
  unsigned char block[256];
  for (;;) {
    const ssize_t n = read(m_fd, block, sizeof block);
    if (n > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (block[i] == kXoff) {
          m_held = true;
        } else if (block[i] == kXon && m_held) {
          m_held = false;
          m_nextSlot = Clock::now();  // resume at the line's pace, not in a burst
        }
      }
      continue;
    }
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return true;
    if (errno == EINTR) continue;
    if (errno == EIO && m_pseudoTerminal) {
      // Nobody has the slave open. The next receiver knows nothing of an
      // XOFF sent by the last one.
      m_held = false;
      return true;
    }
    return Fail("read");
  }
}

bool SimLink::WaitLine(Clock::duration timeout, bool wantWrite) {
  if (m_fd < 0) {
    errno = EBADF;
    return Fail("line");
  }
  const auto ms =
      std::chrono::ceil<std::chrono::milliseconds>(std::max(timeout, Clock::duration{}));
  pollfd p{m_fd, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
  const Clock::time_point start = Clock::now();
  const int n = poll(&p, 1, static_cast<int>(ms.count()));
  if (n < 0) return errno == EINTR ? true : Fail("poll");
  if (n == 0) return true;
  if (p.revents & POLLNVAL) {
    errno = EBADF;
    return Fail("poll");
  }
  if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
    if (!TakeInput()) return false;  // a device's hang-up fails here
  }
  if ((p.revents & POLLHUP) && m_pseudoTerminal) {
    // No receiver: the hang-up is reported at once on every poll until one
    // opens the line, so sleep out the wait instead.
    if (!(wantWrite && (p.revents & POLLOUT))) Sleep(timeout - (Clock::now() - start));
  } else if ((p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) {
    errno = EIO;
    return Fail("line hung up");
  }
  return true;
}

bool SimLink::Send(std::string_view bytes, const std::atomic<bool>& stop) {
  const bool paced = m_bytesPerSecond > 0;
  // Enough for 20 ms of the line, so XOFF takes effect within a few bytes.
  const std::size_t slice =
      paced ? std::max<std::size_t>(1, static_cast<std::size_t>(m_bytesPerSecond / 50)) : 4096;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (stop.load()) return false;
    if (!TakeInput()) return false;
    if (m_held) {
      if (!WaitLine(kWaitSlice, false)) return false;
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (paced && now < m_nextSlot) {
      if (!WaitLine(std::min<Clock::duration>(m_nextSlot - now, kWaitSlice), false)) {
        return false;
      }
      continue;
    }
    const ssize_t n = write(m_fd, bytes.data() + pos, std::min(slice, bytes.size() - pos));
    if (n > 0) {
      pos += static_cast<std::size_t>(n);
      m_bytesSent += static_cast<std::uint64_t>(n);
      if (paced) {
        // After a stall, start afresh rather than catch up in a burst.
        if (m_nextSlot < now - std::chrono::milliseconds(100)) m_nextSlot = now;
        m_nextSlot += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(n) / m_bytesPerSecond));
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail("write");
    // The receiver's buffer is full: wait until it reads.
    if (!WaitLine(kWaitSlice, true)) return false;
  }
  return true;
}

bool SimLink::Pause(double seconds, const std::atomic<bool>& stop) {
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(seconds));
  for (;;) {
    if (stop.load()) return false;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return true;
    if (!WaitLine(std::min<Clock::duration>(deadline - now, kWaitSlice), false)) {
      return false;
    }
  }
}

int SimLink::Unsent() {
  int n = 0;
  if (!m_pseudoTerminal) {
    // A device: the driver's output queue.
    if (ioctl(m_fd, TIOCOUTQ, &n) != 0) {
      Fail("ioctl");
      return -1;
    }
    return n;
  }
  // A pseudo-terminal: the slave's input queue, seen through a look of our own.
  const int slave = open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    if (errno == EBUSY) return 0;  // held exclusively: its queue is out of sight
    Fail(m_devicePath.c_str());
    return -1;
  }
  const int rc = ioctl(slave, FIONREAD, &n);
  close(slave);
  if (rc != 0) {
    Fail("ioctl");
    return -1;
  }
  return n;
}

bool SimLink::WaitDrained(const std::atomic<bool>& stop,
                          const std::function<void(int unread)>& stillWaiting) {
  const Clock::time_point notice = Clock::now() + std::chrono::seconds(2);
  bool noticed = !stillWaiting;
  // The pseudo-terminal moves bytes to the slave's queue a moment after the
  // write, so the queue must be seen empty twice in a row.
  int emptySeen = 0;
  for (;;) {
    if (stop.load()) return false;
    const int unsent = Unsent();
    if (unsent < 0) return false;
    emptySeen = unsent == 0 ? emptySeen + 1 : 0;
    if (emptySeen == 2) return true;
    if (!noticed && unsent > 0 && Clock::now() >= notice) {
      noticed = true;
      stillWaiting(unsent);
    }
    if (!WaitLine(std::chrono::milliseconds(50), false)) return false;
  }
}

SimRunResult RunSimulation(SimStream& stream, SimLink& link, const SimRunOptions& options,
                           const std::atomic<bool>& stop) {
  SimRunResult result;
  std::string chunk;
  while (options.count == 0 || result.reports < options.count) {
    if (stop.load()) return result;
    chunk.clear();
    SimReport report;
    if (options.realTime) {
      const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();
      report = stream.AppendNextAt(chunk, now.count());
    } else {
      report = stream.AppendNext(chunk);
    }
    if (!link.Send(chunk, stop)) {
      result.lineFailed = !link.error().empty();
      return result;
    }
    ++result.reports;
    if (report.intact) ++result.intact;
    if (options.count != 0 && result.reports == options.count) break;
    if (options.interval > 0 && !link.Pause(options.interval, stop)) {
      result.lineFailed = !link.error().empty();
      return result;
    }
  }
  // Closing the line hangs the receiver up; let it read everything first.
  if (!link.WaitDrained(stop, options.stillWaiting) || !link.Pause(options.linger, stop)) {
    result.lineFailed = !link.error().empty();
  }
  return result;
}

}  // namespace rigplot
