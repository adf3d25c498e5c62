// SPDX-License-Identifier: MIT
// The MQTT publisher: what it costs the receive worker per report (the queue
// only), and how many reports a second reach a local mosquitto. The hub: how
// many reports a second it merges from 10 publishers, and how long a report
// takes from a receiver's pseudo-terminal to an event at the hub's page.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/link_feed.h"
#include "bench/sample_table.h"
#include "mqtt/mqtt_output.h"
#include "radio/radio_link.h"
#include "station/hub_station.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"

namespace rigplot {
namespace {

using Clock = std::chrono::steady_clock;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// mosquitto on a free loopback port, with a subscriber counting the reports.
struct LocalBroker {
  test::TempDir dir;
  int port = FreePort();
  pid_t pid = -1;
  mosquitto* subscriber = nullptr;
  std::atomic<std::uint64_t> received{0};
  bool ok = false;

  LocalBroker() {
    const std::string config = dir.path() + "/mosquitto.conf";
    std::ofstream(config) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n"
                          << "max_queued_messages 0\n";
    // As root, mosquitto would switch to its own user, who cannot read this folder.
    if (const passwd* user = ::getpwuid(::getuid())) {
      std::ofstream(config, std::ios::app) << "user " << user->pw_name << "\n";
    }
    pid = ::fork();
    if (pid == 0) {
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, STDOUT_FILENO);
      ::dup2(quiet, STDERR_FILENO);
      ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(), nullptr);
      ::_exit(127);
    }
    mosquitto_lib_init();
    subscriber = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(
        subscriber, [](mosquitto*, void* self, const mosquitto_message*) {
          static_cast<LocalBroker*>(self)->received.fetch_add(1, std::memory_order_relaxed);
        });
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (mosquitto_connect(subscriber, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
      if (Clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ok = mosquitto_subscribe(subscriber, nullptr, "rigplot/+/report", 1) == MOSQ_ERR_SUCCESS &&
         mosquitto_loop_start(subscriber) == MOSQ_ERR_SUCCESS;
  }

  ~LocalBroker() {
    if (subscriber != nullptr) {
      mosquitto_disconnect(subscriber);
      mosquitto_loop_stop(subscriber, false);
      mosquitto_destroy(subscriber);
    }
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }

  bool WaitFor(std::uint64_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (received.load() < count) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }
};

std::unique_ptr<StationOutput> Publisher(const LocalBroker& broker, std::size_t queue) {
  MqttSettings settings;
  ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port), settings);
  settings.receiver = "bench";
  settings.queueLimit = queue;
  std::string error;
  return MakeMqttOutput(settings, "", "/dev/null", {}, error);
}

// The worker's share: Publish with the table's lock held, as the link calls it.
void BM_MqttWorkerCostPerReport(benchmark::State& state) {
  LocalBroker broker;
  if (!broker.ok) return state.SkipWithError("no local mosquitto");
  auto output = Publisher(broker, 1'000'000);
  StationTable table;
  bench::FillTable(table, std::time(nullptr));
  std::string error;
  int slot = 0;
  for (auto _ : state) {
    std::scoped_lock lock(table.mutex());
    benchmark::DoNotOptimize(output->Publish(table, slot, error));
    slot = (slot + 1) % StationTable::kSlots;
  }
  output->Close();
}
// The time per iteration is the cost per report.
BENCHMARK(BM_MqttWorkerCostPerReport)->UseRealTime();

// Reports fed faster than any radio, counted at a subscriber on the broker.
void BM_MqttPublishRate(benchmark::State& state) {
  LocalBroker broker;
  if (!broker.ok) return state.SkipWithError("no local mosquitto");
  auto output = Publisher(broker, 1'000'000);
  StationTable table;
  bench::FillTable(table, std::time(nullptr));
  constexpr int kReports = 20000;
  std::string error;
  double seconds = 0;
  std::uint64_t expected = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    for (int i = 0; i < kReports; ++i) {
      std::scoped_lock lock(table.mutex());
      output->Publish(table, i % StationTable::kSlots, error);
    }
    expected += kReports;
    if (!broker.WaitFor(expected)) return state.SkipWithError("reports lost");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  output->Close();
  state.counters["reports_per_s"] = static_cast<double>(expected) / seconds;
}
BENCHMARK(BM_MqttPublishRate)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// A Feature as receiver `r` publishes station `n`'s report number `step`.
std::string HubFeature(int r, int n, int step) {
  char text[512];
  std::snprintf(text, sizeof text,
                R"({"type":"Feature","geometry":{"type":"Point","coordinates":[139.%04d,35.%04d]},)"
                R"("properties":{"callsign":"JA%dB%03d","repeater":"JR1WN  A","symbol":"0",)"
                R"("gid":"0.00","group":null,"heading_class":0,"course":90,"speed_kmh":12.5,)"
                R"("utc_date":"071226","utc_time":"%02d%02d%02d","received_at":)"
                R"("2026-12-07T10:00:00+09:00","message":"step %d","receiver":"p%d"}})",
                (n * 37 + step) % 10000, (n * 53 + step) % 10000, r, n, step / 3600 % 24,
                step / 60 % 60, step % 60, step, r);
  return text;
}

CommandLine HubOptions(const LocalBroker& broker, const std::string& dir, bool page) {
  CommandLine options;
  ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port), options.mqtt);
  options.noRadio = true;
  options.subscribe = {"rigplot/+/report"};
  options.geojsonPath = dir + "/hub.geojson";
  options.webEnabled = page;
  options.web.port = 0;
  options.web.tilesUrl.clear();
  return options;
}

