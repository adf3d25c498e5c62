// SPDX-License-Identifier: MIT
// Windows: no service manager to tell; rigplotd.exe runs in a console.
#include <functional>
#include <string>
#include <utility>

#include "service/service_notify.h"

namespace rigplot {

struct ServiceWatchdog::State {};

void NotifyReady(const std::string&) {}
void NotifyStopping() {}

ServiceWatchdog::ServiceWatchdog(std::function<bool()>) {}
ServiceWatchdog::~ServiceWatchdog() = default;
void ServiceWatchdog::Stop() {}

}  // namespace rigplot
