#include "app/trace.h"

#include <wx/debug.h>
#include <wx/string.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rigplot {

namespace {

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
  EnableTraceFromEnvironment();
  const char* assertHook = std::getenv("RIGPLOT_TEST_ASSERT");
  if (assertHook != nullptr && std::strcmp(assertHook, "1") == 0)
    wxSetAssertHandler(&AbortOnAssert);
}

}  // namespace rigplot
