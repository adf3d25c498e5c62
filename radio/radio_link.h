// SPDX-License-Identifier: MIT
// The radio link: everything between the serial port and the outputs.
//
// Owns: the port settings, the serial port, the parser, the station table,
// the outputs (the map script first) and the receive worker. Each program
// creates one link; the front ends only decide where its calls come from
// and how a failure is shown.
// Life: Open (settings file and port), Start (the worker), then Stop, which
// is bounded and may be called any number of times (the destructor calls it).
// A worker that does not end in time keeps what it works on: the destructor
// leaves it to the process's end rather than free it under the thread.
// Thread: Open, Start, Stop and AddOutput on the front end's thread;
// ClearTable and the readers from any thread; status and workerStuck never
// wait on the worker. Events are delivered on the thread where the change
// happened (mostly the worker).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "radio/port_settings.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "stations/map_script_writer.h"
#include "stations/station_output.h"
#include "stations/station_table.h"

namespace rigplot {

class ReceiveWorker;
class MapScriptOutput;

// A worker busy this long without coming back to its wait or pause is stuck
// (a write to a full disk, a FIFO nobody reads, a full stderr pipe).
inline constexpr std::chrono::seconds kWorkerStuckAfter{2};

// Why the link could not be set up. The front end shows the matching message.
enum class LinkFailure {
  kNone,
  kSettingsMissing,   // RIGPLOT.ini cannot be opened
  kPortNotOpened,     // the port named there cannot be opened
  kWorkerNotStarted,  // the receive thread could not be created
  kHistoryRefused,    // the history file is newer or not one; osError says which
};

struct LinkResult {
  LinkFailure failure = LinkFailure::kNone;
  std::string osError;  // the OS's own words, where it gave any
  explicit operator bool() const { return failure == LinkFailure::kNone; }
};

// The message the user is shown for a failure (the port message for a worker
// that cannot start too), as UTF-8.
const char* FailureMessage(LinkFailure failure);

// An output's health: working, or failing with the OS's text.
struct OutputHealth {
  std::string name;
  bool working = true;
  std::string osError;
};

// A snapshot for a status page.
struct LinkStatus {
  std::string portPath;
  int baudRate = 0;
  bool adapterPresent = false;
  std::uint64_t reportsStored = 0;
  int stations = 0;
  std::vector<OutputHealth> outputs;
  // A hub's payloads dropped, by kind; empty for a radio.
  std::vector<std::pair<std::string, std::uint64_t>> dropped;
};

// One line for each change of state, without a program name in front:
// "adapter gone from /dev/ttyUSB0: Input/output error".
using LinkEventSink = std::function<void(const std::string& line)>;

// The outputs in the order they are refreshed, each with its health. A
// failing output never stops the ones after it; a change of health is told
// once to the sink.
class OutputList {
 public:
  explicit OutputList(LinkEventSink sink = {}) : m_sink(std::move(sink)) {}

  void Add(std::unique_ptr<StationOutput> output);

  // Caller holds the table's lock.
  void Publish(const StationTable& table, int slot);
  void TableCleared(const StationTable& table);
  void Close();

  // From any thread, never waiting: the outputs let go of their open files
  // before the next publish, on the thread that publishes.
  void RequestReopen() { m_reopen.store(true); }

  std::vector<OutputHealth> health() const;

 private:
  struct Entry {
    std::unique_ptr<StationOutput> output;
    OutputHealth health;
  };
  LinkEventSink m_sink;
  std::vector<Entry> m_entries;
  std::string m_error;  // reused for every publish
  mutable std::mutex m_healthLock;
  std::atomic<bool> m_reopen{false};
};

class RadioLink {
 public:
  explicit RadioLink(LinkEventSink sink = {});
  ~RadioLink();
  RadioLink(const RadioLink&) = delete;
  RadioLink& operator=(const RadioLink&) = delete;

  // Adds an output after the map script. Before Start.
  void AddOutput(std::unique_ptr<StationOutput> output);

  // Reads the settings file and opens the port it names.
  LinkResult Open(const char* settingsFile = kSettingsFileName);
  // Opens the port of a configuration made elsewhere (tests, benchmarks).
  LinkResult Open(const PortConfig& config);

  // Forms the map-script path and starts the worker.
  LinkResult Start();

  // The stop sequence: stop the worker (waiting at most `limit` for it),
  // close the port, close every output. True when the worker ended in time;
  // otherwise the port and outputs are left to the process's end.
  bool Stop(std::chrono::milliseconds limit = kStopLimit);

  static constexpr std::chrono::seconds kStopLimit{10};

  // Empties the station table and tells the outputs; the files wait for the
  // next report. Never waits for the worker: while it holds the table, the
  // worker clears it as soon as it lets go.
  void ClearTable();

  // The output files were moved aside (log rotation): they are opened again
  // under their names before the next report is written. Never waits.
  void ReopenOutputs() { m_parts->outputs.RequestReopen(); }

  const PortConfig& config() const { return m_config; }
  std::string mapScriptPath() const;
  std::uint64_t reportsStored() const;
  std::uint64_t blocksRead() const;
  std::uint64_t reopens() const;
  bool adapterPresent() const;
  // From counts the worker publishes: answers at once, however the worker is.
  LinkStatus status() const;
  // True while the worker has been busy for longer than kWorkerStuckAfter.
  bool workerStuck() const;

  // For tests and measurements: the table (lock its mutex() to read it) and
  // the worker's thread.
  const StationTable& table() const { return m_parts->table; }
  SerialPort& port() { return m_parts->port; }
  ReceiveWorker* worker() { return m_parts->worker.get(); }

 private:
  // What the worker works on, on the heap so that a worker that did not end
  // can keep it.
  struct Parts {
    explicit Parts(LinkEventSink sink);
    ~Parts();
    SerialPort port;
    ReportParser parser;
    StationTable table;
    OutputList outputs;
    std::unique_ptr<ReceiveWorker> worker;
  };

  LinkEventSink m_sink;
  PortConfig m_config;
  std::unique_ptr<Parts> m_parts;
  MapScriptOutput* m_mapScript = nullptr;  // the first of the outputs
  std::string m_mapScriptPath;
  bool m_stopped = false;
};

}  // namespace rigplot
