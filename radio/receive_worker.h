// The receive worker: the one thread that reads the radio and feeds the parser.
//
// Each cycle: stop test, wait for received bytes, read what is queued (at most
// 512) into one fixed block, feed every byte; a completed report is stored and
// the map script rewritten, under the table's lock, before the next byte.
// After a failed wait or a hang-up the worker pauses (up to 1 s, cut short by
// a stop) and reopens the device when it is back; table and map are kept.
// Owns: the thread, the stop flag, the port lock and the map-script path.
// Thread: created and started on the front end's thread; Stop from any other.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "radio/port_settings.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"

namespace rigplot {

class ReceiveWorker {
 public:
  // Creates the worker without starting it. `config` is what the port was
  // opened with, used again when the device has to be reopened.
  ReceiveWorker(SerialPort& port, const PortConfig& config, ReportParser& parser,
                StationTable& table, MapScriptWriter& writer);
  ~ReceiveWorker();
  ReceiveWorker(const ReceiveWorker&) = delete;
  ReceiveWorker& operator=(const ReceiveWorker&) = delete;

  // Starts the thread. False when it could not be created.
  bool Start();

  // Stop sequence, worker part: set the stop flag, wake the wait and the
  // pause, and wait for the thread to end. Safe to call more than once.
  void Stop();

  bool stopRequested() const { return m_stopRequested.load(); }

  // Completed reports since start, for the service's and tests' eyes.
  std::uint64_t reportsStored() const { return m_reportsStored.load(); }

  // Reads that delivered bytes, and reopens after the device went away.
  std::uint64_t blocksRead() const { return m_blocksRead.load(); }
  std::uint64_t reopens() const { return m_reopens.load(); }

  // The worker's thread, so a measurement can find its CPU time.
  std::thread::native_handle_type nativeHandle() { return m_thread.native_handle(); }

  // The map-script path formed when the worker started.
  std::string mapScriptPath() const;

 private:
  void ReceiveThreadProc();
  void PauseAndReopen();

  SerialPort& m_port;
  PortConfig m_config;
  ReportParser& m_parser;
  StationTable& m_table;
  MapScriptWriter& m_writer;

  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<std::uint64_t> m_reportsStored{0};
  std::atomic<std::uint64_t> m_blocksRead{0};
  std::atomic<std::uint64_t> m_reopens{0};
  std::mutex m_portLock;  // guards reopening the port against Stop's wake; the pause waits on it
  std::condition_variable m_pauseWake;
  mutable std::mutex m_pathLock;
  std::string m_mapScriptPath;
};

}  // namespace rigplot
