// SPDX-License-Identifier: MIT
// What the main frame needs from the toolkit under wx, one file per toolkit
// (frame_platform_gtk.cpp now).
// Thread: the UI thread.
#pragma once

class wxMenuBar;

namespace rigplot {

// Lets the menu bar be narrower than its captions, so the frame can be as
// narrow as a small screen makes it: where a Windows menu bar wraps its
// captions onto a second row, GTK shortens them with "…".
void LetMenuBarShrink(wxMenuBar* menuBar);

}  // namespace rigplot
