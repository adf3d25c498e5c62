// The MQTT publisher: what it costs the receive worker per report (the queue
// only), and how many reports a second reach a local mosquitto.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/sample_table.h"
#include "mqtt/mqtt_output.h"
#include "tests/support/files.h"

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

}  // namespace
}  // namespace rigplot
