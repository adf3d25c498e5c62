// The pseudo-terminal, file and wait helpers live in tests/support.
#pragma once

#include "tests/support/files.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"
