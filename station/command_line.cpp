#include "station/command_line.h"

#include <charconv>
#include <cstdio>

#include "mqtt/mqtt_output.h"
#include "station/station_tiles.h"

#ifndef RIGPLOT_VERSION
#define RIGPLOT_VERSION "unknown"
#endif

namespace rigplot {
namespace {

// ADDR:PORT, the port last so that an IPv6 address in brackets works too.
bool ParseWebAddress(const std::string& value, CommandLine& line) {
  const auto colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
  std::string host = value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int port = 0;
  const char* first = value.data() + colon + 1;
  const char* last = value.data() + value.size();
  const auto [end, ec] = std::from_chars(first, last, port);
  if (ec != std::errc() || end != last || port < 0 || port > 65535 || host.empty()) return false;
  line.web.host = host;
  line.web.port = port;
  line.webEnabled = true;
  return true;
}

CommandLine Failed(std::string error) {
  CommandLine line;
  line.action = CommandLine::Action::kError;
  line.error = std::move(error);
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    }
    if (arg == "--version") {
      line.action = CommandLine::Action::kVersion;
      return line;
    }
    // Its prefix is optional: a value only when one follows that is no option.
    if (arg == "--no-radio") {
      line.noRadio = true;
      continue;
    }
    if (arg == "--homeassistant") {
      line.mqtt.homeAssistant = true;
      if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
        line.mqtt.homeAssistantPrefix = args[++i];
      }
      continue;
    }
    std::string option = arg;
    std::string value;
    bool hasValue = false;
    // --option=value as well as --option value.
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      option = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    const bool known =
        option == "--geojson" || option == "--kml" || option == "--log" || option == "--web" ||
        option == "--web-clients" || option == "--tiles" || option == "--mqtt" ||
        option == "--mqtt-ca" || option == "--mqtt-password-file" || option == "--mqtt-queue" ||
        option == "--receiver" || option == "--homeassistant" || option == "--history" ||
        option == "--history-days" || option == "--subscribe" || option == "--stations";
    if (!known) return Failed("unknown option '" + arg + "'");
    if (!hasValue) {
      if (i + 1 >= args.size()) return Failed("option '" + option + "' needs a value");
      value = args[++i];
    }
    if (value.empty()) return Failed("option '" + option + "' needs a value");
    if (option == "--geojson") {
      line.geojsonPath = value;
    } else if (option == "--kml") {
      line.kmlPath = value;
    } else if (option == "--log") {
      line.logDir = value;
    } else if (option == "--history") {
      line.historyPath = value;
    } else if (option == "--history-days") {
      const char* last = value.data() + value.size();
      const auto [end, ec] = std::from_chars(value.data(), last, line.historyDays);
      if (ec != std::errc() || end != last || line.historyDays < 0 || line.historyDays > 36500) {
        return Failed("--history-days takes a number from 0 to 36500, not '" + value + "'");
      }
    } else if (option == "--web") {
      if (value == "off") {
        line.webEnabled = false;
      } else if (!ParseWebAddress(value, line)) {
        return Failed("--web takes ADDR:PORT or off, not '" + value + "'");
      }
    } else if (option == "--web-clients") {
      const char* last = value.data() + value.size();
      const auto [end, ec] = std::from_chars(value.data(), last, line.web.maxClients);
      if (ec != std::errc() || end != last || line.web.maxClients < 1 ||
          line.web.maxClients > 100000) {
        return Failed("--web-clients takes a number from 1 to 100000, not '" + value + "'");
      }
    } else if (option == "--tiles") {
      if (value.rfind("mbtiles:", 0) == 0) {
        std::string error;
        if (!UseMbTiles(value.substr(8), line.web, error)) return Failed("--tiles: " + error);
      } else {
        line.web.tilesUrl = value == "none" ? std::string() : value;
      }
    } else if (option == "--mqtt") {
      if (!MqttBuilt()) return Failed("--mqtt: this build has no MQTT");
      if (!ParseMqttUrl(value, line.mqtt)) {
        return Failed("--mqtt takes mqtt://[USER@]HOST[:PORT] or mqtts://..., not '" + value + "'");
      }
    } else if (option == "--subscribe") {
      line.subscribe.push_back(value);
    } else if (option == "--stations") {
      std::size_t count = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
      if (ec != std::errc() || end != value.data() + value.size() || count == 0 ||
          count > 1000000) {
        return Failed("--stations takes a number from 1 to 1000000, not '" + value + "'");
      }
      line.stations = count;
    } else if (option == "--mqtt-ca") {
      line.mqtt.caFile = value;
    } else if (option == "--mqtt-password-file") {
      line.mqtt.passwordFile = value;
    } else if (option == "--receiver") {
      if (!IsReceiverName(value)) {
        return Failed("--receiver takes letters, digits, '-', '_' and '.', not '" + value + "'");
      }
      line.mqtt.receiver = value;
    } else if (option == "--mqtt-queue") {
      std::size_t limit = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), limit);
      if (ec != std::errc() || end != value.data() + value.size() || limit == 0) {
        return Failed("--mqtt-queue takes a count of reports, not '" + value + "'");
      }
      line.mqtt.queueLimit = limit;
    } else {
      line.mqtt.homeAssistant = true;
      line.mqtt.homeAssistantPrefix = value;
    }
  }
  const bool mqttOptions = !line.mqtt.caFile.empty() || !line.mqtt.passwordFile.empty() ||
                           !line.mqtt.receiver.empty() || line.mqtt.homeAssistant ||
                           line.mqtt.queueLimit != MqttSettings::kDefaultQueue;
  if ((mqttOptions || !line.subscribe.empty()) && !line.mqtt.enabled) {
    return Failed("the MQTT options need --mqtt URL");
  }
  if (line.noRadio && line.subscribe.empty()) {
    return Failed("--no-radio needs --subscribe FILTER: a hub takes its reports from the broker");
  }
  // Options a hub would otherwise leave unheeded.
  if (line.noRadio && line.mqtt.homeAssistant) {
    return Failed("--no-radio: a hub announces nothing to --homeassistant");
  }
  if (line.subscribe.empty() && line.stations != 1000) {
    return Failed("--stations goes with --subscribe");
  }
  return line;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "\n"
         "Listens to a D-STAR radio on the serial port named in RIGPLOT.ini (current\n"
         "directory; e.g. \"COM1 9600\" or \"ttyUSB0 9600\") and rewrites the map script\n"
         "0.mps in the TEMP directory after every position report heard.\n"
         "\n"
         "Options:\n"
         "  --geojson PATH    also rewrite PATH as GeoJSON after every report\n"
         "  --kml PATH        also rewrite PATH as KML after every report\n"
         "  --log DIR         append every report to DIR/rigplot-YYYY-MM-DD.csv\n"
         "  --history PATH    keep every report in the SQLite file PATH; the page\n"
         "                    then draws tracks\n"
         "  --history-days N  reports kept there, in days (default 30; 0 keeps all)\n"
         "  --web ADDR:PORT   serve the live map page there (default " +
         WebSettings::kDefaultHost + ":" + std::to_string(WebSettings::kDefaultPort) +
         ";\n"
         "                    port 0 takes any free port)\n"
         "  --web off         serve no page\n"
         "  --web-clients N   page connections served at once (default 256)\n"
         "  --tiles URL       map tiles for the page, {z}/{x}/{y} in the URL;\n"
         "                    none for a plain background (default OpenStreetMap)\n"
         "  --tiles mbtiles:FILE\n"
         "                    serve the page's tiles from the MBTiles\n"
         "                    file FILE (png, jpg or webp), no internet needed\n"
         "  --mqtt URL        publish every report to an MQTT broker:\n"
         "                    mqtt://[USER@]HOST[:PORT] (1883) or mqtts://... (8883);\n"
         "                    the password from --mqtt-password-file or the\n"
         "                    environment variable RIGPLOT_MQTT_PASSWORD\n"
         "  --mqtt-ca FILE    the authority that signed an mqtts:// broker's certificate\n"
         "                    (default: the system's)\n"
         "  --mqtt-password-file FILE\n"
         "                    the broker's password, the file's first line\n"
         "  --receiver NAME   this receiver's name in the topics rigplot/NAME/...\n"
         "                    (letters, digits, -, _ and .; default the host name)\n"
         "  --mqtt-queue N    reports kept while the broker is away (default 10000);\n"
         "                    beyond that the oldest are dropped\n"
         "  --homeassistant [PREFIX]\n"
         "                    announce every station to Home Assistant's MQTT\n"
         "                    discovery under PREFIX (default homeassistant)\n" +
         std::string(
             program.rfind("rigplotd", 0) == 0
                 ? "  --no-radio        run as a hub: no RIGPLOT.ini and no serial port; the\n"
                   "                    reports come from the broker (needs --subscribe)\n"
                 : "") +
         "  --subscribe FILTER\n"
         "                    merge the reports on these topics, e.g. rigplot/+/report\n"
         "                    (repeatable); a receiver's page then shows the others beside\n"
         "                    what it hears, its own topics ignored\n"
         "  --stations N      stations merged from the broker (default 1000)\n" +
         "  --help            show this text and exit\n"
         "  --version         show the version and exit\n";
}

