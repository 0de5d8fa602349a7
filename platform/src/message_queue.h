#pragma once

// What every stand-in of the Win32 subset keeps alike, whatever shows the
// window: the class table, the windows behind HWND and HDC, the thread's
// message queue with its timers, and the held keys and buttons. A stand-in
// turns its own events into messages with the Queue functions and supplies
// the few calls below that touch its display.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct WindowRecord;

// With CS_OWNDC every window has exactly one device context, kept inside it.
struct DeviceContext {
    WindowRecord* window = nullptr;
};

struct WindowRecord {
    bool live = false;
    bool destroying = false;
    bool detached = false;  // a test window: never shown anywhere
    // The X window and its colour map on Linux (X ids); unused in a browser,
    // where the one canvas of the page is the window.
    unsigned long xid = 0;
    unsigned long colormap = 0;
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

struct WindowClass {
    std::string name;
    WNDPROC procedure;
    HINSTANCE instance;
};

// Windows are freed only at exit: a handle kept after destruction (the
// shell's device context) stays safe to pass, and is then simply not live.
extern std::vector<std::unique_ptr<WindowRecord>> windows;
extern bool keyHeld[256];
extern WPARAM buttonsHeld;  // MK_LBUTTON, MK_MBUTTON, MK_RBUTTON

uint64_t NowMs();
const WindowClass* FindClass(LPCSTR name);
WindowRecord* NewWindow(const WindowClass& windowClass, LPCSTR title);
// A window of the class at the place and size `create` gives (already
// resolved from CW_USEDEFAULT), sent WM_NCCREATE, WM_CREATE and its first
// WM_SIZE; null, with the window destroyed, when either creation message
// refuses.
HWND CreateFromClass(const WindowClass& windowClass, const CREATESTRUCTA& create);

// The window behind a handle, or null for a handle that is not a live window.
WindowRecord* WindowFromHandle(HWND handle);
WindowRecord* WindowFromDeviceContext(HDC deviceContext);
inline HWND HandleOf(WindowRecord* window) { return reinterpret_cast<HWND>(window); }

// Sizes are sent, as Windows does, only when they change; a minimised
// window reports an empty client area.
void ReportSize(WindowRecord& window, WPARAM kind, int width, int height);

// Input messages as GetMessageA gives them, time and screen position filled.
// A key comes with the scan code and whether Alt is held; buttons and
// movement with the modifier bits (MK_SHIFT, MK_CONTROL) besides the held
// buttons, which are kept here.
void QueueKey(WindowRecord& window, WPARAM key, int scanCode, bool pressed, bool alt, POINT screen);
void QueueButton(WindowRecord& window, int button, bool pressed, WPARAM modifiers, POINT client,
                 POINT screen);
void QueueWheel(WindowRecord& window, int delta, WPARAM modifiers, POINT screen);
void QueueMouseMove(WindowRecord& window, WPARAM modifiers, POINT client, POINT screen);

// Milliseconds until the next timer is due, 0 when one is, -1 with none.
int MillisecondsToNextTimer();

// Supplied by each stand-in: takes the events already received, without
// waiting; waits at most `timeoutMs` (forever for -1) for the next one;
// and lets go of what shows a window being destroyed.
void PumpEvents();
void WaitForEvents(int timeoutMs);
void ForgetNativeWindow(WindowRecord& window);

// A console's screen buffer as GetConsoleScreenBufferInfo tells it: the
// visible window at the top left of a buffer of `bufferRows` lines.
inline CONSOLE_SCREEN_BUFFER_INFO DescribeConsole(SHORT columns, SHORT visibleRows, SHORT bufferRows) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    info.dwSize = {columns, bufferRows};
    info.srWindow = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(visibleRows - 1)};
    info.dwMaximumWindowSize = {columns, visibleRows};
    return info;
}

// Whether a call has been told to fail: by the environment variable
// PONDSIM_FAIL (a comma-separated list of call names) or by a test.
bool Fails(const char* call);

// What the test seam keeps while a test records (platform_test.h).
void RecordDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void RecordCursorMove(int x, int y);
void RecordMessageBox(const char* text, const char* caption, UINT type);

}  // namespace platform
