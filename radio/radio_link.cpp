#include "radio/radio_link.h"

#include "radio/receive_worker.h"

namespace rigplot {

// The map script, the link's first output. Its path is formed when the
// worker starts.
class MapScriptOutput : public StationOutput {
 public:
  void SetPath(std::string path) { m_path = std::move(path); }
  std::string name() const override { return m_path; }

  bool Publish(const StationTable& table, int /*slot*/, std::string& osError) override {
    if (m_writer.Write(m_path, table)) return true;
    osError = m_writer.lastError();
    return false;
  }

  void Close() override { m_writer.CloseIfOpen(); }

 private:
  MapScriptWriter m_writer;
  std::string m_path;
};

const char* FailureMessage(LinkFailure failure) {
  switch (failure) {
    case LinkFailure::kNone:
      return "";
    case LinkFailure::kSettingsMissing:
      return kSettingsMissingMessage;
    case LinkFailure::kPortNotOpened:
    case LinkFailure::kWorkerNotStarted:
      return kPortOpenFailedMessage;
    case LinkFailure::kHistoryRefused:
      return "The history file cannot be used; it was left as it is.";
  }
  return kPortOpenFailedMessage;
}

void OutputList::Add(std::unique_ptr<StationOutput> output) {
  std::lock_guard<std::mutex> lock(m_healthLock);
  m_entries.push_back({std::move(output), OutputHealth{}});
}

void OutputList::Publish(const StationTable& table, int slot) {
  if (m_reopen.exchange(false)) {
    for (Entry& entry : m_entries) entry.output->Reopen();
  }
  for (Entry& entry : m_entries) {
    m_error.clear();
    const bool working = entry.output->Publish(table, slot, m_error);
    if (working == entry.health.working) continue;
    {
      std::lock_guard<std::mutex> lock(m_healthLock);
      entry.health.working = working;
      entry.health.osError = working ? std::string() : m_error;
    }
    // Said once per change: a failing output stays quiet until it works again.
    if (!m_sink) continue;
    if (working) {
      m_sink("writing " + entry.output->name() + " again");
    } else {
      m_sink("cannot write " + entry.output->name() + ": " + m_error);
    }
  }
}

void OutputList::TableCleared(const StationTable& table) {
  for (Entry& entry : m_entries) entry.output->TableCleared(table);
}

void OutputList::Close() {
  for (Entry& entry : m_entries) entry.output->Close();
}

std::vector<OutputHealth> OutputList::health() const {
  std::lock_guard<std::mutex> lock(m_healthLock);
  std::vector<OutputHealth> all;
  all.reserve(m_entries.size());
  for (const Entry& entry : m_entries) {
    all.push_back(entry.health);
    all.back().name = entry.output->name();
  }
  return all;
}

RadioLink::Parts::Parts(LinkEventSink sink) : outputs(std::move(sink)) {}
RadioLink::Parts::~Parts() = default;

RadioLink::RadioLink(LinkEventSink sink) : m_sink(sink), m_parts(std::make_unique<Parts>(sink)) {
  auto mapScript = std::make_unique<MapScriptOutput>();
  m_mapScript = mapScript.get();
  m_parts->outputs.Add(std::move(mapScript));
}

RadioLink::~RadioLink() {
  if (Stop()) return;
  // The thread still runs on the parts: let it have them, and the process's
  // end take both.
  m_parts->worker->Abandon();
  static_cast<void>(m_parts.release());
}

void RadioLink::AddOutput(std::unique_ptr<StationOutput> output) {
  m_parts->outputs.Add(std::move(output));
}

LinkResult RadioLink::Open(const char* settingsFile) {
  PortConfig config;
  std::string osError;
  if (!LoadPortSettings(config, settingsFile, &osError)) {
    return {LinkFailure::kSettingsMissing, std::string(settingsFile) + ": " + osError};
  }
  return Open(config);
}

LinkResult RadioLink::Open(const PortConfig& config) {
  m_config = config;
  // The parser starts idle, whatever came before.
  m_parts->parser.reset();
  std::string osError;
  if (!m_parts->port.Open(m_config.portPath, m_config.baudRate, &osError)) {
    return {LinkFailure::kPortNotOpened, osError};
  }
  // Said here once; the worker's reopens keep quiet about it.
  if (m_sink && !m_parts->port.lockWarning().empty()) m_sink(m_parts->port.lockWarning());
  return {};
}

LinkResult RadioLink::Start() {
  Parts& parts = *m_parts;
  if (m_stopped || parts.worker) {
    return {LinkFailure::kWorkerNotStarted, "the link was started before"};
  }
  m_mapScriptPath = MapScriptPath();
  m_mapScript->SetPath(m_mapScriptPath);
  parts.worker = std::make_unique<ReceiveWorker>(parts.port, m_config, parts.parser, parts.table,
                                                 parts.outputs, m_sink);
  if (!parts.worker->Start()) {
    parts.worker.reset();
    return {LinkFailure::kWorkerNotStarted, "cannot create the receive thread"};
  }
  return {};
}

bool RadioLink::Stop(std::chrono::milliseconds limit) {
  if (m_stopped) return true;
  if (m_parts->worker && !m_parts->worker->Stop(limit)) return false;
  m_stopped = true;
  m_parts->port.Close();
  m_parts->outputs.Close();
  return true;
}

void RadioLink::ClearTable() {
  Parts& parts = *m_parts;
  std::unique_lock<std::mutex> lock(parts.table.mutex(), std::try_to_lock);
  // The worker holds the table: it clears it itself once it lets go, so that
  // a worker stuck in an output cannot hold the caller (and its stop) too.
  if (!lock.owns_lock() && parts.worker) {
    parts.worker->RequestClear();
    return;
  }
  if (!lock.owns_lock()) lock.lock();
  parts.table.Clear();
  parts.outputs.TableCleared(parts.table);
}

std::string RadioLink::mapScriptPath() const {
  return m_mapScriptPath;
}

std::uint64_t RadioLink::reportsStored() const {
  const auto& worker = m_parts->worker;
  return worker ? worker->reportsStored() : 0;
}

std::uint64_t RadioLink::blocksRead() const {
  const auto& worker = m_parts->worker;
  return worker ? worker->blocksRead() : 0;
}

std::uint64_t RadioLink::reopens() const {
  const auto& worker = m_parts->worker;
  return worker ? worker->reopens() : 0;
}

bool RadioLink::adapterPresent() const {
  const auto& worker = m_parts->worker;
  return worker ? worker->adapterPresent() : m_parts->port.IsOpen();
}

LinkStatus RadioLink::status() const {
  LinkStatus status;
  status.portPath = m_config.portPath;
  status.baudRate = m_config.baudRate;
  status.adapterPresent = adapterPresent();
  status.reportsStored = reportsStored();
  // Never the table's lock: the worker may hold it for as long as an output blocks.
  status.stations = m_parts->table.publishedCount();
  status.outputs = m_parts->outputs.health();
  return status;
}

bool RadioLink::workerStuck() const {
  const auto& worker = m_parts->worker;
  return worker && worker->busyFor() > kWorkerStuckAfter;
}

}  // namespace rigplot
