#pragma once

// State shared by the layer's parts: the X connection, the windows behind
// HWND and HDC, and the switches that tests use to make a call fail.

#include <windows.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

namespace platform {

struct WindowRecord;

// With CS_OWNDC every window has exactly one device context, kept inside it.
struct DeviceContext {
    WindowRecord* window = nullptr;
};

struct WindowRecord {
    bool live = false;
    bool destroying = false;
    bool detached = false;  // a test window: never has an X window
    ::Window xid = 0;
    Colormap colormap = 0;
    WNDPROC procedure = nullptr;
    std::string className;
    std::string title;
    int width = 0;  // client area, in pixels
    int height = 0;
    WORD reportedWidth = 0;  // what the last WM_SIZE said
    WORD reportedHeight = 0;
    bool mapped = false;
    bool hiding = false;  // unmapped by ShowWindow, not minimised by the user
    // Where the client area is on the screen while no X window is behind
    // it: the X window is made only when the window gets its pixel format
    // or is shown, so that it is made once, on the visual it keeps.
    POINT origin = {0, 0};
    int pixelFormat = 0;  // 1-based index into the format list; 0 before SetPixelFormat
    DeviceContext deviceContext;
};

// The X connection, opened on first use; null when there is no display.
Display* XDisplay();
// Whether XDisplay() has been asked for, so that callers that only look at
// pending events never open a connection.
Display* XDisplayIfOpen();

// The window behind a handle, or null for a handle that is not a live window.
WindowRecord* WindowFromHandle(HWND handle);
WindowRecord* WindowFromXid(::Window xid);
WindowRecord* WindowFromDeviceContext(HDC deviceContext);
inline HWND HandleOf(WindowRecord* window) { return reinterpret_cast<HWND>(window); }

// The visual a window of this format needs; false for an unknown format.
bool FormatVisual(int format, XVisualInfo* visual);
// Puts the window on the format's visual: makes its X window on it, or,
// for one already made on another visual, replaces it (a window that was
// shown before it got its pixel format).
bool GiveVisual(WindowRecord& window, const XVisualInfo& visual);

// Whether a call has been told to fail: by the environment variable
// PONDSIM_FAIL (a comma-separated list of call names) or by a test.
bool Fails(const char* call);

// X errors are reported on standard error and the program goes on. Between
// BeginErrorTrap and EndErrorTrap they are only counted: EndErrorTrap
// returns true when none came.
void BeginErrorTrap();
bool EndErrorTrap();

// What the test seam keeps while a test records (platform_test.h).
void RecordDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void RecordCursorMove(int x, int y);
void RecordMessageBox(const char* text, const char* caption, UINT type);

// The program's short name for messages on standard error.
const char* ProgramName();

}  // namespace platform
