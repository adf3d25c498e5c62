// SPDX-License-Identifier: MIT
// Service events on Windows: console control events.
//
// The system calls the handler on a thread of its own. Ctrl+C and Ctrl+Break
// only ask for the stop. Closing the console, logging off and shutting down
// end the process as soon as the handler returns, so there the handler never
// returns: the main thread runs the stop sequence and ends the process with
// status 0 (the system allows it about five seconds).
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "service/service_events.h"
#include "stations/os_text_win32.h"

namespace rigplot {

std::vector<std::string> ServiceArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

namespace {

// Shared with the handler, which the system calls with no context of ours.
std::mutex g_eventLock;
std::condition_variable g_eventArrived;
bool g_stopAsked = false;
UINT g_savedOutputCodePage = 0;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(g_eventLock);
    g_stopAsked = true;
  }
  g_eventArrived.notify_all();
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

void RestoreConsole() {
  if (g_savedOutputCodePage != 0) SetConsoleOutputCP(g_savedOutputCodePage);
}

}  // namespace

const char kServiceEventsHelp[] = "Ctrl+C, Ctrl+Break or closing the console window stops it.\n";

bool ArmServiceEvents() {
  // The messages are UTF-8; the console shows them as such while we run.
  g_savedOutputCodePage = GetConsoleOutputCP();
  if (g_savedOutputCodePage != 0 && SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(RestoreConsole);
  } else {
    g_savedOutputCodePage = 0;
  }
  return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
}

ServiceEvent WaitServiceEvent() {
  std::unique_lock<std::mutex> lock(g_eventLock);
  g_eventArrived.wait(lock, [] { return g_stopAsked; });
  return ServiceEvent::kStop;
}

}  // namespace rigplot
