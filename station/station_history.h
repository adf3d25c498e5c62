// SPDX-License-Identifier: MIT
// The history file the command line asks for: its store among the link's
// outputs, or fed by a hub, and the page's track paths.
// Thread: the front end's, once in Station::Open before the link opens, or
// in HubStation::Open before the hub starts.
#pragma once

#include <memory>

#include "mqtt/hub.h"
#include "radio/radio_link.h"
#include "station/command_line.h"
#include "web/web_server.h"

namespace rigplot {

// With --history: opens the file and adds its store to `link`, and the
// track paths to `web`. A file that cannot be opened or made is said once to
// the sink and the station runs without history; a newer or foreign file
// fails the start, untouched.
LinkResult AddHistory(const CommandLine& options, RadioLink& link, WebSettings& web,
                      const LinkEventSink& sink);

// The same for a hub: `hub` queues every merged report there with its
// receiver. `store` is the history's own, to be closed after the hub, which
// uses it until then.
LinkResult AddHubHistory(const CommandLine& options, HubSettings& hub, WebSettings& web,
                         const LinkEventSink& sink, std::unique_ptr<StationOutput>& store);

}  // namespace rigplot
