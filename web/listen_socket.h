// SPDX-License-Identifier: MIT
// What differs between the operating systems for the page's sockets.
// Thread: the owner's, before the server's thread runs.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace rigplot {

// Makes the open, unbound `acceptor` the port's only holder, so that a second
// copy of the program is told the port is in use instead of sharing it.
void TakePortAlone(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& ec);

// Lets the open, unbound `acceptor` take an address the machine does not
// have yet (a LAN address before DHCP at boot), serving once it comes up.
// Best effort: where the system cannot, binding says the address is missing.
void AllowAddressNotUpYet(boost::asio::ip::tcp::acceptor& acceptor);

// Lets the process hold `sockets` more open sockets than it does now, as far
// as the system allows; accepting beyond the limit only waits, so this is
// best effort.
void AllowOpenSockets(int sockets);

}  // namespace rigplot
