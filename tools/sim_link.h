// SPDX-License-Identifier: MIT
// The simulator's end of the serial line: a new pseudo-terminal, whose other
// side the receiver opens like a serial port, or a real tty device.
//
// Sends paced like a UART at the chosen baud rate (10 bits a byte) and holds
// back while the receiver has sent XOFF (0x13), until XON (0x11).
// A pseudo-terminal's receiver may come and go: while none has the line open,
// bytes wait in the line's buffer for the next one, and a stale XOFF is
// dropped. The slave side is never held open here, so that a receiver's
// exclusive mode (TIOCEXCL) ends when it closes and it can open again.
// Owns: the master (or device) descriptor.
// Invariants: move-only; closed exactly once.
// Thread: one owner. The stop flag may be set from a signal handler or
// another thread; every wait notices it within 200 ms.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace rigplot {

class SimLink {
 public:
  // A new pseudo-terminal in raw mode. Empty on failure, with the OS's reason.
  static std::optional<SimLink> OpenPseudoTerminal(std::string* error);
  // A tty device, raw 8N1 at `baud` (a rate the device supports).
  static std::optional<SimLink> OpenDevice(const std::string& path, int baud, std::string* error);

  SimLink(SimLink&& other) noexcept;
  SimLink& operator=(SimLink&& other) noexcept;
  SimLink(const SimLink&) = delete;
  SimLink& operator=(const SimLink&) = delete;
  ~SimLink();

  // What the receiver's settings file names: the path without "/dev/", e.g. "pts/3".
  const std::string& portName() const { return m_portName; }
  const std::string& devicePath() const { return m_devicePath; }

  // Pacing: bytes a second, 0 for as fast as the line takes them.
  void SetBaud(int baud);

  // Sends every byte. False when stopped or the line failed (see error()).
  bool Send(std::string_view bytes, const std::atomic<bool>& stop);

  // Waits, still minding XON/XOFF. False when stopped or the line failed.
  bool Pause(double seconds, const std::atomic<bool>& stop);

  // Waits until the receiver has taken every byte sent; calls `stillWaiting`
  // (when given) once if that takes more than two seconds. A receiver that
  // holds a pseudo-terminal exclusively hides its queue: it counts as having
  // read everything. False when stopped or the line failed.
  bool WaitDrained(const std::atomic<bool>& stop,
                   const std::function<void(int unread)>& stillWaiting = {});

  bool held() const { return m_held; }  // XOFF in force
  std::uint64_t bytesSent() const { return m_bytesSent; }
  const std::string& error() const { return m_error; }

 private:
  using Clock = std::chrono::steady_clock;

  SimLink(int fd, bool pseudoTerminal, std::string devicePath);
  void Close();
  // Waits up to `timeout` for input (always) and room to write (when asked);
  // takes in XON/XOFF. False when the line failed.
  bool WaitLine(Clock::duration timeout, bool wantWrite);
  bool TakeInput();
  int Unsent();  // bytes sent but not yet taken by the receiver; -1 on failure
  void Sleep(Clock::duration timeout);
  bool Fail(const char* what);

  int m_fd = -1;
  bool m_pseudoTerminal = false;
  std::string m_devicePath;
  std::string m_portName;
  double m_bytesPerSecond = 0;
  Clock::time_point m_nextSlot{};  // when the paced line may take the next byte
  bool m_held = false;
  std::uint64_t m_bytesSent = 0;
  std::string m_error;
};

// How the simulator runs: the line's pace and how many reports to send.
struct SimRunOptions {
  std::uint64_t count = 0;  // reports to send; 0 without end
  double interval = 0.5;    // pause after each report, seconds
  double linger = 1.0;      // seconds to keep the line open after the last report
  bool realTime = false;    // stamp reports with the wall clock, not the simulated one
  std::function<void(int unread)> stillWaiting;  // see SimLink::WaitDrained
};

struct SimRunResult {
  std::uint64_t reports = 0;  // reports sent, spoilt ones included
  std::uint64_t intact = 0;
  bool lineFailed = false;  // the link's error() says why
};

class SimStream;

// Sends reports from `stream` over `link` until `count` are sent (then waits
// until the receiver has read them and lingers) or `stop` is set.
SimRunResult RunSimulation(SimStream& stream, SimLink& link, const SimRunOptions& options,
                           const std::atomic<bool>& stop);

}  // namespace rigplot
