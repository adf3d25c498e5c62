// rigplotd: the radio link with no window, for headless stations and services.
//
// Reads RIGPLOT.ini from the current directory, opens the port and runs the
// receive worker until SIGINT, SIGTERM or SIGHUP; SIGUSR1 clears the station
// table. Exit status 0 after a stop, 1 when the link cannot be set up.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "radio/port_settings.h"
#include "radio/receive_worker.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
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
    "$TEMP/0.mps after every position report heard.\n"
    "\n"
    "Signals: SIGINT, SIGTERM, SIGHUP stop; SIGUSR1 clears the station table.\n";

int Run() {
  using namespace rigplot;

  // Blocked before any thread exists, so every thread inherits the mask and
  // the signals arrive only at sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, sig);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
    std::fprintf(stderr, "rigplotd: cannot block signals\n");
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

  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      table.Clear();
      std::fprintf(stderr, "rigplotd: station table cleared\n");
      continue;
    }
    break;
  }

  // The stop sequence: end the worker, then release the port and the file.
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
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("rigplotd %s\n", RIGPLOT_VERSION);
      return 0;
    }
    std::fprintf(stderr, "rigplotd: unknown argument '%s'\n\n%s", argv[i], kUsage);
    return 2;
  }
  return Run();
}
