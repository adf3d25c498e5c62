#include "station/station.h"

#include <cstdlib>
#include <fstream>

#include "mqtt/mqtt_output.h"
#include "station/file_outputs.h"
#include "station/station_history.h"

namespace rigplot {

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
  // The page takes its address before the worker starts, so that its feed
  // sees every report.
  if (m_options.webEnabled) m_page = StartWebPage(m_link, m_options.web, m_sink);
  return opened;
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
