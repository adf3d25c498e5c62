#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "mqtt/mqtt_output.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"

#ifndef RIGPLOT_VERSION
#define RIGPLOT_VERSION "unknown"
#endif

namespace rigplot {
namespace {

// QoS 1 messages handed to the library and not yet acknowledged: enough to
// keep a local broker busy, few enough that the library's own list stays short.
constexpr int kWindow = 1000;
constexpr auto kFlushLimit = std::chrono::seconds(3);

std::string OnlineStatus(const MqttSettings& settings, const std::string& portPath) {
  char started[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string status = "{\"online\":true,\"receiver\":\"" + settings.receiver + "\",\"port\":";
  AppendJsonString(status, portPath);
  status += ",\"version\":\"" RIGPLOT_VERSION "\",\"started\":\"";
  status += started;
  status += "\"}";
  return status;
}

class MosquittoOutput final : public StationOutput {
 public:
  MosquittoOutput(const MqttSettings& settings, std::string status, LinkEventSink sink)
      : m_settings(settings), m_status(std::move(status)), m_sink(std::move(sink)) {}

  ~MosquittoOutput() override {
    Close();
    if (m_client != nullptr) mosquitto_destroy(m_client);
  }

  bool Connect(const std::string& password, std::string& error);

  std::string name() const override { return MqttAddress(m_settings); }

  bool Publish(const StationTable& table, int slot, std::string&) override {
    std::lock_guard lock(m_lock);
    if (m_reports >= m_settings.queueLimit) DropOldest();
    m_queue.push_back(Item{false, table.slot(slot)});
    ++m_reports;
    m_wake.notify_one();
    return true;
  }

  void TableCleared(const StationTable&) override {
    std::lock_guard lock(m_lock);
    // Clears in a row while the broker is away are one clear.
    if (!m_queue.empty() && m_queue.back().clear) return;
    m_queue.push_back(Item{true, {}});
    m_wake.notify_one();
  }

  void Close() override;

 private:
  enum class Broker { kStarting, kUp, kDown, kRefused };
  struct Item {
    bool clear = false;
    StationRecord station;
  };

  void DropOldest();
  void Run();
  void Send(const Item& item);
  void SendOne(const std::string& topic, const std::string& payload, bool retain);
  void Say(const std::string& line) {
    if (m_sink) m_sink(line);
  }

  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnLog(mosquitto*, void* self, int level, const char* text);

  const MqttSettings m_settings;
  const std::string m_status;
  const LinkEventSink m_sink;
  mosquitto* m_client = nullptr;
  std::thread m_thread;
  bool m_loopRunning = false;

  std::mutex m_lock;  // the members down to m_broker
  std::condition_variable m_wake;
  std::deque<Item> m_queue;
  std::size_t m_reports = 0;  // reports in m_queue; clears are not counted
  bool m_dropping = false;    // reports dropped since the queue was last empty
  bool m_dropSaid = false;
  bool m_connected = false;
  bool m_stopping = false;
  bool m_closed = false;
  int m_inflight = 0;
  Broker m_broker = Broker::kStarting;

  // The publishing thread's own: stations with retained topics, for a clear.
  std::set<std::string> m_retained;
  StationView m_view;
  ReportMessages m_messages;
};

void MosquittoOutput::DropOldest() {
  for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
    if (it->clear) continue;  // a clear always reaches the broker
    m_queue.erase(it);
    --m_reports;
    m_dropping = true;
    return;
  }
}

bool MosquittoOutput::Connect(const std::string& password, std::string& error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  const std::string id = "rigplot-" + m_settings.receiver;
  m_client = mosquitto_new(id.c_str(), true, this);
  if (m_client == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  mosquitto_connect_callback_set(m_client, &OnConnect);
  mosquitto_disconnect_callback_set(m_client, &OnDisconnect);
  mosquitto_publish_callback_set(m_client, &OnPublish);
  mosquitto_log_callback_set(m_client, &OnLog);
  mosquitto_reconnect_delay_set(m_client, 1, 5, true);
  const std::string statusTopic = ReceiverTopic(m_settings, "status");
  const char offline[] = "{\"online\":false}";
  int rc = mosquitto_will_set(m_client, statusTopic.c_str(), sizeof offline - 1, offline, 1, true);
  if (rc == MOSQ_ERR_SUCCESS && !m_settings.user.empty()) {
    rc = mosquitto_username_pw_set(m_client, m_settings.user.c_str(),
                                   password.empty() ? nullptr : password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && m_settings.tls) {
    // Without --mqtt-ca, the system's trusted authorities.
    rc = mosquitto_tls_set(
        m_client, m_settings.caFile.empty() ? nullptr : m_settings.caFile.c_str(),
        m_settings.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    error = mosquitto_strerror(rc);
    return false;
  }
  rc = mosquitto_connect_async(m_client, m_settings.host.c_str(), m_settings.port, 30);
  const int connectError = errno;
  if (rc != MOSQ_ERR_SUCCESS) {
    // The library's thread keeps trying; the station runs meanwhile.
    {
      std::lock_guard lock(m_lock);
      m_broker = Broker::kDown;
    }
    Say("MQTT broker " + name() + " unreachable: " +
        (rc == MOSQ_ERR_ERRNO ? std::strerror(connectError) : mosquitto_strerror(rc)));
  }
  rc = mosquitto_loop_start(m_client);
  if (rc != MOSQ_ERR_SUCCESS) {
    error = mosquitto_strerror(rc);
    return false;
  }
  m_loopRunning = true;
  m_thread = std::thread([this] { Run(); });
  return true;
}

// The callbacks say what changed after letting go of the lock, so that a
// slow journal never holds up the worker's Publish.
void MosquittoOutput::OnConnect(mosquitto* client, void* self, int rc) {
  auto& out = *static_cast<MosquittoOutput*>(self);
  std::string line;
  {
    std::lock_guard lock(out.m_lock);
    if (rc != 0) {
      if (out.m_broker != Broker::kRefused) {
        line = "MQTT broker " + out.name() + " refused the login: " + mosquitto_connack_string(rc);
      }
      out.m_broker = Broker::kRefused;
    } else {
      const std::string topic = ReceiverTopic(out.m_settings, "status");
      mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(out.m_status.size()),
                        out.m_status.data(), 1, true);
      if (out.m_broker == Broker::kStarting) {
        line = "MQTT broker " + out.name() + " connected, publishing rigplot/" +
               out.m_settings.receiver;
      } else if (out.m_broker != Broker::kUp) {
        line = "MQTT broker " + out.name() + " back";
      }
      out.m_broker = Broker::kUp;
      out.m_connected = true;
      out.m_wake.notify_all();
    }
  }
  if (!line.empty()) out.Say(line);
}

void MosquittoOutput::OnDisconnect(mosquitto*, void* self, int rc) {
  auto& out = *static_cast<MosquittoOutput*>(self);
  std::string line;
  {
    std::lock_guard lock(out.m_lock);
    out.m_connected = false;
    if (rc != 0 && out.m_broker == Broker::kUp) {
      line = "MQTT broker " + out.name() + " gone: " + mosquitto_strerror(rc);
      out.m_broker = Broker::kDown;
    } else if (rc != 0 && out.m_broker == Broker::kStarting) {
      line = "MQTT broker " + out.name() + " unreachable: " + mosquitto_strerror(rc);
      out.m_broker = Broker::kDown;
    }
  }
  if (!line.empty()) out.Say(line);
}

// A failure before the broker ever answered (a TLS certificate refused, say)
// reaches no other callback: the library's error line says it, once.
void MosquittoOutput::OnLog(mosquitto*, void* self, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || text == nullptr) return;
  auto& out = *static_cast<MosquittoOutput*>(self);
  {
    std::lock_guard lock(out.m_lock);
    if (out.m_broker != Broker::kStarting) return;
    out.m_broker = Broker::kDown;
  }
  out.Say("MQTT broker " + out.name() + " unreachable: " + text);
}

void MosquittoOutput::OnPublish(mosquitto*, void* self, int) {
  auto& out = *static_cast<MosquittoOutput*>(self);
  std::lock_guard lock(out.m_lock);
  if (out.m_inflight > 0) --out.m_inflight;
  out.m_wake.notify_all();
}

void MosquittoOutput::SendOne(const std::string& topic, const std::string& payload, bool retain) {
  {
    std::lock_guard lock(m_lock);
    ++m_inflight;
  }
  // A QoS 1 message the library takes while the connection drops stays in
  // its list and goes again on reconnect; only a refusal outright is lost.
  const int rc = mosquitto_publish(m_client, nullptr, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), 1, retain);
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
    std::lock_guard lock(m_lock);
    --m_inflight;
  }
}

void MosquittoOutput::Send(const Item& item) {
  const bool ha = m_settings.homeAssistant;
  if (item.clear) {
    for (const std::string& callsign : m_retained) {
      const std::string topicCallsign = TopicCallsign(callsign);
      SendOne(ReceiverTopic(m_settings, "station/") + topicCallsign, {}, true);
      if (ha) {
        SendOne(HomeAssistantConfigTopic(m_settings, callsign), {}, true);
        SendOne(HomeAssistantAttributesTopic(m_settings, topicCallsign), {}, true);
      }
    }
    m_retained.clear();
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "{\"time\":\"%Y-%m-%dT%H:%M:%SZ\"}", &utc);
    SendOne(ReceiverTopic(m_settings, "cleared"), stamp, false);
    return;
  }
  // Decoded here, off the worker: the queue holds the raw slot.
  BuildStationView(m_view, item.station);
  MakeReportMessages(m_messages, m_view, m_settings.receiver);
  const bool first = m_retained.insert(m_messages.callsign).second;
  if (ha && !m_messages.attributes.empty()) {
    if (first) {
      SendOne(HomeAssistantConfigTopic(m_settings, m_messages.callsign),
              HomeAssistantConfig(m_settings, m_messages), true);
    }
    SendOne(HomeAssistantAttributesTopic(m_settings, m_messages.topicCallsign),
            m_messages.attributes, true);
  }
  SendOne(ReceiverTopic(m_settings, "report"), m_messages.feature, false);
  SendOne(ReceiverTopic(m_settings, "station/") + m_messages.topicCallsign, m_messages.feature,
          true);
}

