// A trace for the window tests, off unless the environment asks for it.
//
// RIGPLOT_TRACE=1 prints one line per step of start-up, command and shutdown
// to stderr, so a test can check their order from outside the process.
// Thread: the UI thread.
#pragma once

namespace rigplot {

// Reads RIGPLOT_TRACE; called once at start-up, before the first Trace.
void EnableTraceFromEnvironment();

// printf-style; one line, "rigplot: " in front.
[[gnu::format(printf, 1, 2)]] void Trace(const char* format, ...);

}  // namespace rigplot
