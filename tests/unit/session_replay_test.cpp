// SPDX-License-Identifier: MIT
// Every captured session, replayed through the parser and the station table,
// must give the map script kept beside it: read whole, byte by byte and in
// random reads. RIGPLOT_REGEN_SESSIONS=1 rewrites the kept map scripts
// instead, after a change of behaviour made on purpose (see
// tools/regen_expected.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "radio/serial_port.h"
#include "tests/support/files.h"
#include "tests/support/map_script.h"
#include "tests/support/sessions.h"

namespace rigplot {
namespace {

TEST(SessionReplay, EverySessionGivesItsMapScriptHoweverItIsRead) {
  const std::vector<test::Session> sessions = test::LoadSessions();
  ASSERT_GE(sessions.size(), 5u);
  const bool regenerate = std::getenv("RIGPLOT_REGEN_SESSIONS") != nullptr;
  std::mt19937 random(20261207);
  for (const test::Session& session : sessions) {
    SCOPED_TRACE(session.name);
    const test::Replayed whole = test::ReplaySession(session.bytes, {session.bytes.size()});
    if (regenerate) test::WriteWholeFile(session.expectedPath, whole.map);
    EXPECT_GT(whole.reports, 0u);
    EXPECT_EQ(test::FirstDifference(whole.map, test::ReadWholeFile(session.expectedPath)), "")
        << session.expectedPath;

    std::vector<std::size_t> randomReads(64);
    for (std::size_t& read : randomReads) read = 1 + random() % SerialPort::kBlockSize;
    for (const auto& reads : {std::vector<std::size_t>{1}, randomReads}) {
      const test::Replayed split = test::ReplaySession(session.bytes, reads);
      EXPECT_EQ(split.reports, whole.reports);
      EXPECT_EQ(test::FirstDifference(split.map, whole.map), "");
    }
  }
}

}  // namespace
}  // namespace rigplot