void MosquittoOutput::Run() {
  std::unique_lock lock(m_lock);
  std::chrono::steady_clock::time_point flushUntil{};
  for (;;) {
    const auto ready = [this] { return !m_queue.empty() && m_connected && m_inflight < kWindow; };
    // Dropping is said when it starts, not when the broker is back.
    if (!m_stopping) {
      m_wake.wait(lock, [&] { return m_stopping || ready() || (m_dropping && !m_dropSaid); });
    }
    if (m_dropping && !m_dropSaid) {
      m_dropSaid = true;
      lock.unlock();
      Say("MQTT queue full at " + std::to_string(m_settings.queueLimit) +
          " reports: dropping the oldest");
      lock.lock();
    }
    if (!m_stopping && !ready()) continue;
    if (m_stopping) {
      // A connected publisher sends what is queued, for a bounded time.
      if (flushUntil == std::chrono::steady_clock::time_point{}) {
        flushUntil = std::chrono::steady_clock::now() + kFlushLimit;
      }
      const bool more = !m_queue.empty() || m_inflight > 0;
      if (!m_connected || !more ||
          !m_wake.wait_until(lock, flushUntil, [&] { return ready() || m_inflight == 0; })) {
        break;
      }
      if (!ready()) continue;
    }
    Item item = std::move(m_queue.front());
    m_queue.pop_front();
    if (!item.clear) --m_reports;
    if (m_queue.empty()) m_dropping = m_dropSaid = false;
    lock.unlock();
    Send(item);
    lock.lock();
  }
}

