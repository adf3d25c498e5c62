// SPDX-License-Identifier: MIT
// The live page under load: how soon a report reaches a thousand browsers'
// event streams, what rigplotd holds meanwhile, what hostile Range requests
// cost it, and what the connected clients cost the receive worker.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/link_feed.h"
#include "radio/radio_link.h"
#include "radio/receive_worker.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/thread_cpu.h"
#include "tests/support/wait.h"
#include "web/web_page.h"

namespace rigplot {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kClients = 1000;

std::string StationReport(int n, int step) {
  return bench::MovingStationReport(n, step, 'A');
}

// The link with its page on a free loopback port, 100 stations stored.
struct PagedLink {
  test::Pty pty;
  test::TempDir dir{"/dev/shm"};  // the file system's noise kept out of the figures
  RadioLink radio;
  std::unique_ptr<WebPage> page;
  bool ok = false;

  explicit PagedLink(bool withPage) {
    ::setenv("TEMP", dir.path().c_str(), 1);
    if (!pty.ok() || !radio.Open(PortConfig{pty.path(), 19200})) return;
    if (withPage) {
      WebSettings settings;
      settings.port = 0;
      settings.maxClients = kClients + 100;
      settings.tilesUrl.clear();
      page = StartWebPage(radio, settings, {});
      if (!page) return;
    }
    if (!radio.Start()) return;
    if (page) page->Serve();
    std::string all;
    for (int n = 0; n < 100; ++n) all += StationReport(n, 0);
    ok = Send(all, 100);
  }

  bool Send(const std::string& bytes, std::uint64_t reports) {
    return bench::FeedAndWait(pty, radio, bytes, reports);
  }
};

// A thousand browsers' event streams on two epoll threads, so that the
// clients' own threads do not crowd the server out: each connection counts
// whole `stations` events and keeps the time each one finished arriving.
class EventClients {
 public:
  EventClients(int port, int count) : m_arrivals(static_cast<std::size_t>(count)) {
    for (int& epoll : m_epolls) epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < count; ++i) {
      const int sock = bench::OpenEventStream(port);
      if (sock < 0) continue;
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u32 = static_cast<std::uint32_t>(i);
      ::epoll_ctl(m_epolls[i % kReaders], EPOLL_CTL_ADD, sock, &event);
      m_socks.push_back(sock);
      m_index.push_back(i);
    }
    m_tails.resize(m_arrivals.size());
    for (int r = 0; r < kReaders; ++r) m_threads.emplace_back([this, r] { Read(m_epolls[r]); });
  }
  ~EventClients() {
    m_stop = true;
    for (std::thread& thread : m_threads) thread.join();
    for (const int sock : m_socks) ::close(sock);
    for (const int epoll : m_epolls) ::close(epoll);
  }

  std::size_t connected() const { return m_socks.size(); }

  // The fewest events any client has had.
  std::size_t MinEvents() {
    std::scoped_lock lock(m_lock);
    std::size_t least = SIZE_MAX;
    for (const int i : m_index) least = std::min(least, m_arrivals[i].size());
    return m_index.empty() ? 0 : least;
  }
  std::vector<std::vector<Clock::time_point>> Arrivals() {
    std::scoped_lock lock(m_lock);
    std::vector<std::vector<Clock::time_point>> out;
    for (const int i : m_index) out.push_back(m_arrivals[i]);
    return out;
  }

 private:
  void Read(int epoll) {
    static constexpr std::string_view kEnd = "data: ]}\n\n";  // the last line of every event
    std::vector<epoll_event> ready(256);
    std::vector<char> buffer(1 << 18);
    while (!m_stop) {
      const int n = ::epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), 100);
      for (int k = 0; k < n; ++k) {
        const std::uint32_t i = ready[k].data.u32;
        const auto got = ::recv(m_socks[IndexOf(i)], buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got <= 0) continue;
        const auto now = Clock::now();
        std::string& tail = m_tails[i];
        tail.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t found = 0;
        for (auto at = tail.find(kEnd); at != std::string::npos; at = tail.find(kEnd, at + 1)) {
          ++found;
        }
        if (found > 0) {
          std::scoped_lock lock(m_lock);
          m_arrivals[i].insert(m_arrivals[i].end(), found, now);
        }
        tail.erase(0, tail.size() > kEnd.size() ? tail.size() - kEnd.size() + 1 : 0);
      }
    }
  }
  std::size_t IndexOf(std::uint32_t client) const {
    // m_index is ascending: clients that failed to connect are left out.
    return static_cast<std::size_t>(
        std::lower_bound(m_index.begin(), m_index.end(), static_cast<int>(client)) -
        m_index.begin());
  }

  static constexpr int kReaders = 2;
  std::array<int, kReaders> m_epolls{};
  std::vector<int> m_socks;
  std::vector<int> m_index;
  std::vector<std::string> m_tails;
  std::vector<std::thread> m_threads;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::vector<std::vector<Clock::time_point>> m_arrivals;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

