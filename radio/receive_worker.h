// SPDX-License-Identifier: MIT
// The receive worker: the one thread that reads the radio and feeds the parser.
//
// Each cycle: stop test, wait for received bytes, read what is queued (at most
// 512) into one fixed block, feed every byte; a completed report is stored and
// handed to every output, under the table's lock, before the next byte.
// After a failed wait or a hang-up the worker says so once, pauses (up to 1 s,
// cut short by a stop) and reopens the device when it is back; table and
// outputs are kept.
// Heartbeat: the worker notes when it leaves its wait or pause and clears the
// note when it goes back, so "busy for long" tells a stuck worker from an idle
// one without any lock.
// Owns: the thread, the stop flag and the port lock. The radio link owns it
// and everything it works on.
// Thread: created and started on the front end's thread; Stop from any other.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "radio/port_settings.h"
#include "radio/radio_link.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "stations/station_table.h"

namespace rigplot {

class ReceiveWorker {
 public:
  // Creates the worker without starting it. `config` is what the port was
  // opened with, used again when the device has to be reopened.
  ReceiveWorker(SerialPort& port, const PortConfig& config, ReportParser& parser,
                StationTable& table, OutputList& outputs, LinkEventSink sink = {});
  ~ReceiveWorker();
  ReceiveWorker(const ReceiveWorker&) = delete;
  ReceiveWorker& operator=(const ReceiveWorker&) = delete;

  // Starts the thread. False when it could not be created.
  [[nodiscard]] bool Start();

  // Stop sequence, worker part: set the stop flag, wake the wait and the
  // pause, and wait up to `limit` for the thread to end. True when it ended
  // (or never started). Safe to call more than once.
  bool Stop(std::chrono::milliseconds limit = kStopLimit);

  // Empties the table on the worker's thread: after the store it is in, or
  // before its next wait at the latest. For a clear that must not wait for
  // the table's lock while the worker holds it.
  void RequestClear() { m_clearPending.store(true); }

  // Lets a thread that did not stop run on alone; its owner must keep this
  // worker and what it works on for the rest of the process.
  void Abandon();

  // The destructor's wait: past it, a thread still running ends the process,
  // since what it works on is about to be freed.
  static constexpr std::chrono::seconds kStopLimit{10};

  bool stopRequested() const { return m_stopRequested.load(); }

  // Completed reports since start, for the service's and tests' eyes.
  std::uint64_t reportsStored() const { return m_reportsStored.load(); }

  // Reads that delivered bytes, and reopens after the device went away.
  std::uint64_t blocksRead() const { return m_blocksRead.load(); }
  std::uint64_t reopens() const { return m_reopens.load(); }

  // False from a failed wait or read until the device is open again.
  bool adapterPresent() const { return m_adapterPresent.load(); }

  // How long the worker has been away from its wait and pause; zero while it
  // rests there or does not run.
  std::chrono::steady_clock::duration busyFor() const;

  // The worker's thread, so a measurement can find its CPU time.
  std::thread::native_handle_type nativeHandle() { return m_thread.native_handle(); }

 private:
  void ReceiveThreadProc();
  void PauseAndReopen(const std::string& reason);
  void ClearIfRequested();  // caller holds the table's lock
  void Rest() { m_busySince.store(0, std::memory_order_relaxed); }
  void Busy();

  SerialPort& m_port;
  PortConfig m_config;
  ReportParser& m_parser;
  StationTable& m_table;
  OutputList& m_outputs;
  LinkEventSink m_sink;

  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<std::uint64_t> m_reportsStored{0};
  std::atomic<std::uint64_t> m_blocksRead{0};
  std::atomic<std::uint64_t> m_reopens{0};
  std::atomic<bool> m_adapterPresent{true};
  std::atomic<bool> m_clearPending{false};
  std::atomic<std::chrono::steady_clock::rep> m_busySince{0};  // 0: resting
  std::mutex m_portLock;  // guards reopening the port against Stop's wake; the pause waits on it
  std::condition_variable m_pauseWake;
  std::mutex m_endLock;  // m_ended and its condition, for a stop with a time limit
  std::condition_variable m_endWake;
  bool m_ended = false;
};

}  // namespace rigplot
