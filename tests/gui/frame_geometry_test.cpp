// SPDX-License-Identifier: MIT
// The main frame's place and size for a screen: a fifth of the width, a tenth
// of the height, left edge at two fifths, top at 45 hundredths, truncated.
#include "desktop/frame_geometry.h"

#include <gtest/gtest.h>

namespace rigplot {
namespace {

struct GeometryRow {
  const char* legend;
  int screenWidth, screenHeight;
  FrameRect expected;  // x, y, cx, cy
};

const GeometryRow kRows[] = {
    {"XGA", 1024, 768, {408, 342, 204, 76}},
    {"SVGA", 800, 600, {320, 270, 160, 60}},
    {"WXGA", 1366, 768, {546, 342, 273, 76}},
    {"full HD", 1920, 1080, {768, 486, 384, 108}},
    {"odd sizes truncate before the place is made", 1601, 1201, {640, 540, 320, 120}},
    {"the place comes from the truncated size (not 641.6, 544.05)",
     1604,
     1209,
     {640, 540, 320, 120}},
    {"a screen too small for a frame", 9, 9, {2, 0, 1, 0}},
};

TEST(MainFrameRectTest, FollowsTheRuleForEveryScreen) {
  for (const GeometryRow& row : kRows) {
    EXPECT_EQ(MainFrameRect(row.screenWidth, row.screenHeight), row.expected) << row.legend;
  }
}

}  // namespace
}  // namespace rigplot