// rigplotd itself, on the pty, its page on a free loopback port; its
// /proc/PID/status read for memory and threads.
class Rigplotd {
 public:
  explicit Rigplotd(const std::string& dir) {
    {
      std::ofstream ini(dir + "/RIGPLOT.ini");
      ini << m_pty.path().substr(5) << " 19200\n";
    }
    const std::string log = dir + "/rigplotd.log";
    m_pid = ::fork();
    if (m_pid == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
      ::setenv("TEMP", dir.c_str(), 1);
      const std::string program = std::string(RIGPLOT_BIN_DIR) + "/rigplotd";
      const std::string clients = std::to_string(kClients + 100);
      ::execl(program.c_str(), program.c_str(), "--web", "127.0.0.1:0", "--web-clients",
              clients.c_str(), "--tiles", "none", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    test::WaitUntil([&] {
      std::ifstream in(log);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto at = text.find("page http://127.0.0.1:");
      if (at != std::string::npos) m_port = std::atoi(text.c_str() + at + 22);
      return m_port > 0;
    });
  }
  ~Rigplotd() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }

  int port() const { return m_port; }
  const test::Pty& pty() const { return m_pty; }
  // Its CPU time so far, user and system, in milliseconds.
  double CpuMs() const {
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    long utime = 0, stime = 0;
    if (close == std::string::npos ||
        std::sscanf(stat.c_str() + close + 1,
                    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) != 2) {
      return 0;
    }
    return static_cast<double>(utime + stime) * 1000.0 /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  // A line of /proc/PID/status as a number ("VmRSS" in kB, "Threads").
  long Status(const std::string& field) const {
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
  }

 private:
  test::Pty m_pty;
  pid_t m_pid = -1;
  int m_port = 0;
};

// One GET on a new connection; what came back, read until the server closes.
std::string Exchange(int port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) >= 0) {
    char buffer[65536];
    for (ssize_t got; (got = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(sock);
  return answer;
}

// From the byte that completes a report to the whole `stations` event at each
// of 1,000 clients of rigplotd, 100 stations in the table, 20 reports a
// second; and what rigplotd holds meanwhile.
void BM_PageEventLatency(benchmark::State& state) {
  test::TempDir dir{"/dev/shm"};
  Rigplotd daemon(dir.path());
  if (daemon.port() <= 0) {
    state.SkipWithError("rigplotd did not start its page");
    return;
  }
  std::string all;
  for (int n = 0; n < 100; ++n) all += StationReport(n, 0);
  daemon.pty().Send(all);
  const long threadsAlone = daemon.Status("Threads");
  const std::string status =
      "GET /status.json HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(daemon.port()) +
      "\r\nConnection: close\r\n\r\n";
  test::WaitUntil([&] {
    return Exchange(daemon.port(), status).find("\"stations\":100") != std::string::npos;
  });
  EventClients clients(daemon.port(), kClients);
  // The first event of every stream holds the 100 stations.
  test::WaitUntil([&] { return clients.MinEvents() >= 1; });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<std::size_t> first;  // each client's events before the first round
  for (const auto& arrivals : clients.Arrivals()) first.push_back(arrivals.size());
  std::vector<Clock::time_point> sent;
  int step = 1;
  long peakRss = 0;
  const double cpuBefore = daemon.CpuMs();
  const auto start = Clock::now();
  for (auto _ : state) {
    auto next = Clock::now();
    for (int round = 0; round < 200; ++round, ++step) {
      next += std::chrono::milliseconds(50);  // 20 reports a second
      const std::string report = StationReport(step % 100, step);
      // All but the CR LF that ends the callsign line; the CR completes it.
      if (!daemon.pty().Send(report.substr(0, report.size() - 2))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      sent.push_back(Clock::now());
      if (!daemon.pty().Send("\r\n")) break;
      std::this_thread::sleep_until(next);
      peakRss = std::max(peakRss, daemon.Status("VmRSS"));
    }
    const auto limit = Clock::now() + std::chrono::seconds(10);
    const auto allArrived = [&] {
      const auto all = clients.Arrivals();
      for (std::size_t c = 0; c < all.size(); ++c) {
        if (all[c].size() < first[c] + sent.size()) return false;
      }
      return true;
    };
    while (!allArrived() && Clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const double cpuShare = (daemon.CpuMs() - cpuBefore) /
                          std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::vector<double> latencies;
  std::size_t missed = 0;
  const auto arrivals = clients.Arrivals();
  for (std::size_t c = 0; c < arrivals.size(); ++c) {
    for (std::size_t r = 0; r < sent.size(); ++r) {
      if (first[c] + r < arrivals[c].size()) {
        latencies.push_back(
            std::chrono::duration<double, std::milli>(arrivals[c][first[c] + r] - sent[r]).count());
      } else {
        ++missed;
      }
    }
  }
  state.counters["clients"] = static_cast<double>(clients.connected());
  state.counters["missed_events"] = static_cast<double>(missed);
  state.counters["p50_ms"] = Percentile(latencies, 0.50);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = Percentile(latencies, 1.0);
  state.counters["rss_mb"] = static_cast<double>(peakRss) / 1024.0;
  state.counters["rigplotd_cpu_pct"] = cpuShare * 100.0;
  state.counters["threads_alone"] = static_cast<double>(threadsAlone);
  state.counters["threads_serving"] = static_cast<double>(daemon.Status("Threads"));
}
BENCHMARK(BM_PageEventLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100 requests whose Range names thousands of parts: the answer's size, and
// rigplotd's peak memory after them.
void BM_HostileRange(benchmark::State& state) {
  test::TempDir dir{"/dev/shm"};
  Rigplotd daemon(dir.path());
  if (daemon.port() <= 0) {
    state.SkipWithError("rigplotd did not start its page");
    return;
  }
  std::string ranges = "bytes=";
  while (ranges.size() < 7900) ranges += "-,";
  const std::string request =
      "GET /leaflet.js HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(daemon.port()) +
      "\r\nRange: " + ranges + "0-1\r\nConnection: close\r\n\r\n";
  std::size_t largest = 0;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i)
      largest = std::max(largest, Exchange(daemon.port(), request).size());
  }
  state.counters["request_bytes"] = static_cast<double>(request.size());
  state.counters["answer_kb"] = static_cast<double>(largest) / 1024.0;
  state.counters["peak_rss_mb"] = static_cast<double>(daemon.Status("VmHWM")) / 1024.0;
}
BENCHMARK(BM_HostileRange)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The worker's time to store a report and rewrite every output, per report,
// with the page off (-1), on with no client (0), or with 1,000 clients.
void BM_WorkerStoreAndRewrite(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  PagedLink link(count >= 0);
  if (!link.ok) {
    state.SkipWithError("cannot set up the link");
    return;
  }
  std::unique_ptr<EventClients> clients;
  if (count > 0) {
    clients = std::make_unique<EventClients>(link.page->port(), count);
    test::WaitUntil([&] { return clients->MinEvents() >= 1; });
  }
  std::string batch;
  for (int n = 0; n < 100; ++n) batch += StationReport(n, 7);
  std::uint64_t stored = link.radio.reportsStored();
  std::uint64_t sent = 0;
  const double cpuBefore = test::ThreadCpuUs(link.radio.worker()->nativeHandle());
  for (auto _ : state) {
    stored += 100;
    sent += 100;
    if (!link.Send(batch, stored)) {
      state.SkipWithError("the worker did not keep up");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(sent));
  state.counters["worker_cpu_us_per_report"] =
      (test::ThreadCpuUs(link.radio.worker()->nativeHandle()) - cpuBefore) /
      static_cast<double>(sent);
}
BENCHMARK(BM_WorkerStoreAndRewrite)
    ->Arg(-1)
    ->Arg(0)
    ->Arg(kClients)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
}  // namespace rigplot
