// The live page under load: how soon a report reaches the browsers' event
// streams, and what the connected clients cost the receive worker.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

std::string StationReport(int n, int step) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,%02d%02d%02d,A,35%02d.%04d,N,139%02d.%04d,E,%03d.%d,%03d.0,071226,,,A",
                n % 24, step % 60, (n * 7) % 60, n % 60, (n * 37 + step) % 10000, (n * 3) % 60,
                (n * 53 + step) % 10000, n % 90, n % 10, (n * 36 + step) % 360);
  char line[40];
  std::snprintf(line, sizeof line, "JA%dA%03d,%02d msg %d", n % 10, n, n % 15, step);
  return test::Report(body, line);
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

  // Writes the bytes and waits until the worker has stored `reports` in all.
  bool Send(const std::string& bytes, std::uint64_t reports) {
    if (!pty.Send(bytes)) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (radio.reportsStored() < reports) {
      pty.TakeSent();
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    return true;
  }
};

// One browser's event stream: counts whole `stations` events and keeps the
// time each one finished arriving.
class EventClient {
 public:
  explicit EventClient(int port) {
    m_sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    static constexpr char kRequest[] = "GET /events HTTP/1.1\r\nHost: bench\r\n\r\n";
    if (::send(m_sock, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) < 0) return;
    m_thread = std::thread([this] { Read(); });
  }
  ~EventClient() {
    ::shutdown(m_sock, SHUT_RDWR);
    if (m_thread.joinable()) m_thread.join();
    ::close(m_sock);
  }

  std::size_t events() {
    std::scoped_lock lock(m_lock);
    return m_arrivals.size();
  }
  Clock::time_point arrival(std::size_t index) {
    std::scoped_lock lock(m_lock);
    return m_arrivals[index];
  }

 private:
  void Read() {
    static constexpr std::string_view kEnd = "data: ]}\n\n";  // the last line of every event
    std::string tail;
    char buffer[65536];
    for (;;) {
      const auto got = ::recv(m_sock, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      const auto now = Clock::now();
      tail.append(buffer, static_cast<std::size_t>(got));
      std::size_t found = 0;
      for (auto at = tail.find(kEnd); at != std::string::npos; at = tail.find(kEnd, at + 1)) {
        ++found;
      }
      if (found > 0) {
        std::scoped_lock lock(m_lock);
        m_arrivals.insert(m_arrivals.end(), found, now);
      }
      tail.erase(0, tail.size() > kEnd.size() ? tail.size() - kEnd.size() + 1 : 0);
    }
  }

  int m_sock = -1;
  std::thread m_thread;
  std::mutex m_lock;
  std::vector<Clock::time_point> m_arrivals;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

constexpr int kClients = 20;

// From the byte that completes a report to the whole `stations` event at each
// of 20 clients, 100 stations in the table.
void BM_PageEventLatency(benchmark::State& state) {
  PagedLink link(true);
  if (!link.ok) {
    state.SkipWithError("cannot set up the link with its page");
    return;
  }
  std::vector<std::unique_ptr<EventClient>> clients;
  for (int i = 0; i < kClients; ++i)
    clients.push_back(std::make_unique<EventClient>(link.page->port()));
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  for (auto& client : clients) {
    while (client->events() < 1 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<double> latencies;
  std::uint64_t stored = link.radio.reportsStored();
  int step = 1;
  for (auto _ : state) {
    for (int round = 0; round < 200; ++round, ++step) {
      const std::string report = StationReport(step % 100, step);
      // All but the CR LF that ends the callsign line; the CR completes it.
      if (!link.pty.Send(report.substr(0, report.size() - 2))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      std::vector<std::size_t> before;
      for (auto& client : clients) before.push_back(client->events());
      const auto sent = Clock::now();
      if (!link.pty.Send("\r\n")) break;
      ++stored;
      const auto limit = sent + std::chrono::seconds(10);
      for (std::size_t i = 0; i < clients.size(); ++i) {
        while (clients[i]->events() <= before[i] && Clock::now() < limit) {
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (clients[i]->events() > before[i]) {
          latencies.push_back(
              std::chrono::duration<double, std::milli>(clients[i]->arrival(before[i]) - sent)
                  .count());
        }
      }
      link.pty.TakeSent();
    }
  }
  state.counters["samples"] = static_cast<double>(latencies.size());
  state.counters["p50_ms"] = Percentile(latencies, 0.50);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = Percentile(latencies, 1.0);
  state.counters["stations"] = link.radio.status().stations;
}
BENCHMARK(BM_PageEventLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The worker's time to store a report and rewrite every output, per report,
// with the page off (-1), on with no client (0), or with 20 clients.
void BM_WorkerStoreAndRewrite(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  PagedLink link(clients >= 0);
  if (!link.ok) {
    state.SkipWithError("cannot set up the link");
    return;
  }
  std::vector<std::unique_ptr<EventClient>> streams;
  for (int i = 0; i < clients; ++i)
    streams.push_back(std::make_unique<EventClient>(link.page->port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
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
