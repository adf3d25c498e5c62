// SPDX-License-Identifier: MIT
// What the benchmarks that feed a link through a pseudo-terminal share: a
// checksummed report of a moving station, the wait until the link has
// stored what was sent, and a page client's event stream.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "radio/radio_link.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"

namespace rigplot::bench {

// Station n on its step-th move; `tag` keeps one bench's callsigns apart
// from another's.
inline std::string MovingStationReport(int n, int step, char tag) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,%02d%02d%02d,A,35%02d.%04d,N,139%02d.%04d,E,%03d.%d,%03d.0,071226,,,A",
                n % 24, step % 60, (n * 7) % 60, n % 60, (n * 37 + step) % 10000, (n * 3) % 60,
                (n * 53 + step) % 10000, n % 90, n % 10, (n * 36 + step) % 360);
  char line[40];
  std::snprintf(line, sizeof line, "JA%d%c%03d,%02d msg %d", n % 10, tag, n, n % 15, step);
  return test::Report(body, line);
}

// Writes the bytes as the radio and waits until the link has stored
// `reports` in all; false when the write fails or 30 s pass first.
inline bool FeedAndWait(test::Pty& pty, const RadioLink& radio, const std::string& bytes,
                        std::uint64_t reports) {
  if (!pty.Send(bytes)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (radio.reportsStored() < reports) {
    pty.TakeSent();
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  return true;
}

// A connection to the page on loopback `port` that has asked for its event
// stream; -1 when it cannot be made.
inline int OpenEventStream(int port) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request =
      "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    ::close(sock);
    return -1;
  }
  return sock;
}

}  // namespace rigplot::bench
