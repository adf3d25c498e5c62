#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>

#include "web/listen_socket.h"

namespace rigplot {

// SO_REUSEADDR here only lets a restart take the port while old connections
// linger in TIME_WAIT; two listeners never share it (that is SO_REUSEPORT).
void TakePortAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& ec) {
  acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
}

void AllowAddressNotUpYet(boost::asio::ip::tcp::acceptor& acceptor) {
  // Linux's IP_FREEBIND serves IPv6 sockets too.
  const int on = 1;
  (void)::setsockopt(acceptor.native_handle(), IPPROTO_IP, IP_FREEBIND, &on, sizeof on);
}

// The soft limit is often 1024 under systemd and in shells, below what a few
// hundred viewers need; the hard limit is the system's word.
void AllowOpenSockets(int sockets) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = limit.rlim_cur + static_cast<rlim_t>(sockets);
  if (limit.rlim_cur == RLIM_INFINITY || wanted <= limit.rlim_cur) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace rigplot
