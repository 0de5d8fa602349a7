#pragma once

// The same seam as the Linux layer's, over the real Win32 calls
// (platform_test.cpp): the test program's own import table is redirected for
// the few calls that are recorded or made to fail.

#include "../../platform/include/platform_test.h"

#include <cstdlib>

// The tests keep message boxes off the screen through the Linux layer's
// environment switch; here the hook never shows them, and the switch is
// simply set.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
