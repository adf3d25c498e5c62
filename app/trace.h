// SPDX-License-Identifier: MIT
// Hooks for the window tests, off unless the environment asks for them:
// the trace both desktop programs share (RIGPLOT_TRACE=1, desktop/trace.h),
// and RIGPLOT_TEST_ASSERT=1, which makes a wx assertion print and abort
// instead of opening a dialog that would wait for a user who is not there.
// Thread: the UI thread.
#pragma once

#include "desktop/trace.h"

namespace rigplot {

void InstallTestHooks();

}  // namespace rigplot
