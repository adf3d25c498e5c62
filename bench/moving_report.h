// SPDX-License-Identifier: MIT
// A checksummed report of station n on its step-th move, for the benchmarks
// that feed a link through a pseudo-terminal. `tag` keeps one bench's
// callsigns apart from another's.
#pragma once

#include <cstdio>
#include <string>

#include "tests/support/nmea.h"

namespace rigplot::bench {

inline std::string MovingStationReport(int n, int step, char tag) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,%02d%02d%02d,A,35%02d.%04d,N,139%02d.%04d,E,%03d.%d,%03d.0,071226,,,A",
                n % 24, step % 60, (n * 7) % 60, n % 60, (n * 37 + step) % 10000, (n * 3) % 60,
                (n * 53 + step) % 10000, n % 90, n % 10, (n * 36 + step) % 360);
  char line[40];
  std::snprintf(line, sizeof line, "JA%d%c%03d,%02d msg %d", n % 10, tag, n, n % 15, step);
  return test::Report(body, line);
}

}  // namespace rigplot::bench
