#include "mqtt/hub.h"

namespace rigplot {

std::unique_ptr<Hub> StartHub(const MqttSettings&, const std::string&, const HubSettings&,
                              LinkEventSink, std::string& error) {
  error = "this build has no MQTT";
  return nullptr;
}

}  // namespace rigplot
