// SPDX-License-Identifier: MIT
// rigplot-sim: a stand-in for a D-STAR radio on the receiver's serial port.
//
//   $ rigplot-sim --stations 30
//   pts/3
// Put "pts/3 9600" in RIGPLOT.ini and start the receiver; stop with Ctrl-C.

#include <signal.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <random>
#include <string>

#include "tools/sim_args.h"
#include "tools/sim_link.h"
#include "tools/sim_stream.h"

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int) {
  g_stop.store(true);
}

// No SA_RESTART: a pending poll returns at once with EINTR.
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  rigplot::SimCommandLine cl;
  std::string error;
  if (!rigplot::ParseSimCommandLine(argc, argv, &cl, &error)) {
    std::fprintf(stderr, "rigplot-sim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(rigplot::SimUsage(), stdout);
    return 0;
  }
  if (cl.version) {
    std::puts("rigplot-sim " RIGPLOT_VERSION);
    return 0;
  }
  if (!cl.seeded)
    cl.stream.seed = (std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}();

  InstallStopHandlers();
  std::optional<rigplot::SimLink> link =
      cl.tty.empty() ? rigplot::SimLink::OpenPseudoTerminal(&error)
                     : rigplot::SimLink::OpenDevice(cl.tty, cl.baud, &error);
  if (!link) {
    std::fprintf(stderr, "rigplot-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", link->portName().c_str());
  std::fflush(stdout);
  link->SetBaud(cl.fast ? 0 : cl.baud);

  cl.run.stillWaiting = [](int unread) {
    std::fprintf(stderr, "rigplot-sim: waiting for the receiver to read the last %d bytes\n",
                 unread);
  };
  rigplot::SimStream stream(cl.stream);
  const rigplot::SimRunResult result = rigplot::RunSimulation(stream, *link, cl.run, g_stop);
  std::fprintf(stderr,
               "rigplot-sim: %" PRIu64 " reports sent (%" PRIu64 " intact), %" PRIu64 " bytes\n",
               result.reports, result.intact, link->bytesSent());
  if (result.lineFailed) {
    std::fprintf(stderr, "rigplot-sim: %s\n", link->error().c_str());
    return 1;
  }
  return 0;
}
