// What the running service is told from outside: stop, or clear the table.
//
// POSIX: signals (SIGINT, SIGTERM, SIGHUP stop; SIGUSR1 clears the table).
// Windows: console control events (Ctrl+C, Ctrl+Break, closing the console,
// log-off and shut-down stop; nothing clears the table).
// One implementation file per OS. Thread: the main thread, which arms the
// events before any other thread exists and then waits for them.
#pragma once

namespace rigplot {

enum class ServiceEvent {
  kStop,
  kClearTable,
};

// Readies the process for the events. False when the system refuses.
bool ArmServiceEvents();

// Blocks until the next event arrives.
ServiceEvent WaitServiceEvent();

// The usage text's lines on the events, each ending in a line feed.
extern const char kServiceEventsHelp[];

}  // namespace rigplot
