#include "station/station.h"

#include <cstdlib>
#include <fstream>

#include "mqtt/mqtt_output.h"
#include "station/file_outputs.h"
#include "station/station_history.h"

namespace rigplot {
namespace {

// What the radio stores goes into the merged table beside the others'.
class MergeOutput : public StationOutput {
 public:
  explicit MergeOutput(std::shared_ptr<Hub> hub) : m_hub(std::move(hub)) {}
  std::string name() const override { return "merged table"; }
  bool Publish(const StationTable& table, int slot, std::string&) override {
    m_hub->Merge(table.view(slot));
    return true;
  }
  void TableCleared(const StationTable&) override { m_hub->Clear(); }
  void Close() override { m_hub->Close(); }

 private:
  std::shared_ptr<Hub> m_hub;
};

}  // namespace

bool ReadMqttPassword(const MqttSettings& settings, std::string& password, std::string& error) {
  if (settings.passwordFile.empty()) {
    const char* env = std::getenv("RIGPLOT_MQTT_PASSWORD");
    password = env != nullptr ? env : "";
    return true;
  }
  std::ifstream file(settings.passwordFile);
  if (!file) {
    error = "cannot read the MQTT password file " + settings.passwordFile;
    return false;
  }
  std::getline(file, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

Station::Station(const CommandLine& options, LinkEventSink sink)
    : m_options(options), m_sink(sink), m_link(std::move(sink)) {}

Station::~Station() {
  Stop();
}

LinkResult Station::Open(const char* settingsFile) {
  for (auto& output : MakeFileOutputs(m_options)) m_link.AddOutput(std::move(output));
  const LinkResult history = AddHistory(m_options, m_link, m_options.web, m_sink);
  if (!history) return history;
  const LinkResult opened = m_link.Open(settingsFile);
  if (!opened) return opened;
  if (m_options.mqtt.enabled) OpenMqtt();
  const bool merged = m_options.mqtt.enabled && !m_options.subscribe.empty();
  // The page takes its address before the worker starts, so that its feed
  // sees every report.
  if (m_options.webEnabled) m_page = StartWebPage(m_link, m_options.web, m_sink, !merged);
  if (merged) OpenSubscription();
  return opened;
}

// The page shows the merged table; the map script and the files stay the radio's.
void Station::OpenSubscription() {
  std::string password;
  std::string error;
  HubSettings settings;
  settings.filters = m_options.subscribe;
  settings.stations = m_options.stations;
  if (m_page) {
    settings.rendered = [feed = m_page->feed()](std::string geojson, std::string kml) {
      feed->PublishRendered(std::move(geojson), std::move(kml));
    };
  }
  std::unique_ptr<Hub> hub;
  if (ReadMqttPassword(m_options.mqtt, password, error)) {
    hub = StartHub(m_options.mqtt, password, settings, m_sink, error);
  }
  if (!hub) {
    if (m_sink) m_sink("no reports from the broker: " + error);
    // The page then follows the radio alone.
    if (m_page) m_link.AddOutput(std::make_unique<LiveFeedOutput>(m_page->feed(), m_page->url()));
    return;
  }
  m_hub = std::move(hub);
  m_link.AddOutput(std::make_unique<MergeOutput>(m_hub));
}

// Like the page: a publisher that cannot be made is said and left out, and
// the radio goes on.
void Station::OpenMqtt() {
  MqttSettings& settings = m_options.mqtt;
  if (settings.receiver.empty()) settings.receiver = DefaultReceiverName();
  std::string password;
  std::string error;
  std::unique_ptr<StationOutput> output;
  if (ReadMqttPassword(settings, password, error)) {
    output = MakeMqttOutput(settings, password, m_link.config().portPath, m_sink, error);
  }
  if (!output) {
    if (m_sink) m_sink("no MQTT publishing: " + error);
    return;
  }
  m_mqttAddress = output->name();
  m_link.AddOutput(std::move(output));
}

LinkResult Station::Start() {
  const LinkResult started = m_link.Start();
  if (started && m_page) m_page->Serve();
  return started;
}

bool Station::Stop(std::chrono::milliseconds limit) {
  // The page first: its requests never wait on the worker, so this ends
  // within the page's own timeouts even when the worker is stuck.
  if (m_page) m_page->Stop();
  return m_link.Stop(limit);
}

std::string Station::Describe() const {
  const PortConfig& config = m_link.config();
  std::string line = "listening on " + config.portPath + " at " + std::to_string(config.baudRate) +
                     " baud, map script " + m_link.mapScriptPath();
  if (m_page) {
    line += ", page " + m_page->url();
    // 0.0.0.0 and :: are opened through loopback here but served to the network.
    if (m_page->url().find(m_page->boundAddress()) == std::string::npos) {
      line += " (served on " + m_page->boundAddress() + ")";
    }
  }
  if (!m_mqttAddress.empty()) {
    line += ", MQTT " + m_mqttAddress + " as " + m_options.mqtt.receiver;
  }
  return line;
}

}  // namespace rigplot
