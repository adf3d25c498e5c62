// SPDX-License-Identifier: MIT
// The icon-group catalogue and the heading rule that picks a station's group.
//
// Owns: constant data only. The 95 group lines are fixed: five moving-station
// groups "0" to "4", each followed by its sixteen direction subgroups g.0 to
// g.15, then the ten fixed-icon groups "5" to "14". Names are code page 932.
// Thread: pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace rigplot {

struct IconGroup {
  const char* gid;
  const char* gname;       // code page 932 bytes
  const char* pointstyle;  // nullptr on the moving-station group lines
};

inline constexpr int kIconGroupCount = 95;

// The catalogue in output order.
const IconGroup* IconGroups();

// One group line of the map script, without its line end.
std::string GroupLine(const IconGroup& group);

// The 16-sector class of a course text: 0 to 16 for 0 up to 371.25 degrees,
// larger beyond (INT_MAX when the product does not fit an int, NaN included);
// a text with no number has class 0.
int HeadingClassOf(std::string_view course);

// The gid of a station's point line from its symbol and heading class.
std::string GroupIdFor(std::string_view symbol, int headingClass);

// The catalogue entry with this gid, or nullptr.
const IconGroup* FindIconGroup(std::string_view gid);

}  // namespace rigplot
