#include "station/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mqtt/hub.h"
#include "stations/geojson.h"
#include "tiles/mbtiles.h"

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
      {"tiles from a file that is not there",
       {"--tiles", "mbtiles:/nonexistent/area.mbtiles"},
       Action::kError,
       "--tiles: /nonexistent/area.mbtiles: cannot open"},
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

// The page's tile paths: only a tile inside its zoom's grid is looked up.
TEST(CommandLine, TilePathsAndTheLayerOptionsOfAFile) {
  struct Row {
    const char* path;
    bool valid;
    int z, x, y;
  } rows[] = {
      {"0/0/0", true, 0, 0, 0},
      {"10/909/403.png", true, 10, 909, 403},
      {"3/7/7.jpg", true, 3, 7, 7},
      {"30/1073741823/0", true, 30, 1073741823, 0},
      {"3/8/0", false, 0, 0, 0},
      {"3/0/8", false, 0, 0, 0},
      {"31/0/0", false, 0, 0, 0},
      {"-1/0/0", false, 0, 0, 0},
      {"3/1/2/4", false, 0, 0, 0},
      {"3/1", false, 0, 0, 0},
      {"3//2", false, 0, 0, 0},
      {"3/1/2.pbf", false, 0, 0, 0},
      {"3/1/2x", false, 0, 0, 0},
      {"+3/1/2", false, 0, 0, 0},
      {"3/1/99999999999", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    int z = -1, x = -1, y = -1;
    ASSERT_EQ(ParseTilePath(row.path, z, x, y), row.valid);
    if (row.valid) {
      EXPECT_EQ(std::vector<int>({z, x, y}), std::vector<int>({row.z, row.x, row.y}));
    }
  }
  // Leaflet takes latitude first; the file says longitude first.
  TileSetInfo info;
  info.minZoom = 5;
  info.maxZoom = 12;
  EXPECT_EQ(TileLayerOptions(info), R"({"minZoom":5,"maxZoom":12})");
  info.bounds = {{139.22, 35.03, 140.625, 36.07}};
  info.center = {{139.9, 35.6, 10}};
  EXPECT_EQ(TileLayerOptions(info),
            R"({"minZoom":5,"maxZoom":12,"bounds":[[35.03,139.22],[36.07,140.625]],)"
            R"("center":[35.6,139.9,10]})");
  // The same bytes, the same tag; one byte more or different, another.
  EXPECT_EQ(TileTag("abc"), TileTag(std::string("abc")));
  EXPECT_NE(TileTag("abc"), TileTag("abd"));
  EXPECT_NE(TileTag(std::string("ab\0", 3)), TileTag("ab"));
}

TEST(CommandLine, MqttOptionsAndTheirMistakes) {
  using Action = CommandLine::Action;
  struct Row {
    const char* legend;
    std::vector<std::string> args;
    Action action;
    std::string summary;  // address|user|receiver|queue|homeassistant, or the start of the error
  } rows[] = {
      {"plain broker, default port",
       {"--mqtt", "mqtt://pi.local"},
       Action::kRun,
       "mqtt://pi.local:1883|||10000|"},
      {"TLS with user, port, name, queue and discovery",
       {"--mqtt=mqtts://club@broker.example.org:8884", "--receiver", "hill-1.b_2", "--mqtt-queue",
        "50", "--homeassistant"},
       Action::kRun,
       "mqtts://broker.example.org:8884|club|hill-1.b_2|50|homeassistant"},
      {"IPv6 broker, TLS default port, discovery prefix",
       {"--mqtt", "mqtts://[::1]", "--homeassistant", "ha", "--geojson", "s.json"},
       Action::kRun,
       "mqtts://[::1]:8883|||10000|ha"},
      {"discovery prefix given with =",
       {"--mqtt", "mqtt://h:1", "--homeassistant=x/y"},
       Action::kRun,
       "mqtt://h:1|||10000|x/y"},
      {"another scheme", {"--mqtt", "http://pi"}, Action::kError, "--mqtt takes"},
      {"port out of range", {"--mqtt", "mqtt://pi:65536"}, Action::kError, "--mqtt takes"},
      {"empty port", {"--mqtt", "mqtt://pi:"}, Action::kError, "--mqtt takes"},
      {"no host", {"--mqtt", "mqtt://user@"}, Action::kError, "--mqtt takes"},
      {"a path", {"--mqtt", "mqtt://pi/x"}, Action::kError, "--mqtt takes"},
      {"receiver with a slash",
       {"--mqtt", "mqtt://pi", "--receiver", "a/b"},
       Action::kError,
       "--receiver takes"},
      {"receiver with a wildcard",
       {"--mqtt", "mqtt://pi", "--receiver", "hill+"},
       Action::kError,
       "--receiver takes"},
      {"receiver with a blank",
       {"--mqtt", "mqtt://pi", "--receiver", "a b"},
       Action::kError,
       "--receiver takes"},
      {"queue of none",
       {"--mqtt", "mqtt://pi", "--mqtt-queue", "0"},
       Action::kError,
       "--mqtt-queue takes"},
      {"queue not a number",
       {"--mqtt", "mqtt://pi", "--mqtt-queue", "-5"},
       Action::kError,
       "--mqtt-queue takes"},
      {"receiver without a broker",
       {"--receiver", "hill"},
       Action::kError,
       "the MQTT options need --mqtt"},
      {"hub without a filter",
       {"--mqtt", "mqtt://pi", "--no-radio"},
       Action::kError,
       "--no-radio needs"},
      {"hub with discovery",
       {"--mqtt", "mqtt://pi", "--no-radio", "--subscribe", "x", "--homeassistant"},
       Action::kError,
       "--no-radio: a hub announces nothing"},
      {"stations without a filter",
       {"--mqtt", "mqtt://pi", "--stations", "5"},
       Action::kError,
       "--stations goes with --subscribe"},
      {"filter without a broker",
       {"--no-radio", "--subscribe", "x"},
       Action::kError,
       "the MQTT options need"},
      {"hub of no stations",
       {"--mqtt", "mqtt://pi", "--no-radio", "--subscribe", "x", "--stations", "0"},
       Action::kError,
       "--stations takes"},
      {"discovery without a broker",
       {"--homeassistant"},
       Action::kError,
       "the MQTT options need --mqtt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const CommandLine line = ParseCommandLine(row.args);
    EXPECT_EQ(line.action, row.action);
    if (row.action == Action::kError) {
      EXPECT_EQ(line.error.rfind(row.summary, 0), 0u) << line.error;
    } else {
      const MqttSettings& m = line.mqtt;
      EXPECT_TRUE(m.enabled);
      EXPECT_EQ(MqttAddress(m) + "|" + m.user + "|" + m.receiver + "|" +
                    std::to_string(m.queueLimit) + "|" +
                    (m.homeAssistant ? m.homeAssistantPrefix : ""),
                row.summary);
    }
  }
}

TEST(CommandLine, OnlyTheServiceRunsAsAHub) {
  const CommandLine hub =
      ParseCommandLine({"--no-radio", "--mqtt", "mqtt://pi", "--subscribe", "rigplot/+/report"});
  ASSERT_EQ(hub.action, CommandLine::Action::kRun);
  EXPECT_EQ(AnswerWithoutRunning(hub, "rigplotd"), -1);
  EXPECT_EQ(AnswerWithoutRunning(hub, "rigplot"), 2);
  EXPECT_EQ(UsageText("rigplot").find("--no-radio"), std::string::npos);
}

TEST(MqttTopics, CallsignsBecomeOneTopicLevelAndOneId) {
  struct Row {
    std::string callsign, topic, id;
  } rows[] = {
      {"JA1ABC A", "JA1ABC%20A", "JA1ABC_20A"},
      {"JA1ABC", "JA1ABC", "JA1ABC"},
      {"a/b+#", "a%2Fb%2B%23", "a_2Fb_2B_23"},
      {"7K4_X.-", "7K4_X.-", "7K4_5FX_2E-"},  // '_' stays in a topic but not in an id
      {"%", "%25", "_25"},
      {"\xE6\x9D\xB1", "%E6%9D%B1", "_E6_9D_B1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.callsign);
    EXPECT_EQ(TopicCallsign(row.callsign), row.topic);
    EXPECT_EQ(HomeAssistantId(row.callsign), row.id);
  }
}

TEST(MqttTopics, FeatureIsTheFilesFeaturePlusTheReceiver) {
  StationTable table;
  PendingReport report;
  report.callsign = "JA1ABC A";
  report.repeater = "JR1WN  A";
  report.latitude = "35/39.6000";
  report.longitude = "-139/42.0000";
  report.course = "271.5";
  report.speedKnots = "12";
  report.symbol = "0";
  report.message = "say \"hi\"";
  report.utcDate = "071226";
  report.utcTime = "012345";
  std::lock_guard lock(table.mutex());
  const int slot = table.StoreReport(report);
  std::string collection;
  RenderGeoJson(collection, table);
  const auto begin = collection.find("\n{") + 1;
  const std::string fileFeature = collection.substr(begin, collection.find("\n", begin) - begin);

  ReportMessages messages;
  MakeReportMessages(messages, table.view(slot), "hill1");
  ASSERT_GT(fileFeature.size(), 2u);
  EXPECT_EQ(messages.feature,
            fileFeature.substr(0, fileFeature.size() - 2) + ",\"receiver\":\"hill1\"}}");
  EXPECT_EQ(messages.topicCallsign, "JA1ABC%20A");
  EXPECT_NE(messages.attributes.find("\"latitude\":35.660000,\"longitude\":-139.700000"),
            std::string::npos)
      << messages.attributes;

  // A hub reads the Feature back into the same one, plus who heard it when.
  HubReport read;
  ASSERT_EQ(ReadHubReport(messages.feature, read), HubDrop::kNone);
  MergedTable merged;
  merged.Store(read);
  std::string hub;
  RenderMergedGeoJson(hub, merged);
  EXPECT_EQ(hub.substr(hub.find("\n{") + 1, messages.feature.size() - 2),
            messages.feature.substr(0, messages.feature.size() - 2));
  EXPECT_NE(hub.find(R"(,"receiver":"hill1","receivers":[{"receiver":"hill1","heard":null}]}})"),
            std::string::npos)
      << hub;

  // No position: no Home Assistant attributes, the Feature still goes.
  report.latitude.clear();
  const int unplaced = table.StoreReport(report);
  MakeReportMessages(messages, table.view(unplaced), "hill1");
  EXPECT_TRUE(messages.attributes.empty());
  EXPECT_NE(messages.feature.find("\"geometry\":null"), std::string::npos);
  ASSERT_EQ(ReadHubReport(messages.feature, read), HubDrop::kNone);
  EXPECT_FALSE(read.view.hasPosition);
}

TEST(Hub, NewestFixWinsAndEveryReceiverIsListed) {
  struct Row {
    const char* callsign;
    const char* receiver;
    const char* date;  // ddmmyy
    const char* time;
    const char* after;  // the table as CALL:winner:receivers, in order
  } rows[] = {
      {"A", "r1", "071226", "010000", "A:r1:r1"},
      {"A", "r2", "071226", "005959", "A:r1:r1,r2"},  // older fix: listed, not shown
      {"A", "r2", "071226", "010000", "A:r2:r1,r2"},  // same fix: the later arrival
      {"B", "r1", "311225", "235959", "A:r2:r1,r2 B:r1:r1"},
      {"B", "r3", "010126", "000000", "A:r2:r1,r2 B:r3:r1,r3"},  // across a year
      {"C", "r1", "", "", "A:r2:r1,r2 B:r3:r1,r3 C:r1:r1"},
      {"D", "r1", "071226", "020000", "D:r1:r1 B:r3:r1,r3 C:r1:r1"},  // full: A heard longest ago
  };
  MergedTable table(3);
  HubReport report;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.after);
    report.view.callsign = row.callsign;
    report.receiver = row.receiver;
    report.view.receivedIso = "2026-12-07T10:00:00+09:00";
    report.fixKey = HubFixKey(row.date, row.time);
    table.Store(report);
    std::string shown;
    for (std::size_t i = 0; i < table.count(); ++i) {
      const MergedStation& s = table.station(i);
      shown += (i ? " " : "") + s.report.view.callsign + ":" + s.report.receiver + ":";
      for (std::size_t r = 0; r < s.receivers.size(); ++r) {
        shown += (r ? "," : "") + s.receivers[r].receiver;
      }
    }
    EXPECT_EQ(shown, row.after);
  }
}

TEST(Hub, PayloadsAndTopicsItRefuses) {
  const std::string good =
      R"({"type":"Feature","geometry":{"type":"Point","coordinates":[139.5,35.25]},)"
      R"("properties":{"callsign":"JA1ABC","receiver":"hill1","utc_date":"071226","utc_time":"012345"}})";
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string payload = good;
    return payload.replace(payload.find(from), from.size(), to);
  };
  const struct {
    std::string payload;
    HubDrop drop;
  } rows[] = {
      {good, HubDrop::kNone},
      {with("[139.5,35.25]", "[139.5,1e308]"), HubDrop::kBadCoordinates},
      {with("[139.5,35.25]", "[180.5,0]"), HubDrop::kBadCoordinates},
      {with("[139.5,35.25]", "[\"139\",35]"), HubDrop::kBadCoordinates},
      {with("\"JA1ABC\"", "5"), HubDrop::kWrongType},
      {with("\"JA1ABC\"", "\"\""), HubDrop::kNotFeature},
      {with("\"hill1\"", "\"a/b\""), HubDrop::kNotFeature},
      {with("\"utc_date\"", "\"received_at\":\"1\\\"}\",\"utc_date\""), HubDrop::kWrongType},
      {with("\"utc_date\"", "\"heading_class\":1e9,\"utc_date\""), HubDrop::kWrongType},
      {with("Feature", "FeatureCollection"), HubDrop::kNotFeature},
      {"[]", HubDrop::kNotFeature},
      {"{\"type\":", HubDrop::kNotJson},
      {std::string(kMaxHubPayload + 1, ' '), HubDrop::kOversized},
  };
  HubReport report;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.payload.substr(0, 200));
    EXPECT_EQ(ReadHubReport(row.payload, report), row.drop);
  }
  ASSERT_EQ(ReadHubReport(good, report), HubDrop::kNone);
  EXPECT_EQ(report.fixKey, 261207012345u);

  EXPECT_TRUE(IsHubTopic("rigplot/hill2/report", "hill1"));
  EXPECT_TRUE(IsHubTopic("rigplot/hill2/station/JA1ABC%20A", ""));
  EXPECT_FALSE(IsHubTopic("rigplot/hill1/report", "hill1"));  // its own
  EXPECT_FALSE(IsHubTopic("rigplot/hill2/status", ""));
  EXPECT_FALSE(IsHubTopic("rigplot/hill2/station/a/b", ""));
  EXPECT_FALSE(IsHubTopic("other/hill2/report", ""));
}

}  // namespace
}  // namespace rigplot
