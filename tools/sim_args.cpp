#include "tools/sim_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace rigplot {
namespace {

template <typename T>
bool ReadNumber(std::string_view text, T* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(*value)) return false;
  }
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

const char* SimUsage() {
  return "usage: rigplot-sim [options]\n"
         "Simulates a D-STAR radio passing position reports out of its serial port.\n"
         "Opens a pseudo-terminal and prints, as its first line, the port name to put\n"
         "in RIGPLOT.ini (for example pts/3).\n"
         "\n"
         "  --stations N       stations heard, 1 to 1000 (default 20)\n"
         "  --count N          stop after N reports (default: until interrupted)\n"
         "  --seed S           same bytes on every run, stamped by a simulated clock\n"
         "                     (default: a random seed and the real time)\n"
         "  --baud B           pace the line like a UART at B baud (default 9600)\n"
         "  --interval SECONDS pause after each report (default 0.5)\n"
         "  --fast             no pacing and, unless --interval is given, no pause:\n"
         "                     as fast as the receiver reads\n"
         "  --noise PERCENT    share of reports spoilt or preceded by line noise,\n"
         "                     0 to 100 (default 2; 0 for a clean line)\n"
         "  --centre LAT,LON   centre of the area in degrees (default 35.68,139.69)\n"
         "  --radius KM        radius of the area (default 25)\n"
         "  --linger SECONDS   keep the line open after the last report has been\n"
         "                     read (default 1)\n"
         "  --tty PATH         send on this tty device instead of a pseudo-terminal\n"
         "  --help             this text\n"
         "  --version          the version\n"
         "\n"
         "Honours XOFF/XON from the receiver. Ends after --count reports, once the\n"
         "receiver has read them, or on SIGINT/SIGTERM, with exit status 0.\n";
}

bool ParseSimCommandLine(int argc, const char* const* argv, SimCommandLine* out,
                         std::string* error) {
  constexpr std::string_view kFlags[] = {"--help", "-h", "--version", "--fast"};
  constexpr std::string_view kOptions[] = {"--stations", "--count",  "--seed",   "--baud",
                                           "--interval", "--noise",  "--centre", "--center",
                                           "--radius",   "--linger", "--tty"};
  SimCommandLine cl;
  bool intervalGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view name = argv[i];
    std::string_view value;
    bool hasValue = false;
    if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    const bool isFlag = std::find(std::begin(kFlags), std::end(kFlags), name) != std::end(kFlags);
    const bool isOption =
        std::find(std::begin(kOptions), std::end(kOptions), name) != std::end(kOptions);
    if (!isFlag && !isOption) {
      *error = "unknown argument \"" + std::string(argv[i]) + "\"";
      return false;
    }
    if (isFlag && hasValue) {
      *error = std::string(name) + " takes no value";
      return false;
    }
    if (isOption && !hasValue) {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return false;
      }
      value = argv[++i];
    }

    bool ok = true;
    if (name == "--help" || name == "-h") {
      cl.help = true;
    } else if (name == "--version") {
      cl.version = true;
    } else if (name == "--fast") {
      cl.fast = true;
    } else if (name == "--stations") {
      ok = ReadNumber(value, &cl.stream.stations) && cl.stream.stations >= 1 &&
           cl.stream.stations <= 1000;
    } else if (name == "--count") {
      ok = ReadNumber(value, &cl.run.count) && cl.run.count > 0;
    } else if (name == "--seed") {
      ok = ReadNumber(value, &cl.stream.seed);
      cl.seeded = true;
    } else if (name == "--baud") {
      ok = ReadNumber(value, &cl.baud) && cl.baud >= 50 && cl.baud <= 4000000;
    } else if (name == "--interval") {
      ok = ReadNumber(value, &cl.run.interval) && cl.run.interval >= 0 && cl.run.interval <= 3600;
      intervalGiven = true;
    } else if (name == "--noise") {
      ok = ReadNumber(value, &cl.stream.noisePercent) && cl.stream.noisePercent >= 0 &&
           cl.stream.noisePercent <= 100;
    } else if (name == "--centre" || name == "--center") {
      const auto comma = value.find(',');
      ok = comma != std::string_view::npos &&
           ReadNumber(value.substr(0, comma), &cl.stream.centreLatitude) &&
           ReadNumber(value.substr(comma + 1), &cl.stream.centreLongitude) &&
           std::fabs(cl.stream.centreLatitude) <= 85 && std::fabs(cl.stream.centreLongitude) <= 180;
    } else if (name == "--radius") {
      ok = ReadNumber(value, &cl.stream.radiusKm) && cl.stream.radiusKm > 0 &&
           cl.stream.radiusKm <= 1000;
    } else if (name == "--linger") {
      ok = ReadNumber(value, &cl.run.linger) && cl.run.linger >= 0 && cl.run.linger <= 3600;
    } else if (name == "--tty") {
      ok = !value.empty();
      cl.tty = value;
    }
    if (!ok) {
      *error = "bad value for " + std::string(name) + ": \"" + std::string(value) + "\"";
      return false;
    }
  }
  if (cl.fast && !intervalGiven) cl.run.interval = 0;
  cl.run.realTime = !cl.seeded;
  *out = std::move(cl);
  return true;
}

}  // namespace rigplot
