// SPDX-License-Identifier: MIT
// What the running service is told from outside: stop, clear the table, or
// reopen the output files.
//
// POSIX: signals (SIGINT, SIGTERM stop; SIGUSR1 clears the table; SIGHUP
// reopens the files, as log rotation expects).
// Windows: console control events (Ctrl+C, Ctrl+Break, closing the console,
// log-off and shut-down stop; nothing clears the table).
// One implementation file per OS. Thread: the main thread, which arms the
// events before any other thread exists and then waits for them.
#pragma once

#include <string>
#include <vector>

namespace rigplot {

// The command line's arguments after the program's name, in UTF-8 as every
// path option is read (Windows hands main() its code page's bytes).
std::vector<std::string> ServiceArguments(int argc, char** argv);

enum class ServiceEvent {
  kStop,
  kClearTable,
  kReopenFiles,
};

// Readies the process for the events. False when the system refuses.
bool ArmServiceEvents();

// Blocks until the next event arrives.
ServiceEvent WaitServiceEvent();

// The usage text's lines on the events, each ending in a line feed.
extern const char kServiceEventsHelp[];

}  // namespace rigplot
