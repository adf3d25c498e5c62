// SPDX-License-Identifier: MIT
// A station: the radio link with the outputs and the page the command line
// asks for, set up, run and stopped the same way by every front end.
//
//   Station station(options, sink);
//   LinkResult result = station.Open();  // settings, port, outputs, the page's address
//   if (result) result = station.Start();  // the worker, then the page answers
//   ... station.ClearTable(), station.status(), station.workerStuck() ...
//   station.Stop();                      // page, worker, port, outputs
//
// Owns: the radio link and the page. An output or network part is made in
// Open and ended in Stop, here and nowhere else.
// Invariants: the page never answers before the worker runs, and goes before
// the link. Stop is bounded (the page's timeouts, then `limit` for the
// worker) and may be called any number of times; the destructor calls it.
// Thread: the front end's; status and workerStuck from any thread, and
// neither waits on the worker.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "mqtt/hub.h"
#include "radio/radio_link.h"
#include "station/command_line.h"
#include "web/web_page.h"

namespace rigplot {

// The broker's password from --mqtt-password-file or RIGPLOT_MQTT_PASSWORD,
// never from the command line, where any user sees it.
bool ReadMqttPassword(const MqttSettings& settings, std::string& password, std::string& error);

class Station {
 public:
  Station(const CommandLine& options, LinkEventSink sink);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Reads the settings file, opens the port, adds the file outputs and takes
  // the page's address. A page that cannot have its address is said once to
  // the sink and left out; the station runs without it.
  LinkResult Open(const char* settingsFile = kSettingsFileName);

  // Starts the worker, then lets the page answer.
  LinkResult Start();

  // True when the worker ended within `limit`; otherwise the port and the
  // outputs are left to the process's end.
  bool Stop(std::chrono::milliseconds limit = RadioLink::kStopLimit);

  // Empties the table; the files wait for the next report.
  void ClearTable() { m_link.ClearTable(); }
  // After log rotation: the files are opened again under their names.
  void ReopenFiles() { m_link.ReopenOutputs(); }

  LinkStatus status() const { return m_link.status(); }
  bool workerStuck() const { return m_link.workerStuck(); }
  std::uint64_t reportsStored() const { return m_link.reportsStored(); }

  // What runs where, for the log: "listening on /dev/ttyUSB0 at 9600 baud,
  // map script /tmp/0.mps, page http://127.0.0.1:8073/".
  std::string Describe() const;

  const RadioLink& link() const { return m_link; }
  // Null when the page is off or could not have its address.
  const WebPage* page() const { return m_page.get(); }

 private:
  void OpenMqtt();
  void OpenSubscription();

  CommandLine m_options;
  std::string m_mqttAddress;  // empty while not publishing
  LinkEventSink m_sink;
  RadioLink m_link;
  std::unique_ptr<WebPage> m_page;  // declared after the link, so it goes first
  std::shared_ptr<Hub> m_hub;       // --subscribe: the others beside what the radio hears
};

}  // namespace rigplot
