#include "web/web_server.h"

// The backlog goes into the library where it is compiled with this program
// (the MinGW build); the shared Linux library gets it by RaiseBacklog below.
#define CPPHTTPLIB_LISTEN_BACKLOG 64
#include <httplib.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>

#include "web/page_assets.h"

namespace rigplot {
namespace {

static_assert(CPPHTTPLIB_LISTEN_BACKLOG == WebLimits::kListenBacklog);

#ifdef _WIN32
constexpr int kNoSignal = 0;
int PollSocket(socket_t sock, short events, int milliseconds) {
  WSAPOLLFD fd{};
  fd.fd = sock;
  fd.events = events;
  return WSAPoll(&fd, 1, milliseconds);
}
int LastSocketError() {
  return WSAGetLastError();
}
bool Interrupted(int error) {
  return error == WSAEINTR;
}
bool WouldBlock(int error) {
  return error == WSAEWOULDBLOCK || error == WSAETIMEDOUT;
}
void CloseSocket(socket_t sock) {
  ::shutdown(sock, SD_BOTH);
  ::closesocket(sock);
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SD_BOTH);
}
#else
constexpr int kNoSignal = MSG_NOSIGNAL;  // a vanished client must not raise SIGPIPE
int PollSocket(socket_t sock, short events, int milliseconds) {
  pollfd fd{};
  fd.fd = sock;
  fd.events = events;
  int result;
  do {
    result = ::poll(&fd, 1, milliseconds);
  } while (result < 0 && errno == EINTR);
  return result;
}
int LastSocketError() {
  return errno;
}
bool Interrupted(int error) {
  return error == EINTR;
}
bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}
void CloseSocket(socket_t sock) {
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SHUT_RDWR);
}
#endif

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Sends all of `text` unless the client takes nothing for kWriteSeconds.
bool SendAll(socket_t sock, const char* data, std::size_t size) {
  const auto stall = std::chrono::seconds(WebLimits::kWriteSeconds);
  auto deadline = Clock::now() + stall;
  while (size > 0) {
    const int ready = PollSocket(sock, POLLOUT, MillisecondsUntil(deadline));
    if (ready <= 0) return false;
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    const auto sent = ::send(sock, data, chunk, kNoSignal);
    if (sent < 0) {
      const int error = LastSocketError();
      if (Interrupted(error) || WouldBlock(error)) {
        if (Clock::now() >= deadline) return false;
        continue;
      }
      return false;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
    deadline = Clock::now() + stall;
  }
  return true;
}

void AddressOf(socket_t sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int result = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                          : ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  ip.clear();
  port = 0;
  if (result != 0) return;
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(service);
  }
}

// One client connection as the library reads and writes it, with the bounds
// the library lacks: the request line and the whole head are capped while
// they are read (not after), a request must arrive in kRequestSeconds, and a
// client that takes nothing for kWriteSeconds is dropped. Reads are buffered,
// so the library's byte-by-byte line reading costs no system call per byte.
class ClientStream final : public httplib::Stream {
 public:
  explicit ClientStream(socket_t sock) : m_sock(sock) {}

  using httplib::Stream::write;

  // Waits for the next request to begin; false after kIdleSeconds of nothing.
  bool WaitForRequest() {
    if (m_dead) return false;
    if (m_begin < m_end) return true;
    return PollSocket(m_sock, POLLIN, WebLimits::kIdleSeconds * 1000) > 0;
  }

  void BeginRequest() {
    m_deadline = Clock::now() + std::chrono::seconds(WebLimits::kRequestSeconds);
    m_delivered = 0;
    m_lineEnded = false;
  }

  bool dead() const { return m_dead; }

