// The Linux layer turning X input into what a panel fed from a window
// procedure reads: the wheel, typed characters and the held Control key, on
// a real X window in a display of its own (tests/in_xvfb.sh). The events
// are sent by the test, through a connection of its own, all at once.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

// After GoogleTest, whose names Xlib's macros (None, Bool) would spoil.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    bool controlHeld;  // GetKeyState(VK_CONTROL) while it was handled
};
std::vector<Seen> seen;

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_MOUSEWHEEL:
    case WM_TIMER: seen.push_back({message, wParam, GetKeyState(VK_CONTROL) < 0}); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

::Window FindByName(Display* display, const char* name) {
    ::Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) != 0 && title != nullptr) {
            if (std::strcmp(title, name) == 0) found = children[i];
            XFree(title);
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

void SendKey(Display* display, ::Window window, KeySym symbol, bool pressed, unsigned state) {
    XEvent event = {};
    event.xkey.type = pressed ? KeyPress : KeyRelease;
    event.xkey.display = display;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.keycode = XKeysymToKeycode(display, symbol);
    event.xkey.state = state;
    event.xkey.same_screen = True;
    XSendEvent(display, window, False, pressed ? KeyPressMask : KeyReleaseMask, &event);
}

void SendButton(Display* display, ::Window window, unsigned button, bool pressed, unsigned state) {
    XEvent event = {};
    event.xbutton.type = pressed ? ButtonPress : ButtonRelease;
    event.xbutton.display = display;
    event.xbutton.window = window;
    event.xbutton.root = DefaultRootWindow(display);
    event.xbutton.button = button;
    event.xbutton.state = state;
    event.xbutton.x = event.xbutton.x_root = 10;
    event.xbutton.y = event.xbutton.y_root = 10;
    event.xbutton.same_screen = True;
    XSendEvent(display, window, False, pressed ? ButtonPressMask : ButtonReleaseMask, &event);
}

TEST(PlatformX11, WheelCharactersAndControlReachTheWindowProcedure) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "needs an X display (tests/in_xvfb.sh)";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = "PlatformX11Test";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    const HWND window = CreateWindowExA(0, "PlatformX11Test", "platform-x11-test", WS_OVERLAPPEDWINDOW, 0, 0,
                                        200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
    const ::Window xid = FindByName(display, "platform-x11-test");
    ASSERT_NE(xid, 0u);

    // Control held over a typed point, two wheel notches and a minus; all
    // of it already received when the first message is taken.
    SendKey(display, xid, XK_Control_L, true, 0);
    SendKey(display, xid, XK_period, true, ControlMask);
    SendKey(display, xid, XK_period, false, ControlMask);
    SendButton(display, xid, Button4, true, ControlMask);
    SendButton(display, xid, Button4, false, ControlMask);
    SendButton(display, xid, Button5, true, ControlMask);
    SendButton(display, xid, Button5, false, ControlMask);
    SendKey(display, xid, XK_Control_L, false, ControlMask);
    SendKey(display, xid, XK_minus, true, 0);
    XSync(display, False);

    // Until the minus has been typed, or a timer says it never will be.
    SetTimer(window, 99, 10000, nullptr);
    MSG message = {};
    while ((seen.empty() || seen.back().message != WM_CHAR || seen.back().wParam != '-') &&
           (seen.empty() || seen.back().message != WM_TIMER) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    const std::vector<Seen> expected = {
        {WM_KEYDOWN, VK_CONTROL, true},
        {WM_KEYDOWN, VK_OEM_PERIOD, true},
        {WM_CHAR, '.', true},
        {WM_KEYUP, VK_OEM_PERIOD, true},
        {WM_MOUSEWHEEL, MK_CONTROL | (WPARAM{WHEEL_DELTA} << 16), true},
        {WM_MOUSEWHEEL, MK_CONTROL | (WPARAM{0x10000u - WHEEL_DELTA} << 16), true},
        {WM_KEYUP, VK_CONTROL, false},
        {WM_KEYDOWN, VK_OEM_MINUS, false},
        {WM_CHAR, '-', false},
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen[i].message, expected[i].message) << i;
        EXPECT_EQ(seen[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(seen[i].controlHeld, expected[i].controlHeld) << i;
    }
    DestroyWindow(window);
    UnregisterClassA("PlatformX11Test", nullptr);
    XCloseDisplay(display);
}

}  // namespace
