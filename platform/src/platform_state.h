#pragma once

// What the Linux layer's parts share beyond the message queue: the X
// connection and the X windows behind HWND.

#include <windows.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "message_queue.h"

namespace platform {

// The X connection, opened on first use; null when there is no display.
Display* XDisplay();
// Whether XDisplay() has been asked for, so that callers that only look at
// pending events never open a connection.
Display* XDisplayIfOpen();

WindowRecord* WindowFromXid(::Window xid);

// The visual a window of this format needs; false for an unknown format.
bool FormatVisual(int format, XVisualInfo* visual);
// Puts the window on the format's visual: makes its X window on it, or,
// for one already made on another visual, replaces it (a window that was
// shown before it got its pixel format).
bool GiveVisual(WindowRecord& window, const XVisualInfo& visual);

// X errors are reported on standard error and the program goes on. Between
// BeginErrorTrap and EndErrorTrap they are only counted: EndErrorTrap
// returns true when none came.
void BeginErrorTrap();
bool EndErrorTrap();

// The program's short name for messages on standard error.
const char* ProgramName();

}  // namespace platform
