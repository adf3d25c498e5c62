// SPDX-License-Identifier: MIT
// The serial port on Windows: the comm API, WaitCommEvent for the wait,
// ClearCommError for the queue length.
//
// The handle is opened for overlapped I/O. On a synchronous handle Windows
// runs one call at a time, so the SetCommMask(h, 0) that ends a pending wait
// from another thread would itself wait for the next byte from the radio.
// Every operation is still waited for at once: the worker sees plain
// blocking calls.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>

#include "radio/serial_port.h"
#include "stations/os_text_win32.h"

namespace rigplot {

namespace {

void SetError(std::string* osError, const std::string& path, const std::string& what) {
  if (osError) *osError = (path.empty() ? std::string("(no device)") : path) + ": " + what;
}

// Waits for an overlapped call that `started` reports on. False when it failed.
bool Finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) {
  if (started) return GetOverlappedResult(handle, &overlapped, &transferred, FALSE) != FALSE;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(handle, &overlapped, &transferred, TRUE) != FALSE;
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  // Signalled when an overlapped wait or read completes; one call at a time.
  HANDLE ioDone = nullptr;
  std::atomic<bool> woken{false};
  // Guards the handle between Wake on another thread and Open and Close.
  std::mutex handleLock;
  std::string failure;
  std::string lockWarning;  // Windows opens ports exclusively: no lock files
};

SerialPort::SerialPort() : m_impl(std::make_unique<Impl>()) {
  m_impl->ioDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SerialPort::~SerialPort() {
  if (!m_impl) return;
  Close();
  if (m_impl->ioDone != nullptr) CloseHandle(m_impl->ioDone);
}

SerialPort::SerialPort(SerialPort&&) noexcept = default;

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    if (m_impl) {
      Close();
      if (m_impl->ioDone != nullptr) CloseHandle(m_impl->ioDone);
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
  if (baudRate <= 0) {
    SetError(osError, path, "unsupported baud rate");
    return false;
  }
  if (m_impl->ioDone == nullptr) {
    SetError(osError, path, "cannot create the completion event");
    return false;
  }
  if (path.empty()) {
    SetError(osError, path, SystemMessage(ERROR_FILE_NOT_FOUND));
    return false;
  }
  // Read and write, no sharing: a second program (or a second copy of this
  // one) cannot open the port while we hold it.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(osError, path, SystemMessage(GetLastError()));
    return false;
  }
  // A device without a control block is no serial port (NUL, a printer).
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) {
    SetError(osError, path, "not a serial port: " + SystemMessage(GetLastError()));
    CloseHandle(handle);
    return false;
  }

  // From here the driver takes what it can; what it refuses is not fatal.
  SetupComm(handle, kBlockSize, kBlockSize);
  SetCommMask(handle, EV_RXCHAR);
  // No read time-outs: a read returns when its count is in. The worker never
  // asks for more than is queued, so no read waits.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 100;
  SetCommTimeouts(handle, &timeouts);

  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  // XON/XOFF both ways: the driver may hold the radio off while a rewrite runs.
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  SetCommState(handle, &dcb);

  std::lock_guard<std::mutex> lock(m_impl->handleLock);
  // A fresh open starts unwoken. The worker tests its stop flag after every
  // reopen, and Stop sets that flag before it wakes, so no stop is lost.
  m_impl->woken.store(false);
  m_impl->handle = handle;
  return true;
}

bool SerialPort::IsOpen() const {
  return m_impl->handle != INVALID_HANDLE_VALUE;
}

void SerialPort::Close() {
  std::lock_guard<std::mutex> lock(m_impl->handleLock);
  if (m_impl->handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(m_impl->handle);
  m_impl->handle = INVALID_HANDLE_VALUE;
}

SerialPort::WaitResult SerialPort::Wait() {
  if (m_impl->woken.load()) return WaitResult::kWoken;
  const HANDLE handle = m_impl->handle;
  if (handle == INVALID_HANDLE_VALUE) {
    m_impl->failure = "the port is closed";
    return WaitResult::kFailed;
  }
  DWORD events = 0;
  DWORD unused = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = m_impl->ioDone;
  ResetEvent(m_impl->ioDone);
  BOOL started = WaitCommEvent(handle, &events, &overlapped);
  if (!started && GetLastError() == ERROR_IO_PENDING && m_impl->woken.load()) {
    // Woken between the test above and the wait's start: that wake found no
    // wait to end, so end this one the same way.
    SetCommMask(handle, 0);
  }
  const bool ok = Finish(handle, overlapped, started, unused);
  if (m_impl->woken.load()) return WaitResult::kWoken;
  if (!ok) {
    m_impl->failure = SystemMessage(GetLastError());
    return WaitResult::kFailed;
  }
  // Anything but a received character (the mask changed under us): let the
  // queue decide; an empty queue just starts the next cycle.
  return WaitResult::kReceived;
}

int SerialPort::QueuedBytes() {
  const HANDLE handle = m_impl->handle;
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD errors = 0;
  COMSTAT status{};
  // Also clears a line error, which would otherwise stop all reading.
  if (!ClearCommError(handle, &errors, &status)) {
    m_impl->failure = SystemMessage(GetLastError());
    return -1;
  }
  return static_cast<int>(std::min<DWORD>(status.cbInQue, INT_MAX));
}

int SerialPort::Read(std::uint8_t* block, int count) {
  const HANDLE handle = m_impl->handle;
  if (handle == INVALID_HANDLE_VALUE || count < 0) return -1;
  if (count > kBlockSize) count = kBlockSize;
  if (count == 0) return 0;
  DWORD got = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = m_impl->ioDone;
  ResetEvent(m_impl->ioDone);
  const BOOL started = ReadFile(handle, block, static_cast<DWORD>(count), &got, &overlapped);
  if (!started && GetLastError() == ERROR_IO_PENDING && m_impl->woken.load()) {
    // Woken while the read was being started: the wake's cancel missed it.
    CancelIoEx(handle, &overlapped);
    SetLastError(ERROR_IO_PENDING);
  }
  if (!Finish(handle, overlapped, started, got)) {
    // A read cut short by Wake delivers nothing; the worker then meets its stop test.
    if (m_impl->woken.load()) return 0;
    m_impl->failure = SystemMessage(GetLastError());
    return -1;
  }
  return static_cast<int>(got);
}

void SerialPort::Wake() {
  m_impl->woken.store(true);
  std::lock_guard<std::mutex> lock(m_impl->handleLock);
  // An empty event mask ends a pending WaitCommEvent (CancelIo does not, on
  // every system this runs on). A pending read is cancelled too: a driver
  // that reports more queued bytes than it delivers would hold it for ever.
  if (m_impl->handle != INVALID_HANDLE_VALUE) {
    SetCommMask(m_impl->handle, 0);
    CancelIoEx(m_impl->handle, nullptr);
  }
}

bool SerialPort::DeviceExists(const std::string& path) {
  // "\\.\COM3" is there while the DOS device COM3 is defined, which a
  // removed USB adapter takes with it.
  constexpr char kDevicePrefix[] = "\\\\.\\";
  if (path.rfind(kDevicePrefix, 0) == 0) {
    char target[512];
    return QueryDosDeviceA(path.c_str() + sizeof kDevicePrefix - 1, target, sizeof target) != 0;
  }
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace rigplot
