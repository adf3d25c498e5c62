#include <winsock2.h>

#include "web/listen_socket.h"

namespace rigplot {

// On Windows SO_REUSEADDR would let another program take the port from us;
// SO_EXCLUSIVEADDRUSE refuses every other binder.
void TakePortAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& ec) {
  BOOL on = TRUE;
  if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    ec.assign(::WSAGetLastError(), boost::system::system_category());
  } else {
    ec.clear();
  }
}

// Windows binds only addresses it has: a page on one not up yet is said
// and left out, as a port in use is.
void AllowAddressNotUpYet(boost::asio::ip::tcp::acceptor& /*acceptor*/) {}

// Windows has no per-process socket limit to raise.
void AllowOpenSockets(int /*sockets*/) {}

}  // namespace rigplot
