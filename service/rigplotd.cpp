// rigplotd: the radio link with no window, for headless stations and services.
//
// Reads RIGPLOT.ini from the current directory, opens the port and runs the
// receive worker until it is told to stop (service_events.h: signals on
// POSIX, console events on Windows). Exit status 0 after a stop, 1 when the
// link cannot be set up.
#include <cstdio>
#include <cstring>
#include <string>

#include "radio/port_settings.h"
#include "radio/receive_worker.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "service/service_events.h"
#include "service/service_notify.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"

#ifndef RIGPLOT_VERSION
#define RIGPLOT_VERSION "unknown"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: rigplotd [--help | --version]\n"
    "\n"
    "Listens to a D-STAR radio on the serial port named in RIGPLOT.ini (current\n"
    "directory; e.g. \"COM1 9600\" or \"ttyUSB0 9600\") and rewrites the map script\n"
    "0.mps in the TEMP directory after every position report heard.\n"
    "\n";

int Run() {
  using namespace rigplot;

  // Before any thread exists: on POSIX every thread inherits the blocked signals.
  if (!ArmServiceEvents()) {
    std::fprintf(stderr, "rigplotd: cannot take the stop signals\n");
    return 1;
  }

  PortConfig config;
  if (!LoadPortSettings(config)) {
    std::fprintf(stderr, "%s\n", kSettingsMissingMessage);
    return 1;
  }
  SerialPort port;
  std::string osError;
  if (!port.Open(config.portPath, config.baudRate, &osError)) {
    std::fprintf(stderr, "%s\n%s\n", kPortOpenFailedMessage, osError.c_str());
    return 1;
  }

  ReportParser parser;
  StationTable table;
  MapScriptWriter writer;
  ReceiveWorker worker(port, config, parser, table, writer);
  if (!worker.Start()) {
    std::fprintf(stderr, "rigplotd: cannot start the receive thread\n");
    return 1;
  }
  std::fprintf(stderr, "rigplotd: listening on %s at %d baud, map script %s\n",
               config.portPath.c_str(), config.baudRate, MapScriptPath().c_str());
  NotifyReady("listening on " + config.portPath);
  ServiceWatchdog watchdog([&table] { return LockFreeWithin(table.mutex(), kWorkerStuckAfter); });

  for (;;) {
    if (WaitServiceEvent() == ServiceEvent::kClearTable) {
      {
        std::scoped_lock lock(table.mutex());
        table.Clear();
      }
      std::fprintf(stderr, "rigplotd: station table cleared\n");
      continue;
    }
    break;
  }

  // The stop sequence: end the worker, then release the port and the file.
  NotifyStopping();
  watchdog.Stop();
  worker.Stop();
  port.Close();
  writer.CloseIfOpen();
  std::fprintf(stderr, "rigplotd: stopped after %llu reports\n",
               static_cast<unsigned long long>(worker.reportsStored()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(rigplot::kServiceEventsHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("rigplotd %s\n", RIGPLOT_VERSION);
      return 0;
    }
    std::fprintf(stderr, "rigplotd: unknown argument '%s'\n\n%s%s", argv[i], kUsage,
                 rigplot::kServiceEventsHelp);
    return 2;
  }
  return Run();
}
