// Test helper for rigplotd.exe under Wine: starts the program, waits until it
// listens, then ends it by a console event the way Windows does, and exits
// with the program's exit code (its stderr copied to ours).
//
//   console_events break <program> [arguments]   Ctrl+Break to its process group
//   console_events close <program> [arguments]   closes its console window
//
// Exit codes of its own: 90 usage, 91 start failed, 92 never listened,
// 93 event not sent, 94 the program did not end.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD kListenTimeoutMs = 20000;
constexpr DWORD kEndTimeoutMs = 10000;

std::wstring CommandLine(int argc, wchar_t** argv) {
  std::wstring line;
  for (int i = 2; i < argc; ++i) {
    if (!line.empty()) line += L' ';
    line += L'"';
    line += argv[i];
    line += L'"';
  }
  return line;
}

// Copies the child's stderr to ours until `marker` has gone by (or the pipe
// ends). True when it was seen.
bool CopyUntil(HANDLE pipe, const std::string& marker, std::string& seen) {
  char block[256];
  DWORD got = 0;
  while (seen.find(marker) == std::string::npos) {
    if (!ReadFile(pipe, block, sizeof block, &got, nullptr) || got == 0) return false;
    seen.append(block, got);
    std::fwrite(block, 1, got, stderr);
  }
  return true;
}

HWND ConsoleWindowOf(DWORD pid) {
  FreeConsole();
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (AttachConsole(pid)) {
      const HWND window = GetConsoleWindow();
      FreeConsole();
      if (window != nullptr) return window;
    }
    Sleep(100);
  }
  return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 90;
  const std::wstring mode = argv[1];
  if (mode != L"break" && mode != L"close") return 90;

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 91;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION child{};
  std::wstring line = CommandLine(argc, argv);
  const DWORD flags = mode == L"break" ? CREATE_NEW_PROCESS_GROUP : CREATE_NEW_CONSOLE;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                      &startup, &child)) {
    std::fprintf(stderr, "console_events: cannot start (%lu)\n", GetLastError());
    return 91;
  }
  CloseHandle(writeEnd);

  std::string seen;
  if (!CopyUntil(readEnd, "listening", seen)) {
    WaitForSingleObject(child.hProcess, kEndTimeoutMs);
    DWORD code = 92;
    GetExitCodeProcess(child.hProcess, &code);
    std::fprintf(stderr, "console_events: the program never listened (exit %lu)\n", code);
    return 92;
  }

  bool sent = false;
  if (mode == L"break") {
    sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.dwProcessId) != FALSE;
  } else if (const HWND window = ConsoleWindowOf(child.dwProcessId)) {
    sent = PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
  }
  if (!sent) {
    std::fprintf(stderr, "console_events: cannot send the event (%lu)\n", GetLastError());
    TerminateProcess(child.hProcess, 93);
    return 93;
  }

  // The rest of the program's messages, then its exit code.
  char block[256];
  DWORD got = 0;
  while (ReadFile(readEnd, block, sizeof block, &got, nullptr) && got > 0) {
    std::fwrite(block, 1, got, stderr);
  }
  if (WaitForSingleObject(child.hProcess, kEndTimeoutMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "console_events: the program did not end\n");
    TerminateProcess(child.hProcess, 94);
    return 94;
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  return static_cast<int>(code);
}
