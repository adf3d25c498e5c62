// SPDX-License-Identifier: MIT
// The captured sessions sent through a pseudo-terminal into rigplotd, cut
// into random writes so its reads split anywhere: the map script it leaves
// must be the one kept with each session, and it must have stored exactly
// the reports that the parser finds in the bytes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/map_script.h"
#include "tests/support/pty.h"
#include "tests/support/sessions.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

TEST(SessionPty, RigplotdLeavesEachSessionsMapScript) {
  std::mt19937 random(1207);
  for (const test::Session& session : test::LoadSessions()) {
    SCOPED_TRACE(session.name);
    // The line discipline keeps XON and XOFF for itself, so no session holds them.
    ASSERT_EQ(session.bytes.find_first_of("\x11\x13"), std::string::npos);
    const test::Replayed replayed = test::ReplaySession(session.bytes, {session.bytes.size()});

    test::Pty pty;
    test::TempDir dir;
    ASSERT_TRUE(pty.ok());
    test::WriteWholeFile(dir / "RIGPLOT.ini", pty.path().substr(5) + " 19200\r\n");
    test::ChildProcess daemon({RIGPLOT_BIN_DIR "/rigplotd", "--web", "off"}, dir.path(),
                              dir / "rigplotd.log");
    // Until rigplotd has made the line raw, the line discipline would cook the bytes.
    ASSERT_TRUE(daemon.WaitForOutput("listening"));

    for (std::size_t at = 0; at < session.bytes.size();) {
      const std::size_t n = 1 + random() % 700;
      ASSERT_TRUE(pty.Send(std::string_view(session.bytes).substr(at, n)));
      at += n;
      if (random() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const std::string expected = test::ReadWholeFile(session.expectedPath);
    std::string map;
    EXPECT_TRUE(test::WaitFor(
        "the kept map script, every byte read",
        [&] {
          map = test::MaskMapScript(test::ReadWholeFile(dir / "0.mps"));
          return map == expected && pty.SlaveQueued() == 0;
        },
        [&] {
          return std::to_string(pty.SlaveQueued()) + " bytes unread, map script " +
                 test::FirstDifference(map, expected);
        }));

    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_NE(
        daemon.Output().find("stopped after " + std::to_string(replayed.reports) + " reports"),
        std::string::npos)
        << daemon.Output();
  }
}

}  // namespace
}  // namespace rigplot
