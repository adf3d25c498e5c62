// SPDX-License-Identifier: MIT
// The command line shared by rigplot, rigplotd and their Windows builds.
//
// No option: the program does exactly what it does without a command line
// (map script only, page on loopback). Parsing opens nothing but the MBTiles
// file of --tiles mbtiles:, read-only, so that a bad one is a wrong command
// line; the front end
// prints the usage or the version and ends before the radio link is set up.
// Thread: the front end's, once at start-up.
#pragma once

#include <string>
#include <vector>

#include "mqtt/mqtt_settings.h"
#include "web/web_server.h"

namespace rigplot {

struct CommandLine {
  enum class Action {
    kRun,      // set up the link and run
    kHelp,     // usage on stdout, status 0
    kVersion,  // version on stdout, status 0
    kError,    // `error` and the usage on stderr, status 2
  };
  Action action = Action::kRun;
  std::string error;  // for kError: what was wrong, one line

  std::string geojsonPath;  // --geojson PATH, empty when off
  std::string kmlPath;      // --kml PATH
  std::string logDir;       // --log DIR
  std::string historyPath;  // --history PATH, empty when off
  int historyDays = 30;     // --history-days N, 0 keeps every report

  bool webEnabled = true;  // --web off turns the page off
  WebSettings web;         // --web ADDR:PORT, --web-clients N; --tiles URL, empty for --tiles none;
                           // --tiles mbtiles:PATH, its file open for the page

  MqttSettings mqtt;  // --mqtt URL and the options that go with it

  // Reports from the broker: instead of a radio (a hub), or beside it.
  bool noRadio = false;                // --no-radio: no RIGPLOT.ini, no port
  std::vector<std::string> subscribe;  // --subscribe FILTER, repeatable
  std::size_t stations = 1000;         // --stations N, the merged table's size
};

// `args` are the arguments after the program's name, as UTF-8.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text for `program` ("rigplot", "rigplotd"), ending in a line feed.
std::string UsageText(const std::string& program);

// "rigplotd 0.3.0\n": the program's name and the project's version.
std::string VersionText(const std::string& program);

// Answers help, version and a wrong command line the same way in every
// program: usage or version on stdout, or the error and the usage on stderr.
// Returns the exit status (0 or 2), or -1 when the program is to run.
// `moreHelp` follows the usage text.
int AnswerWithoutRunning(const CommandLine& line, const std::string& program,
                         const char* moreHelp = "");

}  // namespace rigplot
