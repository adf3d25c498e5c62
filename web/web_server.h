// SPDX-License-Identifier: MIT
// The page's HTTP server: a read-only view of the live feed and the link's status.
//
// Owns: the listening socket, every connection, the page's assets (built into
// the program, compressed by the build) and one thread that serves them all:
// an event stream costs a socket and one pending snapshot, not a thread.
// Invariants: only GET and HEAD of a fixed set of paths are answered (405 for
// other methods, 404 for other paths); no file is ever read for a request (a
// route's handler may look up rows of a file opened at start, by number).
// Every request is bounded: request line, whole head, time to send it; a
// request with a body is answered and its connection closed; Range is
// ignored. A connection that reached the server through loopback must name
// this machine as its Host (421 otherwise), so that no other site's page can
// read the answers by rebinding its name. At most `maxClients` connections are
// served at once, the rest are answered 503; a client that sends nothing, or
// takes nothing, is dropped after a timeout.
// Thread: Listen, Serve, Stop and the destructor on the owner's thread;
// connections on the server's one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "radio/radio_link.h"
#include "web/live_feed.h"

namespace rigplot {

// An extra path the page answers for a part built outside this folder. The
// handler runs on the server's thread with the query after '?' (raw); for a
// path ending in '/' it answers every path under it and is given the rest of
// the target after that prefix instead.
struct WebAnswer {
  WebAnswer() = default;
  WebAnswer(int status_, std::string contentType_, std::string body_)
      : status(status_), contentType(std::move(contentType_)), body(std::move(body_)) {}

  int status = 200;
  std::string contentType;
  std::string body;
  std::string headers;  // header lines ("Cache-Control: ...\r\n"); empty: no-store
  std::string etag;     // quoted strong tag; a request that has it gets 304
};
using WebRoute = std::function<WebAnswer(std::string_view query)>;

// Where the page is served and what it draws on; the defaults are the
// program's own when the command line says nothing.
struct WebSettings {
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr int kDefaultPort = 8073;
  static constexpr const char* kDefaultTiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";

  std::string host = kDefaultHost;
  int port = kDefaultPort;               // 0: a free port the system picks
  std::string tilesUrl = kDefaultTiles;  // {z}/{x}/{y} template, empty for a plain background
  // For tiles this server answers under /tiles/ itself: the tile layer's
  // options as a JSON object, and the attribution as plain text.
  std::string tilesOptions;
  std::string tilesAttribution;
  int maxClients = 256;  // connections served at once, event streams included

  // Extra paths ("/track.gpx") and their handlers.
  std::map<std::string, WebRoute> routes;
};

// Limits, all settable in one place.
struct WebLimits {
  static constexpr int kListenBacklog = 64;             // pending connections
  static constexpr std::size_t kMaxRequestLine = 1024;  // bytes; the paths are short
  static constexpr std::size_t kMaxRequestHead = 8192;  // request line and headers
  static constexpr int kIdleSeconds = 5;                // nothing sent: dropped
  static constexpr int kRequestSeconds = 10;            // to send a whole request
  static constexpr int kWriteSeconds = 5;               // a client taking nothing: dropped
  static constexpr int kKeepAliveRequests = 100;        // per connection
  static constexpr int kEventKeepAliveSeconds = 15;     // comment line on a quiet stream
  static constexpr int kLingerSeconds = 2;              // reading what follows a last answer
  static constexpr std::size_t kLingerBytes = 65536;    // at most, then the connection ends
};

class WebServer {
 public:
  using StatusSource = std::function<LinkStatus()>;

  WebServer(std::shared_ptr<LiveFeed> feed, StatusSource status, WebSettings settings);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Takes the address; connections wait in the backlog until Serve. False
  // with the OS's text when the address cannot be taken (another program has
  // the port, no such address).
  bool Listen(std::string& osError);

  // Starts answering, once. After Listen succeeded.
  void Serve();

  // Ends every connection and the accepting thread; bounded by the timeouts
  // above. Idempotent.
  void Stop();

  int port() const { return m_port; }
  // Where a browser on this machine opens the page: "http://127.0.0.1:8073/".
  std::string url() const;
  // The address served, as ADDR:PORT ("0.0.0.0:8073").
  std::string boundAddress() const;
  // Whether the address taken reaches beyond this machine (not loopback).
  bool servesNetwork() const;

 private:
  class Impl;
  std::unique_ptr<Impl> m_impl;
  WebSettings m_settings;
  int m_port = 0;
  bool m_network = false;
};

// The origin of a tile URL template as a Content-Security-Policy source
// ("https://tile.openstreetmap.org", "{s}" becoming "*"). False when the URL
// is not an http(s) template whose host can be named there safely.
bool TileOrigin(const std::string& tilesUrl, std::string& origin);

// Whether the tiles are this server's own (a template under /tiles/).
bool OwnTiles(const std::string& tilesUrl);

}  // namespace rigplot
