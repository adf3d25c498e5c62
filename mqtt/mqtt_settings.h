// SPDX-License-Identifier: MIT
// What a station publishes to an MQTT broker, and the names it publishes
// under: the broker's address, this receiver's name, the topics of a station
// and the messages of a report.
//
// Pure: nothing here opens a connection; the publisher (mqtt_output.h) does.
// Topics: rigplot/<receiver>/report, .../station/<callsign>, .../cleared,
// .../status; with Home Assistant, <prefix>/device_tracker/<node>/<object>/config.
// Thread: any.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "stations/station_view.h"

namespace rigplot {

struct MqttSettings {
  static constexpr std::size_t kDefaultQueue = 10000;

  bool enabled = false;  // --mqtt given
  bool tls = false;      // mqtts://
  std::string user;      // before '@', empty for none
  std::string host;
  int port = 0;
  std::string caFile;                      // --mqtt-ca FILE
  std::string passwordFile;                // --mqtt-password-file FILE
  std::string receiver;                    // --receiver NAME, the host name when empty
  std::size_t queueLimit = kDefaultQueue;  // --mqtt-queue N, reports
  bool homeAssistant = false;              // --homeassistant [PREFIX]
  std::string homeAssistantPrefix = "homeassistant";
};

// mqtt://[USER@]HOST[:PORT] (1883) or mqtts://... (8883); HOST may be an
// IPv6 address in brackets. False when the URL is not one of those.
bool ParseMqttUrl(std::string_view url, MqttSettings& settings);

// "mqtt://host:1883", no user: for the journal.
std::string MqttAddress(const MqttSettings& settings);

// Letters, digits, '-', '_' and '.', 1 to 64 of them: a name that stays one
// topic level on every broker and one word in the journal.
bool IsReceiverName(std::string_view name);

// The callsign as one topic level: every byte of its UTF-8 form outside
// A-Z a-z 0-9 - _ . as %XX, upper-case hex. "JA1ABC A" gives "JA1ABC%20A".
std::string TopicCallsign(std::string_view utf8);

// Home Assistant's ids allow only A-Z a-z 0-9 _ -: every other byte and '_'
// itself become _XX, so that two names never give one id.
std::string HomeAssistantId(std::string_view text);

// The messages of one stored report, for one receiver.
struct ReportMessages {
  std::string topicCallsign;  // TopicCallsign of the callsign's UTF-8
  std::string callsign;       // UTF-8
  std::string feature;        // the Feature stations.geojson holds, plus "receiver"
  std::string attributes;     // Home Assistant's GPS attributes; empty without a position
};

// Fills `out`, reusing its buffers.
void MakeReportMessages(ReportMessages& out, const StationView& station, std::string_view receiver);

// The retained discovery message of a device tracker for the station.
std::string HomeAssistantConfig(const MqttSettings& settings, const ReportMessages& report);
std::string HomeAssistantConfigTopic(const MqttSettings& settings, std::string_view callsign);
std::string HomeAssistantAttributesTopic(const MqttSettings& settings,
                                         std::string_view topicCallsign);

std::string ReceiverTopic(const MqttSettings& settings, std::string_view leaf);

}  // namespace rigplot
