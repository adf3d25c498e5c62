#include "mqtt/mqtt_output.h"

namespace rigplot {

bool MqttBuilt() {
  return false;
}

std::string DefaultReceiverName() {
  return "rigplot";
}

std::unique_ptr<StationOutput> MakeMqttOutput(const MqttSettings&, const std::string&,
                                              const std::string&, LinkEventSink,
                                              std::string& error) {
  error = "this build has no MQTT";
  return nullptr;
}

}  // namespace rigplot
