// SPDX-License-Identifier: MIT
// The serial port on POSIX: termios for the line, poll on the device and an
// eventfd for the wait, FIONREAD for the queue length, and the UUCP lock file
// that serial programs on Linux share.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

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

void SetError(std::string* osError, const std::string& path, const std::string& what) {
  if (osError) *osError = (path.empty() ? std::string("(no device)") : path) + ": " + what;
}

// The folders where serial programs leave their lock files, first writable wins.
constexpr const char* kLockDirs[] = {"/run/lock", "/var/lock"};

// The lock name for a device path: LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3
// for /dev/pts/3; a path outside /dev goes by its last part.
std::string LockNameOf(std::string name) {
  if (name.rfind("/dev/", 0) == 0) {
    name.erase(0, 5);
  } else if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

// Ours is named after the real device, so that a link to it shares the lock.
std::string LockFileName(const std::string& devicePath) {
  char real[PATH_MAX];
  return LockNameOf(::realpath(devicePath.c_str(), real) != nullptr ? real : devicePath);
}

// The process that a lock file names; 0 when it names none that can be read.
// `file` gets the file's identity where it could be opened.
pid_t LockOwner(const std::string& lockPath, struct stat* file = nullptr) {
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  if (file != nullptr && ::fstat(fd, file) != 0) *file = {};
  char text[32] = {};
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return 0;
  long pid = 0;
  if (std::sscanf(text, "%ld", &pid) != 1 || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

// A zombie answers kill(pid, 0) but holds no port: a lock it left is stale.
bool ProcessAlive(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char stat[256] = {};
  const ssize_t got = ::read(fd, stat, sizeof stat - 1);
  ::close(fd);
  // "pid (name) S ...": the state follows the name's closing parenthesis.
  const char* close = got > 0 ? std::strrchr(stat, ')') : nullptr;
  return close == nullptr || close[1] != ' ' || close[2] != 'Z';
}

// Another live process that holds the lock at `path`, else 0.
pid_t LiveOtherOwner(const std::string& path) {
  const pid_t owner = LockOwner(path);
  return owner != 0 && owner != ::getpid() && ProcessAlive(owner) ? owner : 0;
}

// Copies of this program take and break locks one at a time: an advisory
// lock on the folder, waited for at most two seconds, since anyone who can
// read the folder can hold it.
class LockDirGuard {
 public:
  explicit LockDirGuard(const char* dir) : m_fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    for (int tries = 0; m_fd >= 0 && tries < 400; ++tries) {
      if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return;
      ::usleep(5000);
    }
  }
  ~LockDirGuard() {
    if (m_fd >= 0) ::close(m_fd);
  }
  LockDirGuard(const LockDirGuard&) = delete;
  LockDirGuard& operator=(const LockDirGuard&) = delete;

 private:
  int m_fd;
};

enum class LockTake { kTaken, kHeld, kNotWritable };

// Links a file naming us into place at `path`. A stale lock in the way is
// renamed aside first and removed only if it is still the file judged stale;
// anything else moved by mistake (a lock made in between) is put back.
LockTake LinkLock(const std::string& dir, const std::string& fileName, const std::string& path,
                  std::string& reason, std::string& why) {
  const std::string suffix = std::to_string(::getpid()) + "." + fileName.substr(5);
  const std::string temp = dir + "/LTMP." + suffix;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    why = dir + ": " + std::strerror(errno);
    return LockTake::kNotWritable;
  }
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
  const int writeError = errno;
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    why = dir + ": " + std::strerror(writeError);
    return LockTake::kNotWritable;
  }
  LockTake result = LockTake::kNotWritable;
  why = path + ": taken over and over by others";
  for (int round = 0; round < 8; ++round) {
    if (::link(temp.c_str(), path.c_str()) == 0) {
      // Whoever breaks locks without care may have moved ours already.
      if (LockOwner(path) == ::getpid()) {
        result = LockTake::kTaken;
      } else {
        reason = "locked by another program (" + path + ")";
        result = LockTake::kHeld;
      }
      break;
    }
    if (errno != EEXIST) {
      why = path + ": " + std::strerror(errno);
      break;
    }
    struct stat judged {};
    const pid_t owner = LockOwner(path, &judged);
    if (owner != 0 && owner != ::getpid() && ProcessAlive(owner)) {
      reason = "locked by process " + std::to_string(owner) + " (" + path + ")";
      result = LockTake::kHeld;
      break;
    }
    if (judged.st_ino == 0) {
      struct stat there {};
      if (::lstat(path.c_str(), &there) != 0) continue;  // gone already
      reason = "locked by another program (" + path + "): it cannot be read";
      result = LockTake::kHeld;
      break;
    }
    // A program that makes its lock in place writes the number just after:
    // a fresh lock that names no one yet is not stale.
    if (owner == 0 && std::time(nullptr) - judged.st_mtime < 5) {
      reason = "locked by another program (" + path + ")";
      result = LockTake::kHeld;
      break;
    }
    const std::string aside = dir + "/LSTALE." + suffix;
    if (::rename(path.c_str(), aside.c_str()) != 0) {
      if (errno == ENOENT) continue;  // gone already
      reason = "a stale lock cannot be removed (" + path + "): " + std::strerror(errno);
      result = LockTake::kHeld;
      break;
    }
    struct stat moved {};
    if (::lstat(aside.c_str(), &moved) == 0 &&
        (moved.st_ino != judged.st_ino || moved.st_dev != judged.st_dev) &&
        ::link(aside.c_str(), path.c_str()) != 0) {
      // Another program's fresh lock, and a newer one stands in its place:
      // that one holds the port. Ours is not to be taken.
      ::unlink(aside.c_str());
      reason = "locked by another program (" + path + ")";
      result = LockTake::kHeld;
      break;
    }
    ::unlink(aside.c_str());
  }
  ::unlink(temp.c_str());
  return result;
}

