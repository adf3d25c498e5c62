// rigplotd: the radio link with no window, for headless stations and services.
//
// Reads RIGPLOT.ini from the current directory, opens the port and runs the
// receive worker until it is told to stop (service_events.h: signals on
// POSIX, console events on Windows). Every change of the link's state is one
// line on stderr, the journal under systemd. Exit status 0 after a stop, 1
// when the link cannot be set up, 2 for a wrong command line.
#include <cstdio>
#include <string>
#include <vector>

#include "radio/command_line.h"
#include "radio/file_outputs.h"
#include "radio/radio_link.h"
#include "service/service_events.h"
#include "service/service_notify.h"
#include "web/web_page.h"

namespace {

void Say(const std::string& line) {
  std::fprintf(stderr, "rigplotd: %s\n", line.c_str());
}

int Run(const rigplot::CommandLine& options) {
  using namespace rigplot;

  // Before any thread exists: on POSIX every thread inherits the blocked signals.
  if (!ArmServiceEvents()) {
    Say("cannot take the stop signals");
    return 1;
  }

  RadioLink link(&Say);
  for (auto& output : MakeFileOutputs(options)) link.AddOutput(std::move(output));
  LinkResult result = link.Open();
  // The page takes its port before the worker starts; a port in use is said
  // once and the link goes on without it.
  std::unique_ptr<WebPage> page;
  if (result) page = StartWebPage(link, options, &Say);
  if (result) result = link.Start();
  if (!result) {
    std::fprintf(stderr, "%s\n%s\n", FailureMessage(result.failure), result.osError.c_str());
    return 1;
  }
  if (page) page->Serve();
  std::string started = "listening on " + link.config().portPath + " at " +
                        std::to_string(link.config().baudRate) + " baud, map script " +
                        link.mapScriptPath();
  if (page) {
    started += ", page " + page->url();
    // 0.0.0.0 and :: are opened through loopback here but served to the network.
    if (page->url().find(page->boundAddress()) == std::string::npos) {
      started += " (served on " + page->boundAddress() + ")";
    }
  }
  Say(started);
  NotifyReady("listening on " + link.config().portPath);
  // The worker holds the table's lock only while it stores and refreshes the
  // outputs: a lock held for seconds means it is stuck there.
  ServiceWatchdog watchdog(
      [&link] { return LockFreeWithin(link.table().mutex(), kWorkerStuckAfter); });

  while (WaitServiceEvent() == ServiceEvent::kClearTable) {
    link.ClearTable();
    Say("station table cleared");
  }

  // The stop sequence: end the worker, then release the port and the files.
  NotifyStopping();
  watchdog.Stop();
  if (page) page->Stop();
  if (!link.Stop()) {
    Say("the receive thread did not end; leaving without it");
    std::fflush(stderr);
    std::_Exit(0);
  }
  Say("stopped after " + std::to_string(link.reportsStored()) + " reports");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const rigplot::CommandLine options =
      rigplot::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const std::string events = std::string("\n") + rigplot::kServiceEventsHelp;
  const int answered = rigplot::AnswerWithoutRunning(options, "rigplotd", events.c_str());
  if (answered >= 0) return answered;
  return Run(options);
}
