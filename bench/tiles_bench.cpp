// SPDX-License-Identifier: MIT
// Map tiles from a large MBTiles file: the answer time of one tile, and what
// a hundred viewers panning (1,000 tile requests a second) cost the receive
// worker. RIGPLOT_BENCH_TILES_MB sets the file's size (default 1024).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/link_feed.h"
#include "radio/radio_link.h"
#include "radio/receive_worker.h"
#include "station/station_tiles.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/thread_cpu.h"
#include "web/web_page.h"

namespace rigplot {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kZoom = 14;
constexpr int kColumn0 = 14500;  // Japan at zoom 14
constexpr int kRow0 = 6400;

// A file of about `megabytes` of random 16-32 KB tiles on a square at zoom
// 14; returns the square's side, 0 when it could not be made.
int MakeTileFile(const std::string& path, int megabytes) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return 0;
  sqlite3_exec(db,
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
               "CREATE TABLE metadata (name TEXT, value TEXT);"
               "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
               " tile_data BLOB);"
               "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
               "INSERT INTO metadata VALUES ('format', 'png'), ('minzoom', '14'),"
               " ('maxzoom', '14');",
               nullptr, nullptr, nullptr);
  const int tiles = megabytes * 1024 / 24;
  const int side = static_cast<int>(std::sqrt(static_cast<double>(tiles))) + 1;
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &insert, nullptr);
  std::mt19937_64 random(7);
  std::string blob(32 * 1024, '\0');
  for (int x = 0; x < side; ++x) {
    for (int y = 0; y < side; ++y) {
      for (std::size_t i = 0; i < blob.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(&blob[i], &word, 8);
      }
      sqlite3_bind_int(insert, 1, kZoom);
      sqlite3_bind_int(insert, 2, kColumn0 + x);
      sqlite3_bind_int(insert, 3, (1 << kZoom) - 1 - (kRow0 + y));
      sqlite3_bind_blob(insert, 4, blob.data(),
                        static_cast<int>(16 * 1024 + random() % (16 * 1024)), SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
  }
  sqlite3_finalize(insert);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok ? side : 0;
}

std::string StationReport(int n, int step) {
  return bench::MovingStationReport(n, step, 'T');
}

// The file, made once for every benchmark here, and the link serving it.
struct TileLink {
  test::TempDir dir;
  std::string file = dir.path() + "/area.mbtiles";
  int side = 0;
  test::Pty pty;
  RadioLink radio;
  std::unique_ptr<WebPage> page;
  bool ok = false;

  TileLink() {
    const char* size = std::getenv("RIGPLOT_BENCH_TILES_MB");
    side = MakeTileFile(file, size != nullptr ? std::atoi(size) : 1024);
    ::setenv("TEMP", dir.path().c_str(), 1);
    WebSettings settings;
    settings.port = 0;
    std::string error;
    if (side == 0 || !UseMbTiles(file, settings, error) || !pty.ok() ||
        !radio.Open(PortConfig{pty.path(), 19200})) {
      return;
    }
    page = StartWebPage(radio, settings, {});
    if (!page || !radio.Start()) return;
    page->Serve();
    std::string all;
    for (int n = 0; n < 100; ++n) all += StationReport(n, 0);
    ok = Send(all, 100);
  }

  bool Send(const std::string& bytes, std::uint64_t reports) {
    return bench::FeedAndWait(pty, radio, bytes, reports);
  }
};

TileLink& Shared() {
  static TileLink link;
  return link;
}

// One browser connection, kept alive, asking for tiles.
class Viewer {
 public:
  explicit Viewer(int port) : m_port(port) { Connect(); }
  ~Viewer() {
    if (m_sock >= 0) ::close(m_sock);
  }

  // The status of one tile's answer, its body read whole; 0 when the
  // connection failed. A connection the server ended (after its keep-alive
  // count) is made again, as a browser does.
  int Get(int x, int y) {
    const int status = TryGet(x, y);
    if (status != 0) return status;
    Connect();
    return TryGet(x, y);
  }

 private:
  void Connect() {
    if (m_sock >= 0) ::close(m_sock);
    m_sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(m_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(m_sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(m_sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(m_sock);
      m_sock = -1;
    }
  }

  int TryGet(int x, int y) {
    const std::string request =
        "GET /tiles/" + std::to_string(kZoom) + "/" + std::to_string(x) + "/" + std::to_string(y) +
        " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\n\r\n";
    if (m_sock < 0 || ::send(m_sock, request.data(), request.size(), MSG_NOSIGNAL) < 0) return 0;
    m_in.clear();
    std::size_t headEnd = std::string::npos;
    std::size_t length = 0;
    char chunk[65536];
    for (;;) {
      if (headEnd != std::string::npos && m_in.size() >= headEnd + 4 + length) break;
      const ssize_t got = ::recv(m_sock, chunk, sizeof chunk, 0);
      if (got <= 0) return 0;
      m_in.append(chunk, static_cast<std::size_t>(got));
      if (headEnd == std::string::npos && (headEnd = m_in.find("\r\n\r\n")) != std::string::npos) {
        const auto at = m_in.find("Content-Length: ");
        length = at < headEnd ? std::stoul(m_in.substr(at + 16)) : 0;
      }
    }
    return std::atoi(m_in.c_str() + 9);
  }

  int m_port;
  int m_sock = -1;
  std::string m_in;
};

// One tile at a time on one connection, random tiles across the whole file.
void BM_TileAnswer(benchmark::State& state) {
  TileLink& link = Shared();
  if (!link.ok) {
    state.SkipWithError("cannot set up the tile file and the link");
    return;
  }
  Viewer viewer(link.page->port());
  std::mt19937 random(11);
  std::vector<double> us;
  for (auto _ : state) {
    const int x = kColumn0 + static_cast<int>(random() % static_cast<unsigned>(link.side));
    const int y = kRow0 + static_cast<int>(random() % static_cast<unsigned>(link.side));
    const auto start = Clock::now();
    if (viewer.Get(x, y) != 200) {
      state.SkipWithError("a tile was not answered");
      return;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  state.counters["p50_ms"] = us[us.size() / 2] / 1000.0;
  state.counters["p99_ms"] = us[us.size() * 99 / 100] / 1000.0;
  state.counters["file_mb"] = static_cast<double>(link.side) * link.side * 24 / 1024.0;
}
BENCHMARK(BM_TileAnswer)->Iterations(5000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The worker's time per report while `viewers` connections pan, asking for
// 1,000 tiles a second between them (0: nobody looks).
void BM_WorkerBesideTileViewers(benchmark::State& state) {
  TileLink& link = Shared();
  if (!link.ok) {
    state.SkipWithError("cannot set up the tile file and the link");
    return;
  }
  const int viewers = static_cast<int>(state.range(0));
  std::atomic<bool> stop{false};
  std::atomic<long> answered{0};
  std::vector<std::thread> panning;
  constexpr int kThreads = 4;
  for (int t = 0; t < kThreads && viewers > 0; ++t) {
    panning.emplace_back([&, t] {
      std::vector<std::unique_ptr<Viewer>> mine;
      for (int v = t; v < viewers; v += kThreads) {
        mine.push_back(std::make_unique<Viewer>(link.page->port()));
      }
      std::mt19937 random(static_cast<unsigned>(t));
      // 1,000 a second in all, spread over the threads.
      const auto step = std::chrono::microseconds(1000 * kThreads);
      auto next = Clock::now();
      for (std::size_t i = 0; !stop; ++i) {
        const int x = kColumn0 + static_cast<int>(random() % static_cast<unsigned>(link.side));
        const int y = kRow0 + static_cast<int>(random() % static_cast<unsigned>(link.side));
        if (mine[i % mine.size()]->Get(x, y) == 200) ++answered;
        next += step;
        std::this_thread::sleep_until(next);
      }
    });
  }
  std::string batch;
  for (int n = 0; n < 100; ++n) batch += StationReport(n, 7);
  std::uint64_t stored = link.radio.reportsStored();
  std::uint64_t sent = 0;
  const double cpuBefore = test::ThreadCpuUs(link.radio.worker()->nativeHandle());
  const auto start = Clock::now();
  for (auto _ : state) {
    stored += 100;
    sent += 100;
    if (!link.Send(batch, stored)) {
      state.SkipWithError("the worker did not keep up");
      break;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = test::ThreadCpuUs(link.radio.worker()->nativeHandle()) - cpuBefore;
  stop = true;
  for (std::thread& thread : panning) thread.join();
  state.SetItemsProcessed(static_cast<std::int64_t>(sent));
  state.counters["worker_cpu_us_per_report"] = cpu / static_cast<double>(sent);
  state.counters["tiles_per_s"] = static_cast<double>(answered) / seconds;
}
BENCHMARK(BM_WorkerBesideTileViewers)
    ->Arg(0)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
}  // namespace rigplot
