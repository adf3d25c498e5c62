// The Windows program's trace is the one both desktop programs share.
#pragma once

#include "desktop/trace.h"
