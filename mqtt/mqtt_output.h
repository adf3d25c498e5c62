// SPDX-License-Identifier: MIT
// The MQTT publisher: a station output that sends every stored report to a
// broker, keeps one retained message per station there, and says when the
// broker goes, comes back or refuses the login.
//
// Owns: a bounded queue of reports and clears, the broker connection and the
// thread that empties the queue into it.
// Invariants: Publish and TableCleared only copy and queue, whatever the
// broker does; past the bound the oldest report goes (a clear never does),
// said once. While the broker is away the queue waits and then goes out in
// order. Close is bounded: a connected publisher gets a moment to send what
// is queued, then the status topic says offline.
// Thread: the output's (station_output.h); callbacks on the library's
// thread; publishing on our own.
#pragma once

#include <memory>
#include <string>

#include "mqtt/mqtt_settings.h"
#include "radio/radio_link.h"

namespace rigplot {

// False in a build without an MQTT library: --mqtt is refused there.
bool MqttBuilt();

// This machine's short host name as a receiver name.
std::string DefaultReceiverName();

// Connects in the background and returns the output, or null with `error`
// when it cannot be made (the library, a TLS file). `portPath` goes into the
// retained status; `sink` hears the broker's changes.
std::unique_ptr<StationOutput> MakeMqttOutput(const MqttSettings& settings,
                                              const std::string& password,
                                              const std::string& portPath, LinkEventSink sink,
                                              std::string& error);

}  // namespace rigplot
