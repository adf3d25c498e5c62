// A trace for the window tests, off unless the environment asks for it.
//
// RIGPLOT_TRACE=1 prints one line per step of start-up, command and
// shutdown to stderr, so a test can check their order from outside.
// Thread: the UI thread.
#pragma once

namespace rigplot {

void InstallTestHooks();

// RIGPLOT_TEST_NO_WORKER=1: the receive thread is taken as not started, so a
// test can see what the user sees when the system refuses a thread.
bool TestRefusesWorker();

// printf-style; one line, "rigplot: " in front.
[[gnu::format(printf, 1, 2)]] void Trace(const char* format, ...);

}  // namespace rigplot
