// The serial port on POSIX: termios for the line, poll on the device and an
// eventfd for the wait, FIONREAD for the queue length.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "radio/serial_port.h"

namespace rigplot {

namespace {

bool SpeedFor(int baudRate, speed_t& speed) {
  switch (baudRate) {
    case 1200:
      speed = B1200;
      return true;
    case 2400:
      speed = B2400;
      return true;
    case 4800:
      speed = B4800;
      return true;
    case 9600:
      speed = B9600;
      return true;
    case 19200:
      speed = B19200;
      return true;
    default:
      return false;
  }
}

void SetError(std::string* osError, const std::string& path, const char* what) {
  if (osError) *osError = (path.empty() ? std::string("(no device)") : path) + ": " + what;
}

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  // Made once, drained only by Open: after Wake every wait returns at once.
  int wakeFd = -1;
  std::atomic<bool> woken{false};
};

SerialPort::SerialPort() : m_impl(std::make_unique<Impl>()) {
  m_impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SerialPort::~SerialPort() {
  Close();
  if (m_impl->wakeFd >= 0) ::close(m_impl->wakeFd);
}

bool SerialPort::Open(const std::string& path, int baudRate, std::string* osError) {
  Close();
  speed_t speed;
  if (!SpeedFor(baudRate, speed)) {
    SetError(osError, path, "unsupported baud rate");
    return false;
  }
  if (m_impl->wakeFd < 0) {
    SetError(osError, path, "cannot create the wake-up event");
    return false;
  }
  // Non-blocking: the open must not wait for carrier, and a read never waits.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(osError, path, std::strerror(errno));
    return false;
  }
  auto fail = [&](const char* what) {
    SetError(osError, path, what);
    ::close(fd);
    return false;
  };
  if (!::isatty(fd)) return fail("not a terminal");
  // TIOCEXCL keeps other users out but not root; the advisory lock also
  // stops a second copy of this program running as root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? "in use by another program" : std::strerror(errno));
  }
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(std::strerror(errno));

  termios tio;
  if (::tcgetattr(fd, &tio) != 0) return fail(std::strerror(errno));
  // Raw 8N1: no echo, no line editing, no signals, no CR/LF translation.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  // XON/XOFF both ways: the driver may hold the radio off while a rewrite runs.
  tio.c_iflag |= IXON | IXOFF;
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;
  // Reads return what is queued, at once; poll does the waiting.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
    return fail(std::strerror(errno));
  }
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail(std::strerror(errno));
  // DTR and RTS off; a pseudo-terminal has no modem lines and refuses this.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIC, &lines);

  // A fresh open starts unwoken. The worker tests its stop flag after every
  // reopen, and Stop sets that flag before it wakes, so no stop is lost.
  std::uint64_t pending;
  while (::read(m_impl->wakeFd, &pending, sizeof pending) > 0) {
  }
  m_impl->woken.store(false);
  m_impl->fd = fd;
  return true;
}

bool SerialPort::IsOpen() const {
  return m_impl->fd >= 0;
}

void SerialPort::Close() {
  if (m_impl->fd < 0) return;
  // The exclusive flag lives on the terminal, not on our descriptor: clear it
  // so the device can be opened again while someone else holds it open.
  (void)::ioctl(m_impl->fd, TIOCNXCL);
  ::close(m_impl->fd);  // also drops the advisory lock
  m_impl->fd = -1;
}

SerialPort::WaitResult SerialPort::Wait() {
  if (m_impl->woken.load()) return WaitResult::kWoken;
  if (m_impl->fd < 0) return WaitResult::kFailed;
  pollfd fds[2] = {{m_impl->fd, POLLIN, 0}, {m_impl->wakeFd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kFailed;
    }
    break;
  }
  if (fds[1].revents != 0 || m_impl->woken.load()) return WaitResult::kWoken;
  const short revents = fds[0].revents;
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    // A hung-up terminal stays readable for ever; bytes that made it into the
    // queue before the hang-up are still taken, then the wait fails.
    return QueuedBytes() > 0 ? WaitResult::kReceived : WaitResult::kFailed;
  }
  return (revents & POLLIN) ? WaitResult::kReceived : WaitResult::kFailed;
}

int SerialPort::QueuedBytes() {
  if (m_impl->fd < 0) return -1;
  int queued = 0;
  if (::ioctl(m_impl->fd, FIONREAD, &queued) != 0) return -1;
  return queued;
}

int SerialPort::Read(std::uint8_t* block, int count) {
  if (m_impl->fd < 0 || count < 0) return -1;
  if (count > kBlockSize) count = kBlockSize;
  for (;;) {
    const ssize_t got = ::read(m_impl->fd, block, static_cast<std::size_t>(count));
    if (got >= 0) return static_cast<int>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

void SerialPort::Wake() {
  m_impl->woken.store(true);
  if (m_impl->wakeFd >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(m_impl->wakeFd, &one, sizeof one);
  }
}

bool SerialPort::DeviceExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace rigplot
