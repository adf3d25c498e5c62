#include "radio/receive_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace rigplot {

namespace {

// How long the worker rests after the device failed, between reopen attempts.
constexpr std::chrono::seconds kRetryPause{1};

}  // namespace

ReceiveWorker::ReceiveWorker(SerialPort& port, const PortConfig& config, ReportParser& parser,
                             StationTable& table, OutputList& outputs, LinkEventSink sink)
    : m_port(port),
      m_config(config),
      m_parser(parser),
      m_table(table),
      m_outputs(outputs),
      m_sink(std::move(sink)) {}

ReceiveWorker::~ReceiveWorker() {
  if (Stop(kStopLimit)) return;
  std::fputs("receive thread did not end\n", stderr);
  std::fflush(stderr);
  std::abort();
}

void ReceiveWorker::Abandon() {
  if (m_thread.joinable()) m_thread.detach();
}

std::chrono::steady_clock::duration ReceiveWorker::busyFor() const {
  const auto since = m_busySince.load(std::memory_order_relaxed);
  if (since == 0) return {};
  return std::chrono::steady_clock::now().time_since_epoch() -
         std::chrono::steady_clock::duration(since);
}

void ReceiveWorker::Busy() {
  // At least 1, so that a clock starting at zero still reads as busy.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  m_busySince.store(now != 0 ? now : 1, std::memory_order_relaxed);
}

bool ReceiveWorker::Start() {
  if (m_thread.joinable()) return false;
  try {
    m_thread = std::thread(&ReceiveWorker::ReceiveThreadProc, this);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool ReceiveWorker::Stop(std::chrono::milliseconds limit) {
  m_stopRequested.store(true);
  m_port.Wake();
  {
    // Taking the lock orders the flag before a pause that is about to wait.
    std::lock_guard<std::mutex> lock(m_portLock);
  }
  m_pauseWake.notify_all();
  if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) return true;
  {
    // A worker stuck in a driver call must not hang the program's end.
    std::unique_lock<std::mutex> lock(m_endLock);
    if (!m_endWake.wait_for(lock, limit, [this] { return m_ended; })) return false;
  }
  m_thread.join();
  return true;
}

void ReceiveWorker::ReceiveThreadProc() {
  {
    std::scoped_lock lock(m_table.mutex());
    m_table.Clear();
  }
  m_parser.reset();

  std::uint8_t block[SerialPort::kBlockSize];
  // The stop test runs before every cycle and never inside the byte loop: a
  // block once read is parsed to its end with every store and rewrite.
  while (!m_stopRequested.load()) {
    if (m_clearPending.load()) {
      std::lock_guard<std::mutex> lock(m_table.mutex());
      ClearIfRequested();
    }
    Rest();
    const SerialPort::WaitResult waited = m_port.Wait();
    Busy();
    if (waited == SerialPort::WaitResult::kWoken) continue;
    if (waited == SerialPort::WaitResult::kFailed) {
      PauseAndReopen(m_port.failureReason());
      continue;
    }
    const int queued = m_port.QueuedBytes();
    if (queued == 0) continue;
    // Never ask for more than is queued, and never more than one block.
    const int got = queued < 0 ? -1 : m_port.Read(block, std::min(queued, SerialPort::kBlockSize));
    if (got < 0) {
      PauseAndReopen(m_port.failureReason());
      continue;
    }
    if (got > 0) m_blocksRead.fetch_add(1, std::memory_order_relaxed);
    // The parser takes the block in runs, each ending at the byte that
    // completes a report, so every report is stored before the next byte.
    for (int i = 0; i < got;) {
      const ReportParser::FeedResult fed =
          m_parser.feed(block + i, static_cast<std::size_t>(got - i));
      i += static_cast<int>(fed.consumed);
      if (!fed.completed) continue;
      // Store and refresh as one step, so a clear falls before or after both.
      std::lock_guard<std::mutex> lock(m_table.mutex());
      const int slot = m_table.StoreReport(m_parser.report());
      m_outputs.Publish(m_table, slot);
      ClearIfRequested();
      // Release: whoever sees the new count also sees the table as this
      // report left it.
      m_reportsStored.fetch_add(1, std::memory_order_release);
    }
  }
  Rest();
  std::lock_guard<std::mutex> lock(m_endLock);
  m_ended = true;
  m_endWake.notify_all();
}

void ReceiveWorker::ClearIfRequested() {
  if (!m_clearPending.exchange(false)) return;
  m_table.Clear();
  m_outputs.TableCleared(m_table);
}

void ReceiveWorker::PauseAndReopen(const std::string& reason) {
  // Let go of the device at once, so a replugged adapter can take its name
  // back, and start the next report afresh: half of a report from before the
  // break must not join half of one from after it.
  m_port.Close();
  m_parser.reset();
  m_adapterPresent.store(false);
  if (m_sink) m_sink("adapter gone from " + m_config.portPath + ": " + reason);
  std::unique_lock<std::mutex> lock(m_portLock);
  for (;;) {
    Rest();
    const bool stop =
        m_pauseWake.wait_for(lock, kRetryPause, [this] { return m_stopRequested.load(); });
    Busy();
    if (stop) return;
    if (SerialPort::DeviceExists(m_config.portPath) &&
        m_port.Open(m_config.portPath, m_config.baudRate)) {
      m_reopens.fetch_add(1, std::memory_order_relaxed);
      m_adapterPresent.store(true);
      if (m_sink) m_sink("adapter back on " + m_config.portPath);
      return;
    }
  }
}

}  // namespace rigplot