std::string VersionText(const std::string& program) {
  // The version first, alone on its line, for scripts; then the licence.
  return program + " " RIGPLOT_VERSION
                   "\n"
                   "Copyright (c) 2026 the RIGPLOT maintainers. MIT licence: free software,\n"
                   "no warranty. Built with Leaflet (BSD-2-Clause), Boost (BSL-1.0) and the\n"
                   "GSHHG coastline (LGPL-3.0+); their notices are in the copyright file or\n"
                   "THIRD-PARTY-NOTICES.txt.\n";
}

int AnswerWithoutRunning(const CommandLine& given, const std::string& program,
                         const char* moreHelp) {
  CommandLine line = given;
  // Only the service runs without a radio.
  if (line.action == CommandLine::Action::kRun && line.noRadio &&
      program.rfind("rigplotd", 0) != 0) {
    line.action = CommandLine::Action::kError;
    line.error = "--no-radio: a hub runs as rigplotd";
  }
  switch (line.action) {
    case CommandLine::Action::kHelp:
      std::fputs((UsageText(program) + moreHelp).c_str(), stdout);
      return 0;
    case CommandLine::Action::kVersion:
      std::fputs(VersionText(program).c_str(), stdout);
      return 0;
    case CommandLine::Action::kError:
      std::fprintf(stderr, "%s: %s\n\n%s%s", program.c_str(), line.error.c_str(),
                   UsageText(program).c_str(), moreHelp);
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  return -1;
}

}  // namespace rigplot
