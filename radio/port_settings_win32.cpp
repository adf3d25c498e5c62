// SPDX-License-Identifier: MIT
// The settings file's platform part on Windows: the device path rule and the
// read of the file's first bytes.
#include <windows.h>

#include "radio/port_settings.h"
#include "stations/os_text_win32.h"

namespace rigplot {

// "\\.\" names the device itself, so COM10 and above open as well as COM1.
std::string DevicePathFor(std::string_view portName) {
  if (portName.empty()) return {};  // opens nothing: the port message follows
  return "\\\\.\\" + std::string(portName);
}

bool ReadSettingsFile(const char* fileName, char* buffer, std::size_t size, std::size_t& got,
                      std::string* osError) {
  got = 0;
  // Share mode 0: while an editor holds the file open the program does not
  // read it half saved, it reports the file missing instead.
  const HANDLE file = CreateFileA(fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // CreateFileA sets the thread's last error, not errno.
    if (osError) *osError = SystemMessage(GetLastError());
    return false;
  }
  DWORD read = 0;
  if (ReadFile(file, buffer, static_cast<DWORD>(size), &read, nullptr)) got = read;
  CloseHandle(file);
  return true;
}

}  // namespace rigplot