// 10 publishers of 100 stations each, as fast as they can; the hub merges
// into 1,000 stations, rewriting its GeoJSON after each batch.
void BM_HubIntakeRate(benchmark::State& state) {
  LocalBroker broker;
  if (!broker.ok) return state.SkipWithError("no local mosquitto");
  test::TempDir dir{"/dev/shm"};
  HubStation hub(HubOptions(broker, dir.path(), false), {});
  std::string error;
  if (!hub.Start(error)) return state.SkipWithError(error.c_str());
  constexpr int kPublishers = 10;
  constexpr int kEach = 3000;
  std::vector<mosquitto*> publishers;
  for (int r = 0; r < kPublishers; ++r) {
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    if (mosquitto_connect(client, "127.0.0.1", broker.port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client) != MOSQ_ERR_SUCCESS) {
      return state.SkipWithError("a publisher cannot connect");
    }
    publishers.push_back(client);
  }
  // The hub's subscription is in place once a first report is merged.
  const std::string first = HubFeature(0, 0, 0);
  const auto ready = Clock::now() + std::chrono::seconds(30);
  while (hub.counts().merged == 0 && Clock::now() < ready) {
    mosquitto_publish(publishers[0], nullptr, "rigplot/p0/report", static_cast<int>(first.size()),
                      first.data(), 1, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  double seconds = 0;
  std::uint64_t sent = 0;
  int step = 1;
  for (auto _ : state) {
    const std::uint64_t before = hub.counts().merged;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int r = 0; r < kPublishers; ++r) {
      threads.emplace_back([&, r, step] {
        const std::string topic = "rigplot/p" + std::to_string(r) + "/report";
        for (int i = 0; i < kEach; ++i) {
          const std::string feature = HubFeature(r, i % 100, step + i);
          mosquitto_publish(publishers[r], nullptr, topic.c_str(), static_cast<int>(feature.size()),
                            feature.data(), 1, false);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (hub.counts().merged < before + kPublishers * kEach) {
      if (Clock::now() > deadline) return state.SkipWithError("reports lost on the way to the hub");
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    sent += kPublishers * kEach;
    step += kEach;
  }
  for (mosquitto* client : publishers) {
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
  }
  hub.Stop();
  state.counters["reports_per_s"] = static_cast<double>(sent) / seconds;
  state.counters["stations"] = static_cast<double>(hub.counts().stations);
}
BENCHMARK(BM_HubIntakeRate)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}

// From the byte that completes a report at a receiver's pseudo-terminal,
// through its publisher, the broker and the hub, to the whole `stations`
// event at a client of the hub's page; 100 reports a second, 1,000 stations.
void BM_HubPageEventLatency(benchmark::State& state) {
  LocalBroker broker;
  if (!broker.ok) return state.SkipWithError("no local mosquitto");
  test::TempDir dir{"/dev/shm"};
  ::setenv("TEMP", dir.path().c_str(), 1);
  test::Pty pty;
  RadioLink receiver;
  MqttSettings settings;
  ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port), settings);
  settings.receiver = "hill";
  std::string error;
  receiver.AddOutput(MakeMqttOutput(settings, "", pty.path(), {}, error));
  if (!pty.ok() || !receiver.Open(PortConfig{pty.path(), 19200}) || !receiver.Start()) {
    return state.SkipWithError("cannot set up the receiver");
  }
  HubStation hub(HubOptions(broker, dir.path(), true), {});
  if (!hub.Start(error)) return state.SkipWithError(error.c_str());
  const std::string describe = hub.Describe();
  const auto at = describe.find("page http://127.0.0.1:");
  if (at == std::string::npos) return state.SkipWithError("no page");
  const int port = std::atoi(describe.c_str() + at + 22);

  // 999 stations from other receivers, straight to the broker.
  mosquitto* others = mosquitto_new(nullptr, true, nullptr);
  mosquitto_connect(others, "127.0.0.1", broker.port, 30);
  mosquitto_loop_start(others);
  const auto filled = Clock::now() + std::chrono::seconds(60);
  while (hub.counts().stations < 999 && Clock::now() < filled) {
    for (int n = 0; n < 999; ++n) {
      const std::string feature = HubFeature(1 + n / 100, n % 100, 0);
      const std::string topic = "rigplot/p" + std::to_string(1 + n / 100) + "/report";
      mosquitto_publish(others, nullptr, topic.c_str(), static_cast<int>(feature.size()),
                        feature.data(), 1, false);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }

  // One page client: each event's arrival time and text.
  const int sock = bench::OpenEventStream(port);
  if (sock < 0) return state.SkipWithError("cannot open the page's events");
  std::mutex lock;
  std::vector<std::pair<Clock::time_point, std::string>> events;
  std::thread reader([&] {
    std::string tail;
    char buffer[65536];
    for (ssize_t got; (got = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) {
      tail.append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = tail.find("\n\n")) != std::string::npos;) {
        std::lock_guard guard(lock);
        events.emplace_back(Clock::now(), tail.substr(0, end));
        tail.erase(0, end + 2);
      }
    }
  });

  std::vector<Clock::time_point> sent;
  int step = 1;
  for (auto _ : state) {
    auto next = Clock::now();
    for (int round = 0; round < 300; ++round, ++step) {
      next += std::chrono::milliseconds(10);  // 100 reports a second
      char body[96];
      std::snprintf(body, sizeof body,
                    "GPRMC,%02d%02d%02d,A,3539.%04d,N,13942.%04d,E,012.0,090.0,071226,,,A",
                    step / 3600 % 24, step / 60 % 60, step % 60, step % 10000, step % 10000);
      const std::string report = test::Report(body, "JA1HILL,0,lat " + std::to_string(step));
      // All but the CR LF that ends the callsign line; the CR completes it.
      if (!pty.Send(report.substr(0, report.size() - 2))) break;
      sent.push_back(Clock::now());
      if (!pty.Send("\r\n")) break;
      std::this_thread::sleep_until(next);
      pty.TakeSent();
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ::shutdown(sock, SHUT_RDWR);
  reader.join();
  ::close(sock);
  std::vector<double> latencies;
  std::size_t from = 0;
  for (std::size_t k = 0; k < sent.size(); ++k) {
    const std::string marker = "\"message\":\"lat " + std::to_string(k + 1) + "\"";
    for (std::size_t e = from; e < events.size(); ++e) {
      if (events[e].second.find(marker) != std::string::npos) {
        latencies.push_back(
            std::chrono::duration<double, std::milli>(events[e].first - sent[k]).count());
        from = e;
        break;
      }
    }
  }
  mosquitto_disconnect(others);
  mosquitto_loop_stop(others, false);
  mosquitto_destroy(others);
  hub.Stop();
  receiver.Stop();
  state.counters["p50_ms"] = Percentile(latencies, 0.50);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = Percentile(latencies, 1.0);
  // Reports whose station was overtaken by the next before an event: not lost, just merged.
  state.counters["events_matched"] = static_cast<double>(latencies.size());
  state.counters["reports"] = static_cast<double>(sent.size());
}
BENCHMARK(BM_HubPageEventLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace rigplot
