// The one kind of top-level window over Xlib. X events become the Win32
// messages the shell reads (message_queue.cpp keeps the queue): keys with
// their virtual-key codes, buttons, pointer motion, size changes, the
// window manager's close request.

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform_state.h"
#include "platform_test.h"

namespace platform {
namespace {

Atom wmProtocols = 0;
Atom wmDeleteWindow = 0;

void SetXProperties(Display* display, WindowRecord& window) {
    XStoreName(display, window.xid, window.title.c_str());
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    XChangeProperty(display, window.xid, netName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(window.title.c_str()),
                    static_cast<int>(window.title.size()));
    XClassHint hint;
    std::string instanceName = ProgramName();
    hint.res_name = instanceName.data();
    hint.res_class = window.className.data();
    XSetClassHint(display, window.xid, &hint);
    XSetWMProtocols(display, window.xid, &wmDeleteWindow, 1);
    const long pid = getpid();
    XChangeProperty(display, window.xid, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
}

// The X window behind a window, on `visual` or the root's own when null,
// with its title, class and close protocol.
bool MakeXWindow(Display* display, WindowRecord& window, const XVisualInfo* visual) {
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes = {};
    attributes.background_pixmap = None;  // no background brush: nothing is erased
    attributes.border_pixel = 0;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | StructureNotifyMask;
    unsigned long mask = CWBackPixmap | CWBorderPixel | CWEventMask;
    Colormap colormap = 0;
    if (visual != nullptr) {
        colormap = XCreateColormap(display, RootWindow(display, screen), visual->visual, AllocNone);
        attributes.colormap = colormap;
        mask |= CWColormap;
    }
    const ::Window xid = XCreateWindow(
        display, RootWindow(display, screen), window.origin.x, window.origin.y,
        static_cast<unsigned>(window.width), static_cast<unsigned>(window.height), 0,
        visual != nullptr ? visual->depth : CopyFromParent, InputOutput,
        visual != nullptr ? visual->visual : CopyFromParent, mask, &attributes);
    if (xid == 0) {
        if (colormap != 0) XFreeColormap(display, colormap);
        return false;
    }
    window.xid = xid;
    window.colormap = colormap;
    window.mapped = false;
    SetXProperties(display, window);
    XSizeHints hints = {};
    hints.flags = PPosition | PSize;
    hints.x = window.origin.x;
    hints.y = window.origin.y;
    hints.width = window.width;
    hints.height = window.height;
    XSetWMNormalHints(display, xid, &hints);
    return true;
}

// Sizes are sent, as Windows does, only when they change; a minimised
// window reports an empty client area.
WPARAM VirtualKey(KeySym symbol) {
    if (symbol >= XK_a && symbol <= XK_z) return 'A' + (symbol - XK_a);
    if (symbol >= XK_A && symbol <= XK_Z) return 'A' + (symbol - XK_A);
    if (symbol >= XK_0 && symbol <= XK_9) return '0' + (symbol - XK_0);
    if (symbol >= XK_F1 && symbol <= XK_F12) return VK_F1 + (symbol - XK_F1);
    switch (symbol) {
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_Shift_L:
    case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R: return VK_MENU;
    case XK_Escape: return VK_ESCAPE;
    case XK_Left:
    case XK_KP_Left: return VK_LEFT;
    case XK_Up:
    case XK_KP_Up: return VK_UP;
    case XK_Right:
    case XK_KP_Right: return VK_RIGHT;
    case XK_Down:
    case XK_KP_Down: return VK_DOWN;
    case XK_space: return VK_SPACE;
    case XK_period: return VK_OEM_PERIOD;
    case XK_minus: return VK_OEM_MINUS;
    case XK_Tab: return VK_TAB;
    case XK_BackSpace: return VK_BACK;
    case XK_Delete: return VK_DELETE;
    case XK_Insert: return VK_INSERT;
    case XK_Home: return VK_HOME;
    case XK_End: return VK_END;
    case XK_Prior: return VK_PRIOR;
    case XK_Next: return VK_NEXT;
    case XK_Pause: return VK_PAUSE;
    case XK_Caps_Lock: return VK_CAPITAL;
    default: return 0;
    }
}

void TranslateKey(WindowRecord& window, const XKeyEvent& event, KeySym symbol, bool pressed) {
    const WPARAM key = VirtualKey(symbol);
    QueueKey(window, key, static_cast<int>(event.keycode) - 8, pressed, (event.state & Mod1Mask) != 0,
             {event.x_root, event.y_root});
}

WPARAM ModifierFlags(unsigned state) {
    WPARAM flags = 0;
    if ((state & ShiftMask) != 0) flags |= MK_SHIFT;
    if ((state & ControlMask) != 0) flags |= MK_CONTROL;
    return flags;
}

void TranslateButton(WindowRecord& window, const XButtonEvent& event, bool pressed) {
    const POINT screen = {event.x_root, event.y_root};
    if (event.button == Button4 || event.button == Button5) {
        if (pressed) QueueWheel(window, event.button == Button4 ? WHEEL_DELTA : -WHEEL_DELTA, ModifierFlags(event.state), screen);
        return;
    }
    QueueButton(window, static_cast<int>(event.button), pressed, ModifierFlags(event.state), {event.x, event.y}, screen);
}

void TranslateMotion(WindowRecord& window, const XMotionEvent& event) {
    QueueMouseMove(window, ModifierFlags(event.state), {event.x, event.y}, {event.x_root, event.y_root});
}

// A key event comes with its unshifted key symbol, which only the X server's
// keyboard map can tell.
void Translate(WindowRecord* window, const XEvent& event, KeySym symbol) {
    switch (event.type) {
    case KeyPress: TranslateKey(*window, event.xkey, symbol, true); break;
    case KeyRelease: TranslateKey(*window, event.xkey, symbol, false); break;
    case ButtonPress: TranslateButton(*window, event.xbutton, true); break;
    case ButtonRelease: TranslateButton(*window, event.xbutton, false); break;
    case MotionNotify: TranslateMotion(*window, event.xmotion); break;
    case ConfigureNotify:
        window->width = event.xconfigure.width;
        window->height = event.xconfigure.height;
        if (window->mapped) ReportSize(*window, SIZE_RESTORED, window->width, window->height);
        break;
    case MapNotify:
        window->mapped = true;
        ReportSize(*window, SIZE_RESTORED, window->width, window->height);
        break;
    case UnmapNotify:
        window->mapped = false;
        if (!window->hiding) ReportSize(*window, 1 /* SIZE_MINIMIZED */, 0, 0);
        window->hiding = false;
        break;
    case ClientMessage:
        // The window manager's close button: Windows makes it a system
        // command, whose default handling sends WM_CLOSE.
        if (event.xclient.message_type == wmProtocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow) {
            PostMessageA(HandleOf(window), WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        break;
    case DestroyNotify:
        // Destroyed from outside (not by DestroyWindow, which forgets the
        // X window first): the program learns of it as of a destruction.
        window->xid = 0;
        DestroyWindow(HandleOf(window));
        break;
    default: break;
    }
}

}  // namespace

// Takes every X event already received, without waiting.
void PumpEvents() {
    Display* display = XDisplayIfOpen();
    if (display == nullptr) return;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        WindowRecord* window = WindowFromXid(event.xany.window);
        if (window == nullptr) continue;
        KeySym symbol = NoSymbol;
        if (event.type == KeyPress || event.type == KeyRelease) symbol = XLookupKeysym(&event.xkey, 0);
        Translate(window, event, symbol);
    }
}

// Sleeps until an X event arrives or the timeout passes.
void WaitForEvents(int timeout) {
    Display* display = XDisplayIfOpen();
    pollfd descriptor = {};
    int count = 0;
    if (display != nullptr) {
        XFlush(display);
        if (XPending(display) > 0) return;
        descriptor.fd = ConnectionNumber(display);
        descriptor.events = POLLIN;
        count = 1;
    }
    poll(count != 0 ? &descriptor : nullptr, static_cast<nfds_t>(count), timeout);
}

void ForgetNativeWindow(WindowRecord& window) {
    Display* display = XDisplayIfOpen();
    if (display != nullptr && window.xid != 0) {
        XDestroyWindow(display, window.xid);
        if (window.colormap != 0) XFreeColormap(display, window.colormap);
        XFlush(display);
    }
    window.xid = 0;
    window.colormap = 0;
}

WindowRecord* WindowFromXid(::Window xid) {
    if (xid == 0) return nullptr;
    for (const auto& window : windows) {
        if (window->live && window->xid == xid) return window.get();
    }
    return nullptr;
}

bool GiveVisual(WindowRecord& window, const XVisualInfo& visual) {
    Display* display = XDisplayIfOpen();
    if (display == nullptr || window.detached) return false;
    if (window.xid != 0) {
        XWindowAttributes current;
        XGetWindowAttributes(display, window.xid, &current);
        if (XVisualIDFromVisual(current.visual) == visual.visualid) return true;
    }
    const ::Window old = window.xid;
    const Colormap oldColormap = window.colormap;
    const bool wasMapped = window.mapped;
    if (!MakeXWindow(display, window, &visual)) return false;
    if (old != 0) {
        XDestroyWindow(display, old);
        if (oldColormap != 0) XFreeColormap(display, oldColormap);
        if (wasMapped) XMapRaised(display, window.xid);
    }
    XFlush(display);
    return true;
}

}  // namespace platform

using platform::HandleOf;
using platform::WindowRecord;

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
    const platform::WindowClass* windowClass = platform::FindClass(className);
    if (windowClass == nullptr) return nullptr;
    Display* display = platform::XDisplay();
    if (display == nullptr) {
        // A desktop program cannot run without a desktop. Ending the
        // thread's loop at once beats a loop that renders into nothing
        // forever.
        std::fprintf(stderr, "%s: cannot open the X display \"%s\"\n", platform::ProgramName(),
                     XDisplayName(nullptr));
        PostQuitMessage(1);
        return nullptr;
    }
    if (platform::wmProtocols == 0) {
        platform::wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
        platform::wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    }
    const int screen = DefaultScreen(display);
    const int screenWidth = DisplayWidth(display, screen);
    const int screenHeight = DisplayHeight(display, screen);
    if (x == CW_USEDEFAULT) x = y = screenWidth / 16;
    if (width == CW_USEDEFAULT) {
        width = screenWidth * 3 / 4;
        height = screenHeight * 3 / 4;
    }
    width = width < 1 ? 1 : width;
    height = height < 1 ? 1 : height;

