// SPDX-License-Identifier: MIT
// The local clock, read the same way on every OS.
//
// One implementation file per OS (local_time_posix.cpp, local_time_win32.cpp)
// converts a clock reading to local time; the offset from UTC is worked out
// from that result, so it is the one in force at that moment.
// Thread: any; the conversion is reentrant.
#pragma once

#include <ctime>

namespace rigplot {

// Per OS: `t` as local broken-down time. False when it cannot be converted.
[[nodiscard]] bool ToLocalTime(std::time_t t, std::tm& local);

// The offset of `local` (as made by ToLocalTime from `t`) from UTC, in seconds
// east of Greenwich: +32400 for Japan.
[[nodiscard]] long UtcOffsetSeconds(std::time_t t, const std::tm& local);

}  // namespace rigplot
