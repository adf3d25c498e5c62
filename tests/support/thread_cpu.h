// SPDX-License-Identifier: MIT
// CPU time of a running thread, for checks that the worker rests and for
// what the benchmarks say it costs. Linux only.
#pragma once

#include <pthread.h>
#include <time.h>

#include <thread>

namespace rigplot::test {

// Microseconds; 0 when the thread's clock cannot be read.
inline double ThreadCpuUs(std::thread::native_handle_type thread) {
  clockid_t clock;
  timespec ts{};
  if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

}  // namespace rigplot::test
