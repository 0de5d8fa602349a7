#pragma once

// A seam for tests of code written against the Win32 subset: it records the
// calls whose effect lies outside the program (the default window
// procedure, cursor warps, message boxes), makes chosen calls fail, and
// gives a window that needs no display.

#include <windows.h>

#include <string>
#include <vector>

namespace platform_test {

struct WindowCall {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    UINT type;
};

// Starts recording (and clears what was recorded); recording is off unless
// a test asks for it, so a running program keeps nothing.
void StartRecording();
const std::vector<WindowCall>& DefWindowProcCalls();
const std::vector<POINT>& CursorMoves();
const std::vector<MessageBoxCall>& MessageBoxes();

// Makes the named call ("RegisterClassA", "UnregisterClassA",
// "ChoosePixelFormat", "SetPixelFormat") fail, or work again.
void SetFailing(const char* call, bool failing);

// A window of the given procedure with no X window behind it: messages,
// timers and DefWindowProcA work on it, and its client area starts at
// `screenOrigin` for ClientToScreen. Nothing is sent to it on creation.
HWND CreateDetachedWindow(WNDPROC procedure, POINT screenOrigin, int width, int height);

#if defined(__linux__)
// The Linux layer's translation of X events, for a window with no X window
// behind it: a key as the X server reports it (its unshifted key symbol, the
// X keycode and the modifier state), and the window being shown (when it is
// not) and given a new client size by the window manager.
void TranslateXKey(HWND window, unsigned long keySymbol, unsigned keycode, unsigned state, bool pressed);
// A mouse button (4 and 5 are the wheel's notches) at the client's top left.
void TranslateXButton(HWND window, unsigned button, unsigned state, bool pressed);
void TranslateXMapAndSize(HWND window, int width, int height);

// What ChoosePixelFormat weighs of an X visual besides its class and depth.
struct VisualTraits {
    bool doubleBuffer;
    int colourBits, depthBits, stencilBits, accumBits;
};
// ChoosePixelFormat's pick among TrueColor visuals of the root's depth with
// these traits, in this order: 1-based, 0 for none.
int ClosestPixelFormat(const std::vector<VisualTraits>& visuals, const PIXELFORMATDESCRIPTOR& request);
#endif

}  // namespace platform_test
