#include "station/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rigplot {
namespace {

TEST(CommandLine, OptionsAndTheirMistakes) {
  using Action = CommandLine::Action;
  struct Row {
    const char* legend;
    std::vector<std::string> args;
    Action action;
    std::string summary;  // geojson|kml|log history/days|web|tiles, or the start of the error
  } rows[] = {
      {"nothing: the map script and the page on loopback",
       {},
       Action::kRun,
       "|||127.0.0.1:8073|" + std::string(WebSettings::kDefaultTiles)},
      {"every file output",
       {"--geojson", "a.json", "--kml=b.kml", "--log", "logs"},
       Action::kRun,
       "a.json|b.kml|logs|127.0.0.1:8073|" + std::string(WebSettings::kDefaultTiles)},
      {"history kept a week",
       {"--history", "h.sqlite", "--history-days=7"},
       Action::kRun,
       "|| h.sqlite/7|127.0.0.1:8073|" + std::string(WebSettings::kDefaultTiles)},
      {"page shared on the network, no tiles",
       {"--web", "0.0.0.0:80", "--tiles", "none"},
       Action::kRun,
       "|||0.0.0.0:80|"},
      {"IPv6 address in brackets",
       {"--web=[::1]:8080"},
       Action::kRun,
       "|||::1:8080|" + std::string(WebSettings::kDefaultTiles)},
      {"a club's worth of viewers",
       {"--web-clients", "1000"},
       Action::kRun,
       "|||127.0.0.1:8073 for 1000|" + std::string(WebSettings::kDefaultTiles)},
      {"page off",
       {"--web", "off"},
       Action::kRun,
       "|||off|" + std::string(WebSettings::kDefaultTiles)},
      {"help wins over what follows", {"--help", "--bogus"}, Action::kHelp, ""},
      {"version", {"--version"}, Action::kVersion, ""},
      {"unknown option", {"--bogus"}, Action::kError, "unknown option '--bogus'"},
      {"a file name alone", {"map.kml"}, Action::kError, "unknown option 'map.kml'"},
      {"missing value at the end", {"--kml"}, Action::kError, "option '--kml' needs a value"},
      {"empty value", {"--log="}, Action::kError, "option '--log' needs a value"},
      {"port out of range", {"--web", "127.0.0.1:70000"}, Action::kError, "--web takes"},
      {"no port", {"--web", "127.0.0.1"}, Action::kError, "--web takes"},
      {"port with junk", {"--web", "127.0.0.1:80x"}, Action::kError, "--web takes"},
      {"no viewer at all", {"--web-clients=0"}, Action::kError, "--web-clients takes"},
      {"viewers beyond the cap",
       {"--web-clients", "100001"},
       Action::kError,
       "--web-clients takes"},
      {"viewers not a number", {"--web-clients", "12x"}, Action::kError, "--web-clients takes"},
      {"history days below 0", {"--history-days", "-1"}, Action::kError, "--history-days takes"},
      {"history days beyond the cap",
       {"--history-days", "36501"},
       Action::kError,
       "--history-days takes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const CommandLine line = ParseCommandLine(row.args);
    EXPECT_EQ(line.action, row.action);
    if (row.action == Action::kError) {
      EXPECT_EQ(line.error.rfind(row.summary, 0), 0u) << line.error;
    } else if (row.action == Action::kRun) {
      std::string web =
          line.webEnabled ? line.web.host + ":" + std::to_string(line.web.port) : "off";
      if (line.web.maxClients != 256) web += " for " + std::to_string(line.web.maxClients);
      const std::string history = line.historyPath.empty() ? std::string()
                                                           : " " + line.historyPath + "/" +
                                                                 std::to_string(line.historyDays);
      EXPECT_EQ(line.geojsonPath + "|" + line.kmlPath + "|" + line.logDir + history + "|" + web +
                    "|" + line.web.tilesUrl,
                row.summary);
    }
  }
}

}  // namespace
}  // namespace rigplot
