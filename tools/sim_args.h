// SPDX-License-Identifier: MIT
// The command line of rigplot-sim.
// Thread: main only.
#pragma once

#include <string>

#include "tools/sim_link.h"
#include "tools/sim_stream.h"

namespace rigplot {

struct SimCommandLine {
  SimOptions stream;
  SimRunOptions run;
  int baud = 9600;      // line rate: pacing, and the device's speed with --tty
  bool fast = false;    // no pacing
  bool seeded = false;  // --seed given: simulated clock, same bytes every run
  std::string tty;      // empty: a new pseudo-terminal
  bool help = false;
  bool version = false;
};

// Reads argv[1..]; false with a one-line reason on a bad or unknown argument.
// Options take their value as "--name value" or "--name=value".
bool ParseSimCommandLine(int argc, const char* const* argv, SimCommandLine* out,
                         std::string* error);

const char* SimUsage();

}  // namespace rigplot
