// The page's HTTP server: a read-only view of the live feed and the link's status.
//
// Owns: the listening socket, a fixed pool of connection threads, the page's
// assets (built into the program) and the thread that accepts connections.
// Invariants: only GET and HEAD of a fixed set of paths are answered (405 for
// other methods, 404 for other paths); no file is ever read for a request.
// Every request is bounded: request line, whole header, time to send it; at
// most kMaxClients connections are served at once, the rest are turned away;
// a client that sends nothing, or takes nothing, is dropped after a timeout.
// Thread: Listen, Stop and the destructor on the owner's thread; requests on
// the pool's threads.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "radio/radio_link.h"
#include "web/live_feed.h"

namespace rigplot {

// Where the page is served and what it draws on; the defaults are the
// program's own when the command line says nothing.
struct WebSettings {
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr int kDefaultPort = 8073;
  static constexpr const char* kDefaultTiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";

  std::string host = kDefaultHost;
  int port = kDefaultPort;               // 0: a free port the system picks
  std::string tilesUrl = kDefaultTiles;  // {z}/{x}/{y} template, empty for a plain background
};

// Limits, all settable in one place.
struct WebLimits {
  static constexpr int kMaxClients = 32;                // connections served at once
  static constexpr int kPoolThreads = kMaxClients + 8;  // the rest turn the surplus away
  static constexpr int kListenBacklog = 64;             // pending connections
  static constexpr std::size_t kMaxRequestLine = 1024;  // bytes; the paths are short
  static constexpr std::size_t kMaxRequestHead = 8192;  // request line and headers
  static constexpr int kIdleSeconds = 5;                // nothing sent: dropped
  static constexpr int kRequestSeconds = 10;            // to send a whole request
  static constexpr int kWriteSeconds = 5;               // a client taking nothing: dropped
  static constexpr int kKeepAliveRequests = 100;        // per connection
  static constexpr int kEventKeepAliveSeconds = 15;     // comment line on a quiet stream
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

 private:
  class Impl;
  std::unique_ptr<Impl> m_impl;
  WebSettings m_settings;
  int m_port = 0;
};

// The origin of a tile URL template as a Content-Security-Policy source
// ("https://tile.openstreetmap.org", "{s}" becoming "*"). False when the URL
// is not an http(s) template whose host can be named there safely.
bool TileOrigin(const std::string& tilesUrl, std::string& origin);

}  // namespace rigplot
