// The radio text helpers live in tests/support/nmea.h.
#pragma once

#include "tests/support/nmea.h"