void MosquittoOutput::Close() {
  {
    std::lock_guard lock(m_lock);
    if (m_closed) return;
    m_closed = true;
    m_stopping = true;
    m_wake.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
  if (!m_loopRunning) return;
  bool connected = false;
  {
    std::lock_guard lock(m_lock);
    connected = m_connected;
  }
  if (connected) {
    // A stop is no fault: the status says offline without the will.
    const std::string topic = ReceiverTopic(m_settings, "status");
    const char offline[] = "{\"online\":false}";
    SendOne(topic, std::string(offline, sizeof offline - 1), true);
    std::unique_lock lock(m_lock);
    m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_inflight == 0; });
  }
  mosquitto_disconnect(m_client);
  mosquitto_loop_stop(m_client, false);
  m_loopRunning = false;
}

}  // namespace

bool MqttBuilt() {
  return true;
}

std::string DefaultReceiverName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "rigplot";
  // The short name; a character a topic level should not hold becomes '-'.
  std::string receiver(name, strnlen(name, sizeof name));
  receiver = receiver.substr(0, receiver.find('.'));
  for (char& c : receiver) {
    if (!IsReceiverName(std::string_view(&c, 1))) c = '-';
  }
  return IsReceiverName(receiver) ? receiver : "rigplot";
}

std::unique_ptr<StationOutput> MakeMqttOutput(const MqttSettings& settings,
                                              const std::string& password,
                                              const std::string& portPath, LinkEventSink sink,
                                              std::string& error) {
  auto output = std::make_unique<MosquittoOutput>(settings, OnlineStatus(settings, portPath),
                                                  std::move(sink));
  if (!output->Connect(password, error)) return nullptr;
  return output;
}

}  // namespace rigplot