    const CREATESTRUCTA create = {param, instance, menu, parent, height, width, y, x,
                                  static_cast<LONG>(style), windowName, className, exStyle};
    return platform::CreateFromClass(*windowClass, create);
}

BOOL ShowWindow(HWND handle, int showMode) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return FALSE;
    const BOOL wasVisible = window->mapped ? TRUE : FALSE;
    Display* display = platform::XDisplayIfOpen();
    if (display == nullptr || window->detached) return wasVisible;
    if (window->xid == 0 && (showMode == SW_HIDE || !platform::MakeXWindow(display, *window, nullptr))) {
        return wasVisible;
    }
    if (showMode == SW_HIDE) {
        if (window->mapped) window->hiding = true;
        XUnmapWindow(display, window->xid);
    } else {
        SendMessageA(handle, WM_SHOWWINDOW, TRUE, 0);
        XMapRaised(display, window->xid);
        if (showMode == SW_MINIMIZE || showMode == SW_SHOWMINIMIZED) {
            XIconifyWindow(display, window->xid, DefaultScreen(display));
        }
    }
    XFlush(display);
    return wasVisible;
}

BOOL UpdateWindow(HWND handle) {
    // Nothing is painted outside the frames the program draws itself.
    if (Display* display = platform::XDisplayIfOpen()) XFlush(display);
    return platform::WindowFromHandle(handle) != nullptr ? TRUE : FALSE;
}