  bool is_readable() const override {
    return !m_dead && (m_begin < m_end || PollSocket(m_sock, POLLIN, 0) > 0);
  }
  bool is_writable() const override {
    return !m_dead && PollSocket(m_sock, POLLOUT, WebLimits::kWriteSeconds * 1000) > 0;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (m_dead) return -1;
    if (m_begin == m_end && !Fill()) return m_dead ? -1 : 0;
    const std::size_t n = std::min(size, m_end - m_begin);
    for (std::size_t i = 0; i < n && !m_lineEnded; ++i) {
      if (m_buffer[m_begin + i] == '\n') {
        m_lineEnded = true;
      } else if (m_delivered + i + 1 > WebLimits::kMaxRequestLine) {
        return Refuse("414 URI Too Long");
      }
    }
    m_delivered += n;
    if (m_delivered > WebLimits::kMaxRequestHead)
      return Refuse("431 Request Header Fields Too Large");
    std::memcpy(ptr, m_buffer + m_begin, n);
    m_begin += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (m_dead) return -1;
    if (!SendAll(m_sock, ptr, size)) {
      m_dead = true;
      return -1;
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(m_sock, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(m_sock, false, ip, port);
  }
  socket_t socket() const override { return m_sock; }

 private:
  bool Fill() {
    const int ready = PollSocket(m_sock, POLLIN, MillisecondsUntil(m_deadline));
    if (ready <= 0) {
      m_dead = true;  // too slow: the request is dropped unanswered
      return false;
    }
    const auto got = ::recv(m_sock, m_buffer, static_cast<int>(sizeof m_buffer), 0);
    if (got <= 0) {
      m_dead = got < 0;
      return false;
    }
    m_begin = 0;
    m_end = static_cast<std::size_t>(got);
    return true;
  }

  // Answers an oversized request itself; the library's own answer to the
  // failed read then goes nowhere.
  ssize_t Refuse(const char* status) {
    std::string answer = "HTTP/1.1 ";
    answer += status;
    answer += "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(m_sock, answer.data(), answer.size());
    m_dead = true;
    return -1;
  }

  socket_t m_sock;
  char m_buffer[4096];
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  Clock::time_point m_deadline = Clock::now();
  std::size_t m_delivered = 0;  // bytes of this request handed to the library
  bool m_lineEnded = false;     // the request line is complete
  bool m_dead = false;
};

void AppendUtf8JsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b == '"' || b == '\\') {
        out += '\\';
        out += static_cast<char>(b);
      } else if (b < 0x20 || b == 0x7F) {
        out += "\\u00";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      } else {
        out += static_cast<char>(b);
      }
      ++i;
      continue;
    }
    // A whole, shortest-form UTF-8 sequence passes; anything else is U+FFFD.
    const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    bool whole = length > 0 && b <= 0xF4 && i + length <= text.size();
    for (int k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (whole && length >= 3) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      whole = !(b == 0xE0 && second < 0xA0) && !(b == 0xED && second > 0x9F) &&
              !(b == 0xF0 && second < 0x90) && !(b == 0xF4 && second > 0x8F);
    }
    if (whole) {
      out.append(text, i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out += '"';
}

std::string StatusJson(const LinkStatus& status) {
  std::string out = "{\"port\":";
  AppendUtf8JsonString(out, status.portPath);
  out += ",\"baud_rate\":" + std::to_string(status.baudRate);
  out += ",\"adapter_present\":";
  out += status.adapterPresent ? "true" : "false";
  out += ",\"reports_stored\":" + std::to_string(status.reportsStored);
  out += ",\"stations\":" + std::to_string(status.stations);
  out += ",\"outputs\":[";
  for (std::size_t i = 0; i < status.outputs.size(); ++i) {
    const OutputHealth& output = status.outputs[i];
    if (i > 0) out += ',';
    out += "{\"name\":";
    AppendUtf8JsonString(out, output.name);
    out += ",\"working\":";
    out += output.working ? "true" : "false";
    out += ",\"error\":";
    AppendUtf8JsonString(out, output.osError);
    out += '}';
  }
  out += "]}\n";
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void ReplaceAll(std::string& text, std::string_view from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string HostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

bool TileOrigin(const std::string& tilesUrl, std::string& origin) {
  const auto schemeEnd = tilesUrl.find("://");
  if (schemeEnd == std::string::npos) return false;
  const std::string scheme = tilesUrl.substr(0, schemeEnd);
  if (scheme != "http" && scheme != "https") return false;
  // Nothing in the whole URL may end a header value, a policy directive or an
  // HTML attribute.
  for (const char c : tilesUrl) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '"' || c == '\'' || c == ';' || c == ',' || c == '<' ||
        c == '>' || c == '\\') {
      return false;
    }
  }
  const auto hostStart = schemeEnd + 3;
  const auto hostEnd = tilesUrl.find('/', hostStart);
  if (hostEnd == std::string::npos || hostEnd == hostStart) return false;
  std::string host = tilesUrl.substr(hostStart, hostEnd - hostStart);
  ReplaceAll(host, "{s}", "*");
  for (const char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
                         c == ']' || c == '*';
    if (!allowed) return false;
  }
  if (host.find('*') != std::string::npos && host.rfind("*.", 0) != 0) return false;
  origin = scheme + "://" + host;
  return true;
}

class WebServer::Impl {
 public:
  Impl(std::shared_ptr<LiveFeed> feed, StatusSource status, const WebSettings& settings)
      : m_feed(std::move(feed)), m_status(std::move(status)) {
    std::string origin;
    const bool tiles = !settings.tilesUrl.empty() && TileOrigin(settings.tilesUrl, origin);
    MakePage(tiles ? settings.tilesUrl : std::string(), origin);
    // data: for Leaflet's blank image, which stops an unwanted tile loading,
    // and the page's empty icon.
    Configure(tiles ? origin + " data:" : std::string("data:"));
  }

  bool Listen(const WebSettings& settings, int& port, std::string& osError) {
#ifndef _WIN32
    errno = 0;
#else
    WSASetLastError(0);
#endif
    if (settings.port == 0) {
      port = m_server.bind_to_any_port(settings.host);
    } else {
      port = m_server.bind_to_port(settings.host, settings.port) ? settings.port : -1;
    }
    if (port <= 0) {
      const int error = LastSocketError();
      osError = error != 0 ? std::system_category().message(error)
                           : std::string("the address cannot be used");
      return false;
    }
    m_server.RaiseBacklog();
    m_settings = settings;
    m_port = port;
    return true;
  }

  void Serve() {
    if (m_thread.joinable() || m_stopRequested || m_port <= 0) return;
    m_pool = std::make_unique<httplib::ThreadPool>(WebLimits::kPoolThreads);
    m_thread = std::thread([this] { Accept(); });
  }

  void Stop() {
    m_stopRequested = true;
    m_feed->Stop();  // ends every event stream's wait
    m_server.CloseClients();
    // The library's stop only works once its loop runs; repeat it until the
    // accepting thread has ended, however the two met.
    while (m_thread.joinable() && !m_acceptEnded) {
      m_server.StopAccepting();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_thread.joinable()) {
      m_thread.join();
    } else {
      m_server.CloseUnused();
    }
    // Connections still open were shut down above and end promptly.
    if (m_pool) {
      m_pool->shutdown();
      m_pool.reset();
    }
  }

 private:
  // What the library's accepting loop takes as its task queue: a handle on
  // the server's one pool, which that loop does not own.
  class PoolUse final : public httplib::TaskQueue {
   public:
    explicit PoolUse(httplib::ThreadPool& pool) : m_pool(pool) {}
    void enqueue(std::function<void()> fn) override { m_pool.enqueue(std::move(fn)); }
    void shutdown() override {}

   private:
    httplib::ThreadPool& m_pool;
  };

  // The library's server with the connection handling replaced: a cap on
  // clients, and the bounded stream above for every request.
  class PageServer final : public httplib::Server {
   public:
    PageServer() = default;

    // The shared Linux library listens with its own backlog; listening again
    // on the bound socket sets ours.
    void RaiseBacklog() {
#ifndef _WIN32
      ::listen(svr_sock_, WebLimits::kListenBacklog);
#endif
    }

    // stop() closes the port; called only while the loop runs and the port
    // is still open, so a repeat closes nothing twice.
    void StopAccepting() {
      if (is_running() && svr_sock_ != INVALID_SOCKET) stop();
    }

    // The port of a server that was bound but never served.
    void CloseUnused() {
      const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
      if (sock != INVALID_SOCKET) CloseSocket(sock);
    }

    void CloseClients() {
      std::scoped_lock lock(m_clientsLock);
      m_stopping = true;
      for (const socket_t sock : m_clients) ShutdownSocket(sock);
    }

   private:
    bool process_and_close_socket(socket_t sock) override {
      int on = 1;
      ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      {
        std::scoped_lock lock(m_clientsLock);
        if (m_stopping || static_cast<int>(m_clients.size()) >= WebLimits::kMaxClients) {
          static constexpr std::string_view kBusy =
              "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
              "Connection: close\r\nRetry-After: 5\r\n\r\n";
          ::send(sock, kBusy.data(), static_cast<int>(kBusy.size()), kNoSignal);
          CloseSocket(sock);
          return false;
        }
        m_clients.insert(sock);
      }
      Serve(sock);
      {
        std::scoped_lock lock(m_clientsLock);
        m_clients.erase(sock);
      }
      CloseSocket(sock);
      return true;
    }

    void Serve(socket_t sock) {
      ClientStream stream(sock);
      for (int count = 0; count < WebLimits::kKeepAliveRequests; ++count) {
        if (svr_sock_ == INVALID_SOCKET || !stream.WaitForRequest()) return;
        stream.BeginRequest();
        bool parsed = false;  // the request line and headers were read whole
        bool closeAfter = false;
        bool connectionClosed = false;
        const bool last = count + 1 == WebLimits::kKeepAliveRequests;
        const bool ok = process_request(stream, last, connectionClosed, [&](httplib::Request& req) {
          parsed = true;
          if (req.method != "GET" && req.method != "HEAD") {
            // Its body, if any, is never read: the connection ends with the answer.
            closeAfter = true;
            req.headers.erase("Connection");
            req.set_header("Connection", "close");
          }
        });
        if (!ok || !parsed || closeAfter || connectionClosed || stream.dead()) return;
      }
    }

    std::mutex m_clientsLock;
    std::set<socket_t> m_clients;
    bool m_stopping = false;
  };

  void MakePage(const std::string& tilesUrl, const std::string& origin) {
    const auto* index = FindPageAsset("/");
    m_index = index != nullptr ? std::string(index->body) : std::string();
    std::string attribution;
    if (tilesUrl == WebSettings::kDefaultTiles) {
      attribution =
          "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> "
          "contributors";
    } else if (!tilesUrl.empty()) {
      attribution = "Tiles: " + HtmlEscape(origin);
    }
    ReplaceAll(m_index, "{{TILES}}", HtmlEscape(tilesUrl));
    ReplaceAll(m_index, "{{ATTRIBUTION}}", HtmlEscape(attribution));
  }

  void Configure(const std::string& imageSources) {
    httplib::Server& server = m_server;
    // The library's default sets SO_REUSEPORT, which would let a second copy
    // share the port silently: take the port alone.
    server.set_socket_options([](socket_t sock) {
      int on = 1;
#ifdef _WIN32
      ::setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on);
#else
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    });
    server.set_tcp_nodelay(true);
    // One pool for the server's life: the library would join its pool each
    // time its accepting loop ends, which waits for every open event stream.
    server.new_task_queue = [this]() -> httplib::TaskQueue* { return new PoolUse(*m_pool); };
    server.set_read_timeout(WebLimits::kIdleSeconds, 0);
    server.set_write_timeout(WebLimits::kWriteSeconds, 0);
    server.set_keep_alive_timeout(WebLimits::kIdleSeconds);
    server.set_keep_alive_max_count(WebLimits::kKeepAliveRequests);
    server.set_payload_max_length(1024);
    server.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src " + imageSources +
             "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "strict-origin-when-cross-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
    });
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      Route(req, res);
      return httplib::Server::HandlerResponse::Handled;
    });
  }

  void Route(const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.status = 405;
      res.set_header("Allow", "GET, HEAD");
      res.set_content("Only GET and HEAD are answered here.\n", "text/plain; charset=utf-8");
      return;
    }
    const std::string& path = req.path;
    if (path == "/events") {
      ServeEvents(res);
    } else if (path == "/stations.geojson") {
      res.set_header("Cache-Control", "no-store");
      res.set_content(m_feed->Latest()->geojson, "application/geo+json");
    } else if (path == "/stations.kml") {
      res.set_header("Cache-Control", "no-store");
      res.set_content(*m_feed->Kml(), "application/vnd.google-earth.kml+xml");
    } else if (path == "/status.json") {
      res.set_header("Cache-Control", "no-store");
      res.set_content(StatusJson(m_status()), "application/json");
    } else if (path == "/") {
      res.set_header("Cache-Control", "no-cache");
      res.set_content(m_index, "text/html; charset=utf-8");
    } else if (const PageAsset* asset = FindPageAsset(path); asset != nullptr) {
      res.set_header("Cache-Control", "no-cache");
      res.set_content(std::string(asset->body), asset->contentType);
    } else {
      res.status = 404;
      res.set_content("Not found.\n", "text/plain; charset=utf-8");
    }
  }

  // The whole table at once, then after every change; a comment line keeps
  // a quiet stream open through proxies. Each stream holds its own thread and
  // waits on the feed, never the other way round.
  void ServeEvents(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    std::shared_ptr<LiveFeed> feed = m_feed;
    res.set_chunked_content_provider(
        "text/event-stream", [feed, seen = std::uint64_t{0}, first = true](
                                 std::size_t, httplib::DataSink& sink) mutable {
          if (first) {
            first = false;
            static constexpr std::string_view kRetry = "retry: 2000\n\n";
            if (!sink.write(kRetry.data(), kRetry.size())) return false;
          }
          const auto snapshot =
              feed->WaitNewer(seen, std::chrono::seconds(WebLimits::kEventKeepAliveSeconds));
          if (feed->stopping()) return false;
          if (!snapshot) {
            static constexpr std::string_view kComment = ": keep-alive\n\n";
            return sink.write(kComment.data(), kComment.size());
          }
          seen = snapshot->version;
          return sink.write(snapshot->event.data(), snapshot->event.size());
        });
  }

  // The library ends its accepting loop, closing the port, on any error of
  // accept() but a few; errors that a client can cause (a connection reset
  // before it was taken) must not end the page, so the port is taken again.
  void Accept() {
    for (int retry = 0; retry < 100 && !m_stopRequested; ++retry) {
      m_server.listen_after_bind();
      if (m_stopRequested) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (m_stopRequested || !m_server.bind_to_port(m_settings.host, m_port)) break;
      m_server.RaiseBacklog();
    }
    m_server.CloseUnused();
    m_acceptEnded = true;
  }

  std::shared_ptr<LiveFeed> m_feed;
  StatusSource m_status;
  WebSettings m_settings;
  int m_port = 0;
  std::unique_ptr<httplib::ThreadPool> m_pool;
  PageServer m_server;
  std::string m_index;
  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_acceptEnded{false};
};

WebServer::WebServer(std::shared_ptr<LiveFeed> feed, StatusSource status, WebSettings settings)
    : m_impl(std::make_unique<Impl>(std::move(feed), std::move(status), settings)),
      m_settings(std::move(settings)) {}

WebServer::~WebServer() {
  Stop();
}

bool WebServer::Listen(std::string& osError) {
  return m_impl->Listen(m_settings, m_port, osError);
}

void WebServer::Serve() {
  m_impl->Serve();
}

void WebServer::Stop() {
  if (m_impl) m_impl->Stop();
}

std::string WebServer::url() const {
  std::string host = m_settings.host;
  if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
  if (host == "::") host = "::1";
  return "http://" + HostForUrl(host) + ":" + std::to_string(m_port) + "/";
}

std::string WebServer::boundAddress() const {
  return HostForUrl(m_settings.host.empty() ? "0.0.0.0" : m_settings.host) + ":" +
         std::to_string(m_port);
}

}  // namespace rigplot
