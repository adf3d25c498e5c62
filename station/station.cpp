#include "station/station.h"

#include "station/file_outputs.h"
#include "station/station_history.h"

namespace rigplot {

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
  // The page takes its address before the worker starts, so that its feed
  // sees every report.
  if (m_options.webEnabled) m_page = StartWebPage(m_link, m_options.web, m_sink);
  return opened;
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
  return line;
}

}  // namespace rigplot