BOOL ClientToScreen(HWND handle, POINT* point) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr || point == nullptr) return FALSE;
    if (window->xid == 0) {
        point->x += window->origin.x;
        point->y += window->origin.y;
        return TRUE;
    }
    Display* display = platform::XDisplayIfOpen();
    int x = 0;
    int y = 0;
    ::Window child = 0;
    if (display == nullptr ||
        !XTranslateCoordinates(display, window->xid, DefaultRootWindow(display), point->x, point->y, &x,
                               &y, &child)) {
        return FALSE;
    }
    point->x = x;
    point->y = y;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    platform::RecordCursorMove(x, y);
    Display* display = platform::XDisplayIfOpen();
    if (display == nullptr) return FALSE;
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XFlush(display);
    return TRUE;
}


void platform_test::TranslateXKey(HWND handle, unsigned long keySymbol, unsigned keycode, unsigned state,
                                  bool pressed) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return;
    XEvent event = {};
    event.xkey.type = pressed ? KeyPress : KeyRelease;
    event.xkey.keycode = keycode;
    event.xkey.state = state;
    platform::Translate(window, event, keySymbol);
}

void platform_test::TranslateXButton(HWND handle, unsigned button, unsigned state, bool pressed) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return;
    XEvent event = {};
    event.xbutton.type = pressed ? ButtonPress : ButtonRelease;
    event.xbutton.button = button;
    event.xbutton.state = state;
    platform::Translate(window, event, NoSymbol);
}

void platform_test::TranslateXMapAndSize(HWND handle, int width, int height) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return;
    XEvent event = {};
    if (!window->mapped) {
        event.type = MapNotify;
        platform::Translate(window, event, NoSymbol);
    }
    event = {};
    event.xconfigure.type = ConfigureNotify;
    event.xconfigure.width = width;
    event.xconfigure.height = height;
    platform::Translate(window, event, NoSymbol);
}
