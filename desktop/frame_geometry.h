// SPDX-License-Identifier: MIT
// Where the main frame opens: a fifth of the primary screen wide, a tenth
// high, its left edge at two fifths of the width and its top at 45 hundredths
// of the height. Pure arithmetic, so it can be checked without a display.
#pragma once

namespace rigplot {

struct FrameRect {
  int x = 0;
  int y = 0;
  int cx = 0;  // outer width, decorations included
  int cy = 0;  // outer height, decorations included

  bool operator==(const FrameRect&) const = default;
};

// Every division truncates, and the place is made from the already truncated
// size: 1601 x 1201 gives 320 x 120 at (640, 540).
constexpr FrameRect MainFrameRect(int screenWidth, int screenHeight) {
  FrameRect r;
  r.cy = screenHeight / 10;
  r.cx = screenWidth / 5;
  r.y = r.cy * 9 / 2;
  r.x = r.cx * 4 / 2;
  return r;
}

}  // namespace rigplot
