// SPDX-License-Identifier: MIT
// rigplotd: the radio link with no window, for headless stations and services.
//
// Reads RIGPLOT.ini from the current directory, opens the port and runs the
// receive worker until it is told to stop (service_events.h: signals on
// POSIX, console events on Windows). Every change of the link's state is one
// line on stderr, the journal under systemd. Exit status 0 after a stop, 1
// when the link cannot be set up, 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/service_events.h"
#include "service/service_notify.h"
#include "station/hub_station.h"
#include "station/station.h"

namespace {

void Say(const std::string& line) {
  std::fprintf(stderr, "rigplotd: %s\n", line.c_str());
}

// A start that failed: the message the desktop program shows, then the OS's words.
int Failed(const rigplot::LinkResult& result) {
  std::fprintf(stderr, "%s\n%s\n", rigplot::FailureMessage(result.failure), result.osError.c_str());
  return 1;
}

// Clears the table or reopens the files as asked, until the stop is asked
// for; the radio's station and the hub alike.
template <class Front>
void AnswerEvents(Front& front) {
  using rigplot::ServiceEvent;
  for (ServiceEvent event; (event = rigplot::WaitServiceEvent()) != ServiceEvent::kStop;) {
    if (event == ServiceEvent::kClearTable) {
      front.ClearTable();
      Say("station table cleared");
    } else {
      front.ReopenFiles();
      Say("output files reopened");
    }
  }
}

int Run(const rigplot::CommandLine& options) {
  using namespace rigplot;

  // Before any thread exists: on POSIX every thread inherits the blocked signals.
  if (!ArmServiceEvents()) {
    Say("cannot take the stop signals");
    return 1;
  }

  Station station(options, &Say);
  LinkResult result = station.Open();
  if (result) result = station.Start();
  if (!result) return Failed(result);
  Say(station.Describe());
  NotifyReady("listening on " + station.link().config().portPath);
  ServiceWatchdog watchdog([&station] { return !station.workerStuck(); });

  AnswerEvents(station);

  // The stop sequence: the page, the worker, then the port and the files.
  NotifyStopping();
  watchdog.Stop();
  if (!station.Stop()) {
    Say("the receive thread did not end; leaving without it");
    std::fflush(stderr);
    std::_Exit(0);
  }
  Say("stopped after " + std::to_string(station.reportsStored()) + " reports");
  return 0;
}

// A hub: the same events and journal, the merged table in place of the radio.
int RunHub(const rigplot::CommandLine& options) {
  using namespace rigplot;
  if (!ArmServiceEvents()) {
    Say("cannot take the stop signals");
    return 1;
  }
  HubStation hub(options, &Say);
  if (const LinkResult opened = hub.Open(); !opened) return Failed(opened);
  std::string error;
  if (!hub.Start(error)) {
    Say("cannot start the hub: " + error);
    return 1;
  }
  Say(hub.Describe());
  NotifyReady("hub for " + MqttAddress(options.mqtt));
  ServiceWatchdog watchdog([] { return true; });
  AnswerEvents(hub);
  NotifyStopping();
  watchdog.Stop();
  hub.Stop();
  const HubCounts counts = hub.counts();
  std::string dropped;
  for (int kind = 1; kind < static_cast<int>(HubDrop::kCount); ++kind) {
    if (counts.dropped[kind] == 0) continue;
    dropped += std::string(dropped.empty() ? "" : ", ") + std::to_string(counts.dropped[kind]) +
               " " + HubDropName(static_cast<HubDrop>(kind));
  }
  Say("stopped after " + std::to_string(counts.merged) + " reports merged" +
      (dropped.empty() ? "" : "; dropped " + dropped));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const rigplot::CommandLine options =
      rigplot::ParseCommandLine(rigplot::ServiceArguments(argc, argv));
  const std::string events = std::string("\n") + rigplot::kServiceEventsHelp;
  const int answered = rigplot::AnswerWithoutRunning(options, "rigplotd", events.c_str());
  if (answered >= 0) return answered;
  return options.noRadio ? RunHub(options) : Run(options);
}
