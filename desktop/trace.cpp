#include "desktop/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rigplot {

namespace {

bool g_traceOn = false;
bool g_refuseWorker = false;

}  // namespace

void EnableTraceFromEnvironment() {
  const char* value = std::getenv("RIGPLOT_TRACE");
  g_traceOn = value != nullptr && std::strcmp(value, "1") == 0;
  const char* refuse = std::getenv("RIGPLOT_TEST_NO_WORKER");
  g_refuseWorker = refuse != nullptr && std::strcmp(refuse, "1") == 0;
}

bool TestRefusesWorker() {
  return g_refuseWorker;
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

}  // namespace rigplot
