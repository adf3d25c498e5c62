#include "desktop/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "radio/radio_link.h"

namespace rigplot {

namespace {

bool g_traceOn = false;

}  // namespace

void EnableTraceFromEnvironment() {
  const char* value = std::getenv("RIGPLOT_TRACE");
  g_traceOn = value != nullptr && std::strcmp(value, "1") == 0;
}

void Trace(const char* format, ...) {
  if (!g_traceOn) return;
  std::va_list args;
  va_start(args, format);
  std::fputs("rigplot: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  va_end(args);
}

void TraceLine(const std::string& line) {
  Trace("%s", line.c_str());
}

void SayStartupFailure(const LinkResult& result) {
  if (result.failure == LinkFailure::kPortNotOpened) {
    std::fprintf(stderr, "rigplot: cannot open %s\n", result.osError.c_str());
  } else if (result.failure == LinkFailure::kWorkerNotStarted) {
    std::fprintf(stderr, "rigplot: cannot start the receive thread: %s\n", result.osError.c_str());
  } else if (result.failure == LinkFailure::kHistoryRefused) {
    std::fprintf(stderr, "rigplot: %s\n", result.osError.c_str());
  }
}

}  // namespace rigplot
