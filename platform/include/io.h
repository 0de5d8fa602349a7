#pragma once

// The C runtime's low-level descriptor calls that shell/ uses, for Linux.
// An OS handle from GetStdHandle names a standard descriptor; the runtime
// descriptor for it is that same descriptor.

#include <cstdint>
#include <cstdio>

#ifndef _O_TEXT
#define _O_TEXT 0x4000
#endif

// The runtime descriptor for an OS handle, or -1 for a handle that names
// no open descriptor.
int _open_osfhandle(intptr_t handle, int flags);

// A stream on a runtime descriptor. A standard descriptor already has its
// stream (stdin, stdout or stderr), and that one is given back: glibc's
// stream objects cannot be copied, so a standard stream overwritten with
// the result stays exactly what it was.
FILE* _fdopen(int descriptor, const char* mode);