// Takes the lock file for a device. Returns false with a reason when another
// live process holds it, under the real device's name or under the name the
// user gave. Where no lock folder can be written, `lockPath` stays empty,
// `warning` says why, and the port is used without a lock of its own.
bool TakeLockFile(const std::string& devicePath, std::string& lockPath, std::string& reason,
                  std::string& warning) {
  lockPath.clear();
  warning.clear();
  const std::string fileName = LockFileName(devicePath);
  const std::string givenName = LockNameOf(devicePath);
  std::vector<const char*> dirs;
  for (const char* dir : kLockDirs) {
    struct stat st;
    if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) dirs.push_back(dir);
  }
  for (const char* dir : dirs) {
    for (const std::string* name : {&fileName, &givenName}) {
      const std::string path = std::string(dir) + "/" + *name;
      if (const pid_t owner = LiveOtherOwner(path); owner != 0) {
        reason = "locked by process " + std::to_string(owner) + " (" + path + ")";
        return false;
      }
    }
  }
  std::string why = "no lock folder (/run/lock, /var/lock)";
  for (const char* dir : dirs) {
    const std::string path = std::string(dir) + "/" + fileName;
    LockDirGuard serialised(dir);
    // A lock naming this process is another port of ours: it stays its.
    if (LockOwner(path) == ::getpid()) return true;
    switch (LinkLock(dir, fileName, path, reason, why)) {
      case LockTake::kTaken:
        lockPath = path;
        return true;
      case LockTake::kHeld:
        return false;
      case LockTake::kNotWritable:
        break;
    }
  }
  warning = "used without a lock file: " + why;
  return true;
}

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  // Made once, drained only by Open: after Wake every wait returns at once.
  int wakeFd = -1;
  std::atomic<bool> woken{false};
  std::string lockPath;  // our lock file while the port is open; empty when none
  std::string lockWarning;
  std::string failure;

  void ReleaseLock() {
    if (lockPath.empty()) return;
    if (LockOwner(lockPath) == ::getpid()) ::unlink(lockPath.c_str());
    lockPath.clear();
  }
};

SerialPort::SerialPort() : m_impl(std::make_unique<Impl>()) {
  m_impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SerialPort::~SerialPort() {
  if (!m_impl) return;
  Close();
  if (m_impl->wakeFd >= 0) ::close(m_impl->wakeFd);
}

SerialPort::SerialPort(SerialPort&&) noexcept = default;

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    if (m_impl) {
      Close();
      if (m_impl->wakeFd >= 0) ::close(m_impl->wakeFd);
    }
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

const std::string& SerialPort::failureReason() const {
  return m_impl->failure;
}

const std::string& SerialPort::lockWarning() const {
  return m_impl->lockWarning;
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
  // The shared lock file first: a program that honours it never touches a
  // port another one holds, not even to open it.
  std::string reason;
  if (!TakeLockFile(path, m_impl->lockPath, reason, m_impl->lockWarning)) {
    SetError(osError, path, reason);
    return false;
  }
  // Non-blocking: the open must not wait for carrier, and a read never waits.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(osError, path, std::strerror(errno));
    m_impl->ReleaseLock();
    return false;
  }
  bool exclusive = false;
  auto fail = [&](const char* what) {
    SetError(osError, path, what);
    // The exclusive flag outlives our descriptor: a later opener (a restarted
    // copy of this program) would get EBUSY.
    if (exclusive) (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    m_impl->ReleaseLock();
    return false;
  };
  if (!::isatty(fd)) return fail("not a terminal");
  // TIOCEXCL keeps other users out but not root; the advisory lock also
  // stops a second copy of this program running as root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? "in use by another program" : std::strerror(errno));
  }
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(std::strerror(errno));
  exclusive = true;

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
  m_impl->ReleaseLock();
}

SerialPort::WaitResult SerialPort::Wait() {
  if (m_impl->woken.load()) return WaitResult::kWoken;
  if (m_impl->fd < 0) {
    m_impl->failure = "the port is closed";
    return WaitResult::kFailed;
  }
  pollfd fds[2] = {{m_impl->fd, POLLIN, 0}, {m_impl->wakeFd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      m_impl->failure = std::strerror(errno);
      return WaitResult::kFailed;
    }
    break;
  }
  if (fds[1].revents != 0 || m_impl->woken.load()) return WaitResult::kWoken;
  const short revents = fds[0].revents;
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    // A hung-up terminal stays readable for ever; bytes that made it into the
    // queue before the hang-up are still taken, then the wait fails.
    if (QueuedBytes() > 0) return WaitResult::kReceived;
    m_impl->failure = (revents & POLLHUP) ? "the device hung up" : "the device reported an error";
    return WaitResult::kFailed;
  }
  if (revents & POLLIN) return WaitResult::kReceived;
  m_impl->failure = "the wait ended with no data";
  return WaitResult::kFailed;
}

int SerialPort::QueuedBytes() {
  if (m_impl->fd < 0) return -1;
  int queued = 0;
  if (::ioctl(m_impl->fd, FIONREAD, &queued) != 0) {
    m_impl->failure = std::strerror(errno);
    return -1;
  }
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
    m_impl->failure = std::strerror(errno);
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
