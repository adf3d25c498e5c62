// SPDX-License-Identifier: MIT
// Test helper for rigplotd.exe under Wine: starts the program, waits until it
// listens and then for a line on our stdin, sends it a console control event,
// and exits with the program's exit code (its stderr copied to ours).
//
//   console_events break <program> [arguments]   Ctrl+Break
//   console_events close <program> [arguments]   its console being closed
//   console_events endsession                    log-off, to rigplot.exe's main window
//
// The event is delivered as Windows delivers it: a thread started in the
// program at CtrlRoutine with the event's number, which calls the program's
// handlers. (Wine's own GenerateConsoleCtrlEvent carries only Ctrl+C.)
//
// Exit codes of its own: 90 usage, 91 start failed, 92 never listened,
// 93 event not sent, 94 the program did not end.
#include <windows.h>

#include <cstdio>
#include <cstring>
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

// Our stderr, unbuffered and byte for byte: the test reads it as it comes.
void Pass(const char* bytes, DWORD count) {
  DWORD put = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, count, &put, nullptr);
}

// Copies the child's stderr to ours until `marker` has gone by (or the pipe
// ends). True when it was seen.
bool CopyUntil(HANDLE pipe, const std::string& marker, std::string& seen) {
  char block[256];
  DWORD got = 0;
  while (seen.find(marker) == std::string::npos) {
    if (!ReadFile(pipe, block, sizeof block, &got, nullptr) || got == 0) return false;
    seen.append(block, got);
    Pass(block, got);
  }
  return true;
}

}  // namespace

// Tells the desktop program's main window that the user logs off, as the
// session manager does: the question first, then the end.
int EndSession() {
  const HWND frame = FindWindowW(L"CMainFrame", nullptr);
  if (frame == nullptr) {
    std::fprintf(stderr, "console_events: no main window\n");
    return 93;
  }
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(frame, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                      kEndTimeoutMs, &answer);
  // The program may end inside this call; its exit code tells the test the rest.
  SendMessageTimeoutW(frame, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                      kEndTimeoutMs, &answer);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"endsession") return EndSession();
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
  startup.hStdInput = nullptr;  // our stdin carries the go-ahead
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION child{};
  std::wstring line = CommandLine(argc, argv);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &child)) {
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

  // The test's go-ahead: it has fed the radio's side by now.
  char go = 0;
  DWORD read = 0;
  ReadFile(GetStdHandle(STD_INPUT_HANDLE), &go, 1, &read, nullptr);

  // kernelbase is mapped at the same address in every process.
  const FARPROC address = GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
  LPTHREAD_START_ROUTINE ctrlRoutine = nullptr;
  static_assert(sizeof ctrlRoutine == sizeof address);
  std::memcpy(&ctrlRoutine, &address, sizeof address);
  const DWORD event = mode == L"break" ? CTRL_BREAK_EVENT : CTRL_CLOSE_EVENT;
  HANDLE thread = nullptr;
  if (ctrlRoutine != nullptr) {
    thread = CreateRemoteThread(child.hProcess, nullptr, 0, ctrlRoutine,
                                reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr);
  }
  const bool sent = thread != nullptr;
  if (thread != nullptr) CloseHandle(thread);
  if (!sent) {
    std::fprintf(stderr, "console_events: cannot send the event (%lu)\n", GetLastError());
    TerminateProcess(child.hProcess, 93);
    return 93;
  }

  // The rest of the program's messages, then its exit code.
  char block[256];
  DWORD got = 0;
  while (ReadFile(readEnd, block, sizeof block, &got, nullptr) && got > 0) Pass(block, got);
  if (WaitForSingleObject(child.hProcess, kEndTimeoutMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "console_events: the program did not end\n");
    TerminateProcess(child.hProcess, 94);
    return 94;
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  return static_cast<int>(code);
}
