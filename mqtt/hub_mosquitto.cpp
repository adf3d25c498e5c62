#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "mqtt/hub.h"
#include "stations/atomic_file.h"
#include "stations/report_log.h"

namespace rigplot {
namespace {

class MosquittoHub : public Hub {
 public:
  MosquittoHub(const MqttSettings& mqtt, const HubSettings& settings, LinkEventSink sink)
      : m_mqtt(mqtt), m_settings(settings), m_sink(std::move(sink)), m_table(settings.stations) {}
  ~MosquittoHub() override {
    Close();
    if (m_client != nullptr) mosquitto_destroy(m_client);
  }

  bool Connect(const std::string& password, std::string& error);
  HubCounts counts() const override {
    std::lock_guard lock(m_lock);
    HubCounts counts = m_counts;
    counts.stations = m_table.count();
    return counts;
  }
  std::vector<OutputHealth> outputs() const override {
    std::lock_guard lock(m_lock);
    return m_health;
  }
  void Clear() override {
    {
      std::lock_guard lock(m_lock);
      m_table.Clear();
      m_dirty = true;  // the page's clients see it at once
    }
    Wake();
  }
  void Reopen() override { m_reopen.store(true); }
  void Merge(const StationView& view) override {
    {
      std::lock_guard lock(m_localLock);
      // A writer this far behind is stuck; the radio is not held for it.
      if (m_local.size() >= kMaxLocal) return;
      m_local.push_back(view);
    }
    Wake();
  }
  void Close() override;

 private:
  static void OnConnect(mosquitto* client, void* self, int rc);
  static void OnDisconnect(mosquitto* client, void* self, int rc);
  static void OnMessage(mosquitto* client, void* self, const mosquitto_message* message);
  void Take(std::string_view topic, std::string_view payload);
  void Write();
  void Health(const std::string& name, bool working, const std::string& error);
  void Say(const std::string& line) {
    if (m_sink) m_sink(line);
  }
  std::string name() const { return MqttAddress(m_mqtt); }

  MqttSettings m_mqtt;
  HubSettings m_settings;
  LinkEventSink m_sink;
  mosquitto* m_client = nullptr;
  bool m_loopRunning = false;

