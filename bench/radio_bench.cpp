// SPDX-License-Identifier: MIT
// The radio link end to end: reports written into a pseudo-terminal's master
// side as fast as it takes them, the receive worker on the slave parsing,
// storing and rewriting the map script after each one. And the idle cost of
// a silent line, which should be nothing at all.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "radio/radio_link.h"
#include "radio/receive_worker.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/thread_cpu.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

// One report from each of 100 stations, moving in different directions.
std::string HundredStations() {
  std::string reports;
  for (int n = 0; n < 100; ++n) {
    char body[96];
    std::snprintf(body, sizeof body,
                  "GPRMC,%02d%02d%02d,A,35%02d.%04d,N,139%02d.%04d,E,%03d.%d,%03d.0,071226,,,A",
                  n % 24, n % 60, (n * 7) % 60, n % 60, n * 37 % 10000, (n * 3) % 60,
                  n * 53 % 10000, n % 90, n % 10, (n * 36) % 360);
    char line[40];
    std::snprintf(line, sizeof line, "JA%dA%03d,%02d msg %d", n % 10, n, n % 15, n);
    reports += test::Report(body, line);
  }
  return reports;
}

// The link as a front end sets it up, on a fresh pty, the map script in a
// fresh directory under `parent`.
struct Link {
  test::Pty pty;
  test::TempDir dir;
  RadioLink radio;

  explicit Link(const std::string& parent = "/tmp") : dir(parent) {
    ::setenv("TEMP", dir.path().c_str(), 1);
    ok = pty.ok() && !dir.path().empty() && radio.Open(PortConfig{pty.path(), 19200});
  }
  bool Start() { return ok && radio.Start(); }
  bool ok = false;
};

// The map script's directory decides much of the cost: on ext4, replacing a
// file by rename starts writeback of the new file every time.
void EndToEnd(benchmark::State& state, const std::string& mapParent) {
  Link link(mapParent);
  if (!link.Start()) {
    state.SkipWithError("cannot set up the pty link");
    return;
  }
  const std::string batch = HundredStations();
  std::uint64_t sent = 0;
  std::size_t flowControlBytes = 0;
  const double workerCpuBefore = test::ThreadCpuUs(link.radio.worker()->nativeHandle());
  for (auto _ : state) {
    if (!link.pty.Send(batch)) {
      state.SkipWithError("write to the pty failed");
      break;
    }
    sent += 100;
    while (link.radio.reportsStored() < sent) {
      flowControlBytes += link.pty.TakeSent().size();
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(sent));
  state.counters["stations"] = link.radio.status().stations;
  state.counters["worker_cpu_us_per_report"] =
      (test::ThreadCpuUs(link.radio.worker()->nativeHandle()) - workerCpuBefore) /
      static_cast<double>(sent);
  state.counters["xon_xoff_bytes"] = static_cast<double>(flowControlBytes);
}
void BM_EndToEndPty(benchmark::State& state) {
  EndToEnd(state, "/tmp");
}
void BM_EndToEndPtyTmpfs(benchmark::State& state) {
  EndToEnd(state, "/dev/shm");
}
BENCHMARK(BM_EndToEndPty)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EndToEndPtyTmpfs)->Unit(benchmark::kMillisecond)->UseRealTime();

std::set<std::string> TaskIds() {
  std::set<std::string> ids;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    }
    ::closedir(dir);
  }
  return ids;
}

// utime + stime of a thread, in clock ticks.
long CpuTicks(const std::string& tid) {
  std::ifstream in("/proc/self/task/" + tid + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');  // the name may hold blanks
  if (close == std::string::npos) return -1;
  long utime = 0, stime = 0;
  // After ")": state, then fields 4 to 13, then utime (14) and stime (15).
  if (std::sscanf(stat.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld",
                  &utime, &stime) != 2) {
    return -1;
  }
  return utime + stime;
}

long ContextSwitches(const std::string& tid, const char* which) {
  std::ifstream in("/proc/self/task/" + tid + "/status");
  std::string line;
  const std::size_t length = std::strlen(which);
  while (std::getline(in, line)) {
    if (line.compare(0, length, which) == 0) return std::stol(line.substr(length + 1));
  }
  return -1;
}

// A silent line for 10 s: the worker should use no CPU and never wake.
void BM_IdleSilentLine(benchmark::State& state) {
  Link link;
  const std::set<std::string> before = TaskIds();
  if (!link.Start()) {
    state.SkipWithError("cannot set up the pty link");
    return;
  }
  std::string tid;
  for (const std::string& id : TaskIds()) {
    if (!before.count(id)) tid = id;
  }
  if (tid.empty()) {
    state.SkipWithError("cannot find the worker's thread");
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it settle in its wait
  const long ticks = CpuTicks(tid);
  const long voluntary = ContextSwitches(tid, "voluntary_ctxt_switches:");
  const long involuntary = ContextSwitches(tid, "nonvoluntary_ctxt_switches:");
  for (auto _ : state) std::this_thread::sleep_for(std::chrono::seconds(10));
  const double msPerTick = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  state.counters["cpu_ms"] = static_cast<double>(CpuTicks(tid) - ticks) * msPerTick;
  state.counters["voluntary_wakeups"] =
      static_cast<double>(ContextSwitches(tid, "voluntary_ctxt_switches:") - voluntary);
  state.counters["involuntary_switches"] =
      static_cast<double>(ContextSwitches(tid, "nonvoluntary_ctxt_switches:") - involuntary);
}
BENCHMARK(BM_IdleSilentLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace rigplot
