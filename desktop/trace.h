// SPDX-License-Identifier: MIT
// A trace for the window tests, off unless the environment asks for it, and
// the other lines both desktop programs write to stderr.
//
// RIGPLOT_TRACE=1 prints one line per step of start-up, command and shutdown
// to stderr, so a test can check their order from outside the process.
// Thread: the UI thread; TraceLine from any (it is the station's sink).
#pragma once

#include <string>

namespace rigplot {

struct LinkResult;

// Reads RIGPLOT_TRACE; called once at start-up, before the first Trace.
void EnableTraceFromEnvironment();

// printf-style; one line, "rigplot: " in front.
[[gnu::format(printf, 1, 2)]] void Trace(const char* format, ...);

// The station's change lines: the desktop programs show them only in the trace.
void TraceLine(const std::string& line);

// A start-up failure's OS reason on stderr, before the message box; nothing
// for a missing settings file, whose message says it all.
void SayStartupFailure(const LinkResult& result);

}  // namespace rigplot
