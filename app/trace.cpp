#include "app/trace.h"

#include <wx/debug.h>
#include <wx/string.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rigplot {

namespace {

bool g_traceOn = false;

bool EnvironmentSays(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

void AbortOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                   const wxString& msg) {
  std::fprintf(stderr, "rigplot: wx assertion failed at %s:%d in %s: %s %s\n",
               static_cast<const char*>(file.utf8_str()), line,
               static_cast<const char*>(func.utf8_str()), static_cast<const char*>(cond.utf8_str()),
               static_cast<const char*>(msg.utf8_str()));
  std::fflush(stderr);
  std::abort();
}

}  // namespace

void InstallTestHooks() {
  g_traceOn = EnvironmentSays("RIGPLOT_TRACE");
  if (EnvironmentSays("RIGPLOT_TEST_ASSERT")) wxSetAssertHandler(&AbortOnAssert);
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
