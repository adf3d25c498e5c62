// SPDX-License-Identifier: MIT
// The serial port the radio is connected to, receive only.
//
// One interface, one implementation file per OS (serial_port_posix.cpp now).
// Owns: the open device and whatever wakes a pending wait.
// Invariants: opened exclusively (on Linux also under the UUCP lock file that
// serial programs share); 8N1, raw, XON/XOFF both ways, modem lines ignored;
// the program itself never writes to the radio.
// Thread: the worker waits and reads; Wake may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace rigplot {

inline constexpr char kPortOpenFailedMessage[] =
    "COMポートの番号が違っているか、指定が間違っています。";

class SerialPort {
 public:
  static constexpr int kBlockSize = 512;

  enum class WaitResult {
    kReceived,  // at least one byte is queued
    kWoken,     // Wake was called
    kFailed,    // the device failed or hung up
  };

  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  SerialPort(SerialPort&&) noexcept;
  SerialPort& operator=(SerialPort&&) noexcept;

  // Opens and configures the device. On failure returns false and, when
  // `osError` is given, puts the OS's reason there.
  [[nodiscard]] bool Open(const std::string& path, int baudRate, std::string* osError = nullptr);
  bool IsOpen() const;
  void Close();

  // Blocks until a byte is queued, Wake is called, or the device fails.
  // Once woken, every later wait returns kWoken at once, until the next Open.
  WaitResult Wait();

  // Bytes waiting in the input queue; -1 when the device fails.
  int QueuedBytes();

  // Reads up to `count` queued bytes (count <= kBlockSize); -1 on failure.
  int Read(std::uint8_t* block, int count);

  // Why the last Wait, QueuedBytes or Read failed, in the OS's words.
  const std::string& failureReason() const;

  // Why the last successful Open went on without a lock file of its own (no
  // lock folder could be written); empty when it took one or needs none.
  // For the front end to say once.
  const std::string& lockWarning() const;

  // Ends a pending Wait from another thread.
  void Wake();

  // True when the device node is there to be opened again.
  static bool DeviceExists(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace rigplot
