#include "radio/radio_link.h"

#include <cerrno>
#include <cstring>

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
  }
  return kPortOpenFailedMessage;
}

void OutputList::Add(std::unique_ptr<StationOutput> output) {
  std::lock_guard<std::mutex> lock(m_healthLock);
  m_entries.push_back({std::move(output), OutputHealth{}});
}

void OutputList::Publish(const StationTable& table, int slot) {
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

RadioLink::RadioLink(LinkEventSink sink) : m_sink(sink), m_outputs(std::move(sink)) {
  auto mapScript = std::make_unique<MapScriptOutput>();
  m_mapScript = mapScript.get();
  m_outputs.Add(std::move(mapScript));
}

RadioLink::~RadioLink() {
  Stop();
}

void RadioLink::AddOutput(std::unique_ptr<StationOutput> output) {
  m_outputs.Add(std::move(output));
}

LinkResult RadioLink::Open(const char* settingsFile) {
  PortConfig config;
  if (!LoadPortSettings(config, settingsFile)) {
    return {LinkFailure::kSettingsMissing, std::string(settingsFile) + ": " + std::strerror(errno)};
  }
  return Open(config);
}

LinkResult RadioLink::Open(const PortConfig& config) {
  m_config = config;
  // The parser starts idle, whatever came before.
  m_parser.reset();
  std::string osError;
  if (!m_port.Open(m_config.portPath, m_config.baudRate, &osError)) {
    return {LinkFailure::kPortNotOpened, osError};
  }
  return {};
}

LinkResult RadioLink::Start() {
  if (m_stopped || m_worker) return {LinkFailure::kWorkerNotStarted, "the link was started before"};
  m_mapScriptPath = MapScriptPath();
  m_mapScript->SetPath(m_mapScriptPath);
  m_worker =
      std::make_unique<ReceiveWorker>(m_port, m_config, m_parser, m_table, m_outputs, m_sink);
  if (!m_worker->Start()) {
    m_worker.reset();
    return {LinkFailure::kWorkerNotStarted, "cannot create the receive thread"};
  }
  return {};
}

bool RadioLink::Stop(std::chrono::milliseconds limit) {
  if (m_stopped) return true;
  if (m_worker && !m_worker->Stop(limit)) return false;
  m_stopped = true;
  m_port.Close();
  m_outputs.Close();
  return true;
}

void RadioLink::ClearTable() {
  std::lock_guard<std::mutex> lock(m_table.mutex());
  m_table.Clear();
  m_outputs.TableCleared(m_table);
}

std::string RadioLink::mapScriptPath() const {
  return m_mapScriptPath;
}

std::uint64_t RadioLink::reportsStored() const {
  return m_worker ? m_worker->reportsStored() : 0;
}

std::uint64_t RadioLink::blocksRead() const {
  return m_worker ? m_worker->blocksRead() : 0;
}

std::uint64_t RadioLink::reopens() const {
  return m_worker ? m_worker->reopens() : 0;
}

bool RadioLink::adapterPresent() const {
  return m_worker ? m_worker->adapterPresent() : m_port.IsOpen();
}

LinkStatus RadioLink::status() const {
  LinkStatus status;
  status.portPath = m_config.portPath;
  status.baudRate = m_config.baudRate;
  status.adapterPresent = adapterPresent();
  status.reportsStored = reportsStored();
  {
    std::lock_guard<std::mutex> lock(m_table.mutex());
    status.stations = m_table.count();
  }
  status.outputs = m_outputs.health();
  return status;
}

}  // namespace rigplot