  mutable std::mutex m_lock;  // the table, the counts, the writer's state
  static constexpr std::size_t kMaxLocal = 10000;
  std::mutex m_localLock;  // never held for more than a copy: the receive worker takes it
  std::vector<StationView> m_local;
  // The writer's wake-ups, apart from m_lock, which it holds while it renders.
  std::mutex m_wakeLock;
  std::condition_variable m_changed;
  bool m_woken = false;
  void Wake() {
    {
      std::lock_guard lock(m_wakeLock);
      m_woken = true;
    }
    m_changed.notify_one();
  }
  MergedTable m_table;
  HubCounts m_counts;
  HubReport m_report;          // reused by the library's thread
  std::string m_historyError;  // the same
  HubReport m_own;             // reused by the writer
  struct Logged {
    StationView view;
    std::time_t arrived;
  };
  static constexpr std::size_t kMaxLogPending = 100000;
  std::vector<Logged> m_logPending;  // for the writer, when logging
  bool m_logFullSaid = false;
  std::vector<OutputHealth> m_health;
  bool m_dirty = false;
  bool m_stop = false;  // under m_wakeLock
  std::atomic<bool> m_reopen{false};
  bool m_wasUp = false;
  bool m_down = false;
  bool m_refused = false;
  std::thread m_writer;
};

bool MosquittoHub::Connect(const std::string& password, std::string& error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  // A random id: several hubs may share a broker.
  m_client = mosquitto_new(nullptr, true, this);
  if (m_client == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  mosquitto_connect_callback_set(m_client, &OnConnect);
  mosquitto_disconnect_callback_set(m_client, &OnDisconnect);
  mosquitto_message_callback_set(m_client, &OnMessage);
  mosquitto_reconnect_delay_set(m_client, 1, 5, true);
  int rc = MOSQ_ERR_SUCCESS;
  if (!m_mqtt.user.empty()) {
    rc = mosquitto_username_pw_set(m_client, m_mqtt.user.c_str(),
                                   password.empty() ? nullptr : password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && m_mqtt.tls) {
    rc = mosquitto_tls_set(m_client, m_mqtt.caFile.empty() ? nullptr : m_mqtt.caFile.c_str(),
                           m_mqtt.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                           nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    error = mosquitto_strerror(rc);
    return false;
  }
  m_writer = std::thread([this] { Write(); });
  rc = mosquitto_connect_async(m_client, m_mqtt.host.c_str(), m_mqtt.port, 30);
  if (rc != MOSQ_ERR_SUCCESS) {
    m_down = true;
    Say("MQTT broker " + name() +
        " unreachable: " + (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)));
  }
  rc = mosquitto_loop_start(m_client);
  if (rc != MOSQ_ERR_SUCCESS) {
    error = mosquitto_strerror(rc);
    return false;
  }
  m_loopRunning = true;
  return true;
}

void MosquittoHub::OnConnect(mosquitto* client, void* self, int rc) {
  auto& hub = *static_cast<MosquittoHub*>(self);
  if (rc != 0) {
    // Every retry is refused alike: said once, and the disconnect that follows is not news.
    if (!hub.m_refused) {
      hub.Say("MQTT broker " + hub.name() + " refused the login: " + mosquitto_connack_string(rc));
    }
    hub.m_refused = true;
    hub.m_down = true;
    return;
  }
  hub.m_refused = false;
  for (const std::string& filter : hub.m_settings.filters) {
    mosquitto_subscribe(client, nullptr, filter.c_str(), 1);
  }
  if (!hub.m_wasUp) {
    hub.Say("MQTT broker " + hub.name() + " connected, merging reports");
  } else if (hub.m_down) {
    hub.Say("MQTT broker " + hub.name() + " back");
  }
  hub.m_wasUp = true;
  hub.m_down = false;
}

void MosquittoHub::OnDisconnect(mosquitto*, void* self, int rc) {
  auto& hub = *static_cast<MosquittoHub*>(self);
  if (rc == 0 || hub.m_down) return;
  hub.m_down = true;
  hub.Say("MQTT broker " + hub.name() + (hub.m_wasUp ? " gone: " : " unreachable: ") +
          mosquitto_strerror(rc));
}

void MosquittoHub::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  if (message->topic == nullptr) return;
  // An empty retained message is a station taken away, not a report.
  if (message->payloadlen <= 0) return;
  static_cast<MosquittoHub*>(self)->Take(
      message->topic,
      {static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)});
}

void MosquittoHub::Take(std::string_view topic, std::string_view payload) {
  if (!IsHubTopic(topic, m_mqtt.receiver)) return;
  // Only the library's thread reads into m_report; parsing happens outside the lock.
  const HubDrop drop = ReadHubReport(payload, m_report);
  bool first = false;
  bool logFull = false;
  {
    std::lock_guard lock(m_lock);
    if (drop == HubDrop::kNone) {
      m_table.Store(m_report);
      ++m_counts.merged;
      if (!m_settings.logDir.empty()) {
        // A log far behind (a disk that hangs) must not take the memory: said once.
        if (m_logPending.size() < kMaxLogPending) {
          m_logPending.push_back({m_report.view, std::time(nullptr)});
        } else {
          logFull = !std::exchange(m_logFullSaid, true);
        }
      }
      m_dirty = true;
    } else {
      first = m_counts.dropped[static_cast<int>(drop)]++ == 0;
    }
  }
  if (logFull) Say(m_settings.logDir + " is too far behind: reports not logged from here on");
  if (drop == HubDrop::kNone) {
    if (m_settings.history) {
      m_historyError.clear();
      const bool kept = m_settings.history(m_report, m_historyError);
      Health(m_settings.historyName, kept, m_historyError);
    }
    Wake();
  } else if (first) {
    Say("dropping MQTT payloads that are " + std::string(HubDropName(drop)) + " (first on " +
        std::string(topic) + "); counted from here on");
  }
}

// Renders under the lock, writes outside it: one file per batch of reports.
void MosquittoHub::Write() {
  struct File {
    std::string path;
    AtomicFileWriter writer{PathEncoding::kUtf8};
  } files[2] = {{m_settings.geojsonPath}, {m_settings.kmlPath}};
  ReportLog log(m_settings.logDir);
  std::string texts[2];
  std::vector<Logged> logged;
  std::vector<StationView> local;
  const bool kml = !m_settings.kmlPath.empty() || m_settings.rendered;
  for (;;) {
    {
      std::unique_lock wake(m_wakeLock);
      m_changed.wait(wake, [this] { return m_woken || m_stop; });
      if (!m_woken) break;
      m_woken = false;
    }
    {
      std::lock_guard guard(m_localLock);
      std::swap(local, m_local);
    }
    {
      std::lock_guard lock(m_lock);
      // What this receiver heard itself, merged like the others' reports.
      for (const StationView& view : local) {
        m_own.view = view;
        m_own.groupName = view.groupName;
        m_own.PlaceGroupName();
        m_own.receiver = m_mqtt.receiver;
        m_own.fixKey = HubFixKey(view.utcDate, view.utcTime);
        m_table.Store(m_own);
        m_dirty = true;
      }
      local.clear();
      if (!m_dirty) continue;
      m_dirty = false;
      RenderMergedGeoJson(texts[0], m_table);
      if (kml) RenderMergedKml(texts[1], m_table);
      std::swap(logged, m_logPending);
    }
    std::string error;
    for (std::size_t i = 0; i < 2; ++i) {
      if (files[i].path.empty()) continue;
      Health(files[i].path, files[i].writer.Replace(files[i].path, texts[i]),
             files[i].writer.lastError());
    }
    if (m_reopen.exchange(false)) log.Reopen();
    bool logWorks = true;
    for (const Logged& entry : logged) {
      error.clear();
      logWorks = log.Append(entry.view, entry.arrived, error) && logWorks;
    }
    if (!logged.empty()) Health(m_settings.logDir, logWorks, error);
    logged.clear();
    if (m_settings.rendered) m_settings.rendered(texts[0], texts[1]);
  }
  log.Close();
}

// A change of an output's health is said once, like the radio's outputs.
void MosquittoHub::Health(const std::string& name, bool working, const std::string& error) {
  bool changed = false;
  {
    std::lock_guard lock(m_lock);
    auto it = std::find_if(m_health.begin(), m_health.end(),
                           [&](const OutputHealth& h) { return h.name == name; });
    if (it == m_health.end()) it = m_health.insert(m_health.end(), OutputHealth{name, true, {}});
    changed = it->working != working;
    it->working = working;
    it->osError = working ? std::string() : error;
  }
  if (changed) Say(name + (working ? " written again" : " cannot be written: " + error));
}

void MosquittoHub::Close() {
  if (m_loopRunning) {
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    m_loopRunning = false;
  }
  {
    std::lock_guard lock(m_wakeLock);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_writer.joinable()) m_writer.join();
}

}  // namespace

std::unique_ptr<Hub> StartHub(const MqttSettings& mqtt, const std::string& password,
                              const HubSettings& settings, LinkEventSink sink, std::string& error) {
  auto hub = std::make_unique<MosquittoHub>(mqtt, settings, std::move(sink));
  if (!hub->Connect(password, error)) return nullptr;
  return hub;
}

}  // namespace rigplot
