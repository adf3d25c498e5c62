#include "web/web_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_suffix.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "web/listen_socket.h"
#include "web/page_assets.h"

namespace rigplot {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

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
  out += ']';
  if (!status.dropped.empty()) {
    out += ",\"payloads_dropped\":{";
    for (std::size_t i = 0; i < status.dropped.size(); ++i) {
      if (i > 0) out += ',';
      AppendUtf8JsonString(out, status.dropped[i].first);
      out += ':' + std::to_string(status.dropped[i].second);
    }
    out += '}';
  }
  out += "}\n";
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

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Calls `each` with every comma-separated item of a header value, trimmed.
template <typename Each>
void ForEachItem(std::string_view value, Each each) {
  while (!value.empty()) {
    const auto comma = value.find(',');
    each(Trim(value.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
}

// Whether an Accept-Encoding value takes `coding` (a q of 0 refuses it).
bool Accepts(std::string_view acceptEncoding, std::string_view coding) {
  bool accepted = false;
  ForEachItem(acceptEncoding, [&](std::string_view item) {
    const auto semicolon = item.find(';');
    if (Lower(Trim(item.substr(0, semicolon))) != coding) return;
    accepted = true;
    if (semicolon == std::string_view::npos) return;
    std::string params = Lower(item.substr(semicolon + 1));
    params.erase(std::remove(params.begin(), params.end(), ' '), params.end());
    if (const auto q = params.find("q="); q != std::string::npos) {
      const auto end = params.find(';', q);
      const std::string_view number =
          std::string_view(params).substr(q + 2, end == std::string::npos ? end : end - q - 2);
      accepted = number.find_first_of("123456789") != std::string_view::npos;  // not q=0.000
    }
  });
  return accepted;
}

// Whether If-None-Match names `etag` (weakly, as that header compares).
bool NoneMatch(std::string_view ifNoneMatch, std::string_view etag) {
  bool matched = false;
  ForEachItem(ifNoneMatch, [&](std::string_view item) {
    if (item.rfind("W/", 0) == 0) item.remove_prefix(2);
    if (item == "*" || item == etag) matched = true;
  });
  return matched;
}

std::string HexTag(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
  return out;
}

bool IsLoopback(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
  }
  return address.is_loopback();
}

// The names this machine answers to through loopback, with the port (a
// browser leaves out port 80).
bool LoopbackHost(std::string_view host, int port) {
  const std::string name = Lower(host);
  const std::string suffix = ":" + std::to_string(port);
  for (const char* allowed : {"127.0.0.1", "localhost", "[::1]"}) {
    if (name == allowed + suffix || (port == 80 && name == allowed)) return true;
  }
  return false;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 414:
      return "URI Too Long";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Service Unavailable";
  }
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

bool OwnTiles(const std::string& tilesUrl) {
  return tilesUrl == "/tiles/{z}/{x}/{y}";
}

class WebServer::Impl {
 public:
  Impl(std::shared_ptr<LiveFeed> feed, StatusSource status, const WebSettings& settings)
      : m_feed(std::move(feed)),
        m_status(std::move(status)),
        m_maxClients(std::max(1, settings.maxClients)),
        m_routes(settings.routes) {
    std::string origin;
    const bool own = OwnTiles(settings.tilesUrl);
    if (own) origin = "'self'";
    const bool tiles = own || (!settings.tilesUrl.empty() && TileOrigin(settings.tilesUrl, origin));
    MakePage(tiles ? settings.tilesUrl : std::string(), origin, settings);
    // data: for Leaflet's blank image, which stops an unwanted tile loading,
    // and the page's empty icon.
    const std::string images = tiles ? origin + " data:" : std::string("data:");
    m_commonHeaders =
        "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
        "img-src " +
        images +
        "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
        "X-Content-Type-Options: nosniff\r\n"
        "X-Frame-Options: DENY\r\n"
        "Referrer-Policy: strict-origin-when-cross-origin\r\n"
        "Cross-Origin-Resource-Policy: same-origin\r\n";
  }

  ~Impl() { Stop(); }

  bool Listen(const WebSettings& settings, int& port, bool& network, std::string& osError) {
    error_code ec;
    tcp::resolver resolver(m_io);
    const auto found =
        resolver.resolve(settings.host, std::to_string(settings.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) {
      osError = ec ? ec.message() : std::string("the address cannot be used");
      return false;
    }
    const tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor acceptor(m_io);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) TakePortAlone(acceptor, ec);
    if (!ec) AllowAddressNotUpYet(acceptor);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(WebLimits::kListenBacklog, ec);
    const tcp::endpoint bound = ec ? tcp::endpoint() : acceptor.local_endpoint(ec);
    if (ec) {
      osError = ec.message();
      return false;
    }
    AllowOpenSockets(m_maxClients + 16);
    m_acceptor.emplace(std::move(acceptor));
    m_port = bound.port();
    port = m_port;
    network = !IsLoopback(bound.address());
    return true;
  }

  void Serve() {
    if (m_thread.joinable() || m_stopped || !m_acceptor) return;
    m_feed->SetWake([this] {
      // One broadcast in the queue at a time: it sends the latest snapshot.
      if (!m_broadcastQueued.exchange(true)) asio::post(m_io, [this] { Broadcast(); });
    });
    Accept();
    m_thread = std::thread([this] { Run(); });
  }

  // Closes the port and every connection on the server's thread, then lets
  // the thread end; what is still pending is dropped with the context.
  void Stop() {
    if (m_stopped.exchange(true)) return;
    m_feed->SetWake(nullptr);
    m_feed->Stop();
    if (m_thread.joinable()) {
      asio::post(m_io, [this] {
        CloseAll();
        m_io.stop();
      });
      m_thread.join();
      // What the closing cancelled finishes here, each step seeing it closed.
      m_io.restart();
      m_io.poll();
    }
    m_closing = true;  // connections freed from here on leave the registry alone
    m_acceptor.reset();
    m_connections.clear();
  }

 private:
  class Connection;
  friend class Connection;

  void Run() {
    for (;;) {
      try {
        m_io.run();
        return;
      } catch (const std::exception&) {
        // One connection's failure (out of memory for its buffer) ends only
        // that connection: its handler is gone, and the rest go on.
      }
    }
  }

  void Accept();
  void OnAccept(const error_code& ec, tcp::socket socket);
  void Broadcast();
  void Sweep();
  void ArmSweep();
  void CloseAll();

  // The route for `path` and what its handler is given: the query for an
  // exact path, the rest of the target for a prefix ("/tiles/").
  std::pair<const WebRoute*, std::string_view> FindRoute(std::string_view path,
                                                         std::string_view target) const {
    if (const auto exact = m_routes.find(std::string(path)); exact != m_routes.end()) {
      return {&exact->second,
              path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view()};
    }
    for (const auto& [prefix, route] : m_routes) {
      if (prefix.back() == '/' && path.size() > prefix.size() && path.rfind(prefix, 0) == 0) {
        return {&route, path.substr(prefix.size())};
      }
    }
    return {nullptr, {}};
  }

  void MakePage(const std::string& tilesUrl, const std::string& origin,
                const WebSettings& settings) {
    const auto* index = FindPageAsset("/");
    m_index = index != nullptr ? std::string(index->body) : std::string();
    std::string attribution;
    std::string options = "{}";
    if (OwnTiles(tilesUrl)) {
      attribution = HtmlEscape(settings.tilesAttribution);
      if (!settings.tilesOptions.empty()) options = settings.tilesOptions;
    } else if (tilesUrl == WebSettings::kDefaultTiles) {
      attribution =
          "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> "
          "contributors";
    } else if (!tilesUrl.empty()) {
      attribution = "Tiles: " + HtmlEscape(origin);
    }
    ReplaceAll(m_index, "{{TILES}}", HtmlEscape(tilesUrl));
    ReplaceAll(m_index, "{{ATTRIBUTION}}", HtmlEscape(attribution));
    ReplaceAll(m_index, "{{TILE_OPTIONS}}", HtmlEscape(options));
    m_indexTag = "\"" + HexTag(m_index) + "\"";
  }

  // Destroyed last: freeing what is pending in it frees the connections.
  asio::io_context m_io{1};
  std::shared_ptr<LiveFeed> m_feed;
  StatusSource m_status;
  int m_maxClients;
  std::map<std::string, WebRoute> m_routes;
  int m_port = 0;
  std::string m_index;
  std::string m_indexTag;
  std::string m_commonHeaders;  // on every answer
  std::optional<tcp::acceptor> m_acceptor;
  asio::steady_timer m_acceptRetry{m_io};
  asio::steady_timer m_sweep{m_io};
  bool m_sweepArmed = false;
  std::unordered_set<Connection*> m_connections;  // the server's thread only
  std::atomic<bool> m_broadcastQueued{false};
  std::atomic<bool> m_stopped{false};
  bool m_closing = false;
  std::thread m_thread;
};

// One client connection: reads requests one at a time, answers each, and
// may turn into an event stream. Holds at most the request head being read,
// the answer's head, and for a stream the snapshot being sent and the next.
// Every step runs on the server's thread; a pending operation keeps it alive.
class WebServer::Impl::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Impl& server, tcp::socket socket) : m_server(server), m_socket(std::move(socket)) {}

  ~Connection() {
    if (!m_server.m_closing) m_server.m_connections.erase(this);
  }

  void Start() {
    m_server.m_connections.insert(this);
    m_server.ArmSweep();
    error_code ec;
    m_socket.set_option(tcp::no_delay(true), ec);  // events go out at once
    const tcp::endpoint local = m_socket.local_endpoint(ec);
    m_loopback = !ec && IsLoopback(local.address());
    ReadRequest();
  }

  // Ends the connection now; pending operations finish as cancelled.
  void Close() {
    if (m_closed) return;
    m_closed = true;
    error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
  }

  // The server's once-a-second look at every connection.
  void Tick(Clock::time_point now) {
    if (m_closed) return;
    if (m_writing) {
      if (now - m_lastProgress > std::chrono::seconds(WebLimits::kWriteSeconds)) Close();
    } else if (m_phase != Phase::kStream) {
      if (now > m_deadline) Close();  // a request too slow is dropped unanswered
    } else if (now - m_lastProgress >= std::chrono::seconds(WebLimits::kEventKeepAliveSeconds)) {
      static constexpr std::string_view kComment = ": keep-alive\n\n";
      WriteChunk(kComment, {});
    }
  }

  // A new snapshot for an event stream: sent now, or after the one in flight;
  // a stream too slow for one skips to the latest.
  void Offer(const std::shared_ptr<const FeedSnapshot>& snapshot) {
    if (m_closed || m_phase != Phase::kStream || !snapshot || snapshot->version <= m_sentVersion) {
      return;
    }
    m_pending = snapshot;
    if (!m_writing) SendPending();
  }

 private:
  enum class Phase {
    kWaiting,    // for the next request's first byte
    kRequest,    // reading a request's head
    kAnswering,  // writing an answer
    kLinger,     // the last answer is out: what the client still sends is read and dropped
    kStream,     // an event stream
  };
  enum class After { kNextRequest, kLinger, kStream };
  using Buffers = std::array<asio::const_buffer, 4>;

  void ReadRequest() {
    m_parser.emplace();
    m_lineDone = false;
    m_parser->header_limit(static_cast<std::uint32_t>(WebLimits::kMaxRequestHead));
    const auto now = Clock::now();
    if (m_in.size() > 0) {
      m_phase = Phase::kRequest;
      m_deadline = now + std::chrono::seconds(WebLimits::kRequestSeconds);
      Parse();
    } else {
      m_phase = Phase::kWaiting;
      m_deadline = now + std::chrono::seconds(WebLimits::kIdleSeconds);
      ReadMore();
    }
  }

  void ReadMore() {
    m_socket.async_read_some(
        m_in.prepare(2048),
        [self = shared_from_this()](const error_code& ec, std::size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(const error_code& ec, std::size_t n) {
    if (m_closed) return;
    if (ec) {
      Close();
      return;
    }
    m_in.commit(n);
    if (m_phase == Phase::kWaiting) {
      m_phase = Phase::kRequest;
      m_deadline = Clock::now() + std::chrono::seconds(WebLimits::kRequestSeconds);
    }
    Parse();
  }

  // The request line is refused as soon as it is too long, however little of
  // the rest has come. Looked at before the parser takes any of it.
  bool LineTooLong() {
    if (m_lineDone) return false;
    const auto data = m_in.data();
    const std::string_view text(static_cast<const char*>(data.data()), data.size());
    const auto end = text.find('\n');
    m_lineDone = end != std::string_view::npos;
    return (m_lineDone ? end : text.size()) > WebLimits::kMaxRequestLine;
  }

  void Parse() {
    if (LineTooLong()) {
      Refuse(414);
      return;
    }
    error_code ec;
    m_in.consume(m_parser->put(m_in.data(), ec));
    if (ec == http::error::need_more) {
      ReadMore();  // the parser itself refuses a head beyond its limit
      return;
    }
    if (ec) {
      Refuse(ec == http::error::header_limit ? 431 : 400);
      return;
    }
    Answer();
  }

  void Refuse(int status) { Respond(status, "", "text/plain; charset=utf-8", {}, true, false); }

  // Writes the head and (unless HEAD) the body; `close` ends the connection
  // after it.
  void Respond(int status, const std::string& headers, const char* contentType,
               std::string_view body, bool close, bool head,
               std::shared_ptr<const void> holder = {}) {
    m_head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    if (contentType != nullptr) {
      m_head += "Content-Type: ";
      m_head += contentType;
      m_head += "\r\n";
    }
    if (status != 304) m_head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    m_head += headers;
    m_head += m_server.m_commonHeaders;
    if (close) m_head += "Connection: close\r\n";
    m_head += "\r\n";
    m_holder = std::move(holder);
    const bool withBody = !head && status != 304;
    Write({asio::buffer(m_head),
           withBody ? asio::buffer(body.data(), body.size()) : asio::const_buffer()},
          close ? After::kLinger : After::kNextRequest);
  }

  void Answer();
  void AnswerAsset(const http::request<http::empty_body>& request, const PageAsset& asset,
                   bool close, bool head);
  void StartStream(bool close);

  void SendPending() {
    std::shared_ptr<const FeedSnapshot> snapshot = std::move(m_pending);
    m_sentVersion = snapshot->version;
    static constexpr std::string_view kRetry = "retry: 2000\n\n";
    const std::string_view event = snapshot->event;
    WriteChunk(m_firstEvent ? kRetry : std::string_view(), event, std::move(snapshot));
    m_firstEvent = false;
  }

  // One chunk of the stream's chunked body: `first` and `second` together.
  void WriteChunk(std::string_view first, std::string_view second,
                  std::shared_ptr<const void> holder = {}) {
    char size[24];
    std::snprintf(size, sizeof size, "%zx\r\n", first.size() + second.size());
    m_head = size;
    m_holder = std::move(holder);
    static constexpr std::string_view kEnd = "\r\n";
    Write({asio::buffer(m_head), asio::buffer(first.data(), first.size()),
           asio::buffer(second.data(), second.size()), asio::buffer(kEnd.data(), kEnd.size())},
          After::kStream);
  }

  void Write(const Buffers& buffers, After after) {
    if (m_phase != Phase::kStream) m_phase = Phase::kAnswering;
    m_writing = true;
    m_after = after;
    m_outgoing.emplace(buffers);
    m_lastProgress = Clock::now();
    WriteSome();
  }

  void WriteSome() {
    m_socket.async_write_some(*m_outgoing,
                              [self = shared_from_this()](const error_code& ec, std::size_t n) {
                                self->OnWritten(ec, n);
                              });
  }

  void OnWritten(const error_code& ec, std::size_t n) {
    if (m_closed) return;
    if (ec) {
      Close();
      return;
    }
    m_lastProgress = Clock::now();
    m_outgoing->consume(n);
    if (asio::buffer_size(*m_outgoing) > 0) {
      WriteSome();
      return;
    }
    m_writing = false;
    m_outgoing.reset();
    m_holder.reset();
    switch (m_after) {
      case After::kNextRequest:
        ReadRequest();
        break;
      case After::kLinger:
        Linger();
        break;
      case After::kStream:
        if (m_phase != Phase::kStream) {
          m_phase = Phase::kStream;
          m_in = boost::beast::flat_buffer();  // a stream reads nothing more
          m_parser.reset();
          // The latest now, not when the head was asked for: a snapshot
          // offered meanwhile was passed over.
          m_pending = m_server.m_feed->Latest();
          Drain();
        }
        if (m_pending) SendPending();
        break;
    }
  }

  // Closing with unread bytes would reset the connection and could destroy
  // the answer on its way: the sending side is closed first and what the
  // client still sends is read and dropped, within a bound.
  void Linger() {
    m_phase = Phase::kLinger;
    m_deadline = Clock::now() + std::chrono::seconds(WebLimits::kLingerSeconds);
    error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_send, ignored);
    Drain();
  }

  // Reads and drops whatever comes, until the client closes or, lingering,
  // the bound is reached. A stream's client has nothing more to say, but its
  // closing is seen here at once.
  void Drain() {
    m_socket.async_read_some(asio::buffer(m_discard), [self = shared_from_this()](
                                                          const error_code& ec, std::size_t n) {
      if (self->m_closed) return;
      self->m_drained += n;
      if (ec || (self->m_phase == Phase::kLinger && self->m_drained > WebLimits::kLingerBytes)) {
        self->Close();
        return;
      }
      self->Drain();
    });
  }

  Impl& m_server;
  tcp::socket m_socket;
  bool m_closed = false;
  bool m_loopback = false;
  Phase m_phase = Phase::kWaiting;
  Clock::time_point m_deadline;
  int m_requests = 0;
  boost::beast::flat_buffer m_in;
  std::optional<http::request_parser<http::empty_body>> m_parser;
  bool m_lineDone = false;  // the request line has come whole

  std::string m_head;                    // the answer's head, or a chunk's size line
  std::shared_ptr<const void> m_holder;  // keeps the body being sent alive
  std::optional<boost::beast::buffers_suffix<Buffers>> m_outgoing;
  bool m_writing = false;
  After m_after = After::kNextRequest;
  Clock::time_point m_lastProgress;

  std::shared_ptr<const FeedSnapshot> m_pending;
  std::uint64_t m_sentVersion = 0;
  bool m_firstEvent = true;

  std::array<char, 512> m_discard{};
  std::size_t m_drained = 0;
};

void WebServer::Impl::Connection::Answer() {
  const auto& request = m_parser->get();
  // A body is never read as a request: the answer ends the connection.
  const bool bodyFollows = !m_parser->is_done();
  const bool close = bodyFollows || !request.keep_alive() || m_server.m_stopped ||
                     ++m_requests >= WebLimits::kKeepAliveRequests;
  const std::string_view target = request.target();
  if (request.method_string().size() + target.size() + 10 > WebLimits::kMaxRequestLine) {
    Refuse(414);
    return;
  }
  const bool head = request.method() == http::verb::head;
  if (m_loopback && !LoopbackHost(request[http::field::host], m_server.m_port)) {
    Respond(421, "", "text/plain; charset=utf-8",
            "This server answers only to 127.0.0.1, localhost and [::1].\n", true, head);
    return;
  }
  if (request.method() != http::verb::get && !head) {
    Respond(405, "Allow: GET, HEAD\r\n", "text/plain; charset=utf-8",
            "Only GET and HEAD are answered here.\n", true, false);
    return;
  }
  const std::string_view path = target.substr(0, target.find('?'));
  static const std::string kNoStore = "Cache-Control: no-store\r\n";
  if (path == "/events") {
    if (head) {
      Respond(200, kNoStore, "text/event-stream", {}, close, true);
    } else {
      StartStream(close);
    }
  } else if (path == "/stations.geojson") {
    auto snapshot = m_server.m_feed->Latest();
    const std::string_view body = snapshot->geojson;
    Respond(200, kNoStore, "application/geo+json", body, close, head, std::move(snapshot));
  } else if (path == "/stations.kml") {
    auto kml = m_server.m_feed->Kml();
    const std::string_view body = *kml;
    Respond(200, kNoStore, "application/vnd.google-earth.kml+xml", body, close, head,
            std::move(kml));
  } else if (path == "/status.json") {
    auto status = std::make_shared<const std::string>(StatusJson(m_server.m_status()));
    const std::string_view body = *status;
    Respond(200, kNoStore, "application/json", body, close, head, std::move(status));
  } else if (path == "/") {
    const std::string& tag = m_server.m_indexTag;
    const std::string headers = "Cache-Control: no-cache\r\nETag: " + tag + "\r\n";
    const bool fresh = NoneMatch(request[http::field::if_none_match], tag);
    Respond(fresh ? 304 : 200, headers, "text/html; charset=utf-8", m_server.m_index, close, head);
  } else if (const PageAsset* asset = FindPageAsset(path); asset != nullptr) {
    AnswerAsset(request, *asset, close, head);
  } else if (const auto [route, rest] = m_server.FindRoute(path, target); route != nullptr) {
    auto answer = std::make_shared<const WebAnswer>((*route)(rest));
    // Read before the call: the holder may be moved from first.
    const bool fresh =
        !answer->etag.empty() && NoneMatch(request[http::field::if_none_match], answer->etag);
    const int status = fresh ? 304 : answer->status;
    std::string headers = answer->headers.empty() ? kNoStore : answer->headers;
    if (!answer->etag.empty()) headers += "ETag: " + answer->etag + "\r\n";
    const char* contentType = answer->contentType.c_str();
    const std::string_view body = answer->body;
    Respond(status, headers, contentType, body, close, head, std::move(answer));
  } else {
    Respond(404, "", "text/plain; charset=utf-8", "Not found.\n", close, head);
  }
}

// The form the client takes best, made by the build; a strong tag of its
// bytes, so a browser that has it gets 304 and nothing else.
void WebServer::Impl::Connection::AnswerAsset(const http::request<http::empty_body>& request,
                                              const PageAsset& asset, bool close, bool head) {
  const std::string_view accepted = request[http::field::accept_encoding];
  std::string_view body = asset.body;
  std::string tag = "\"" + std::string(asset.tag);
  std::string headers = "Cache-Control: max-age=600\r\nVary: Accept-Encoding\r\n";
  if (!asset.brotli.empty() && Accepts(accepted, "br")) {
    body = asset.brotli;
    tag += "-br";
    headers += "Content-Encoding: br\r\n";
  } else if (!asset.gzip.empty() && Accepts(accepted, "gzip")) {
    body = asset.gzip;
    tag += "-gz";
    headers += "Content-Encoding: gzip\r\n";
  }
  tag += "\"";
  headers += "ETag: " + tag + "\r\n";
  const bool fresh = NoneMatch(request[http::field::if_none_match], tag);
  Respond(fresh ? 304 : 200, headers, asset.contentType, body, close, head);
}

// The whole table at once, then after every change; a comment line keeps a
// quiet stream open through proxies.
void WebServer::Impl::Connection::StartStream(bool close) {
  m_head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "Transfer-Encoding: chunked\r\n";
  m_head += m_server.m_commonHeaders;
  if (close) m_head += "Connection: close\r\n";
  m_head += "\r\n";
  Write({asio::buffer(m_head)}, After::kStream);
}

void WebServer::Impl::Accept() {
  m_acceptor->async_accept(
      [this](const error_code& ec, tcp::socket socket) { OnAccept(ec, std::move(socket)); });
}

void WebServer::Impl::OnAccept(const error_code& ec, tcp::socket socket) {
  if (m_stopped || !m_acceptor || !m_acceptor->is_open()) return;
  if (ec) {
    // Whatever went wrong (a reset before it was taken, no descriptor left)
    // was this connection's: the port stays open, after a pause.
    m_acceptRetry.expires_after(std::chrono::milliseconds(50));
    m_acceptRetry.async_wait([this](const error_code& waited) {
      if (!waited && !m_stopped) Accept();
    });
    return;
  }
  if (static_cast<int>(m_connections.size()) >= m_maxClients) {
    static constexpr std::string_view kBusy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n"
        "Retry-After: 5\r\n\r\n";
    error_code ignored;
    socket.non_blocking(true, ignored);
    socket.send(asio::buffer(kBusy.data(), kBusy.size()), 0, ignored);
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  } else {
    std::make_shared<Connection>(*this, std::move(socket))->Start();
  }
  Accept();
}

void WebServer::Impl::Broadcast() {
  m_broadcastQueued = false;
  const auto snapshot = m_feed->Latest();
  for (Connection* connection : m_connections) connection->Offer(snapshot);
}

// Timeouts are looked at once a second, and only while a client is connected,
// so that an idle program does not wake.
void WebServer::Impl::ArmSweep() {
  if (m_sweepArmed || m_stopped) return;
  m_sweepArmed = true;
  m_sweep.expires_after(std::chrono::seconds(1));
  m_sweep.async_wait([this](const error_code& ec) {
    m_sweepArmed = false;
    if (!ec) Sweep();
  });
}

void WebServer::Impl::Sweep() {
  const auto now = Clock::now();
  for (Connection* connection : m_connections) connection->Tick(now);
  if (!m_connections.empty()) ArmSweep();
}

void WebServer::Impl::CloseAll() {
  error_code ignored;
  if (m_acceptor) m_acceptor->close(ignored);
  m_acceptRetry.cancel();
  m_sweep.cancel();
  for (Connection* connection : m_connections) connection->Close();
}

WebServer::WebServer(std::shared_ptr<LiveFeed> feed, StatusSource status, WebSettings settings)
    : m_impl(std::make_unique<Impl>(std::move(feed), std::move(status), settings)),
      m_settings(std::move(settings)) {}

WebServer::~WebServer() {
  Stop();
}

bool WebServer::Listen(std::string& osError) {
  return m_impl->Listen(m_settings, m_port, m_network, osError);
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

bool WebServer::servesNetwork() const {
  return m_network;
}

}  // namespace rigplot
