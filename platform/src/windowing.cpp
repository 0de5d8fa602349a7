// Window classes, the one kind of top-level window, the thread's message
// queue and timers, over Xlib. X events become the Win32 messages the shell
// reads: keys with their virtual-key codes, buttons, pointer motion, size
// changes, the window manager's close request.

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <poll.h>
#include <unistd.h>
#include <strings.h>
#include <time.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform_state.h"
#include "platform_test.h"

namespace platform {
namespace {

struct WindowClass {
    std::string name;
    WNDPROC procedure;
    HINSTANCE instance;
};

struct Timer {
    WindowRecord* window;
    UINT_PTR id;
    UINT periodMs;
    TIMERPROC procedure;
    uint64_t dueMs;
};

std::vector<WindowClass> classes;
// Windows are freed only at exit: a handle kept after destruction (the
// shell's device context) stays safe to pass, and is then simply not live.
std::vector<std::unique_ptr<WindowRecord>> windows;
std::deque<MSG> posted;
std::deque<MSG> input;
std::vector<Timer> timers;
bool quitPosted = false;
int quitCode = 0;

bool keyHeld[256] = {};
WPARAM buttonsHeld = 0;  // MK_LBUTTON, MK_MBUTTON, MK_RBUTTON

Atom wmProtocols = 0;
Atom wmDeleteWindow = 0;

uint64_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

const WindowClass* FindClass(LPCSTR name) {
    if (name == nullptr) return nullptr;
    for (const WindowClass& entry : classes) {
        if (strcasecmp(entry.name.c_str(), name) == 0) return &entry;
    }
    return nullptr;
}

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
void ReportSize(WindowRecord& window, WPARAM kind, int width, int height) {
    const WORD w = static_cast<WORD>(width);
    const WORD h = static_cast<WORD>(height);
    if (w == window.reportedWidth && h == window.reportedHeight) return;
    window.reportedWidth = w;
    window.reportedHeight = h;
    SendMessageA(HandleOf(&window), WM_SIZE, kind, MAKELPARAM(w, h));
}

bool Matches(const MSG& message, HWND filter, UINT low, UINT high) {
    if (filter != nullptr && message.hwnd != filter) return false;
    if (low == 0 && high == 0) return true;
    return message.message >= low && message.message <= high;
}

// The input message for a window: time and cursor position filled as
// GetMessageA gives them.
MSG MakeMessage(WindowRecord& window, UINT message, WPARAM wParam, LPARAM lParam, int rootX, int rootY) {
    MSG result = {};
    result.hwnd = HandleOf(&window);
    result.message = message;
    result.wParam = wParam;
    result.lParam = lParam;
    result.time = static_cast<DWORD>(NowMs());
    result.pt = {rootX, rootY};
    return result;
}

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

bool IsExtendedKey(WPARAM key) {
    return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE;
}

void TranslateKey(WindowRecord& window, const XKeyEvent& event, bool pressed) {
    XKeyEvent copy = event;
    const WPARAM key = VirtualKey(XLookupKeysym(&copy, 0));
    if (key == 0) return;
    const bool wasHeld = keyHeld[key];
    keyHeld[key] = pressed;
    // Alt, F10 and anything pressed with Alt held are system keys.
    const bool alt = (event.state & Mod1Mask) != 0 || keyHeld[VK_MENU];
    const bool system = alt || key == VK_F10 || key == VK_MENU;
    LPARAM lParam = 1;  // repeat count
    lParam |= static_cast<LPARAM>((event.keycode - 8) & 0xff) << 16;
    if (IsExtendedKey(key)) lParam |= LPARAM{1} << 24;
    if (alt) lParam |= LPARAM{1} << 29;
    if (wasHeld || !pressed) lParam |= LPARAM{1} << 30;
    if (!pressed) lParam |= LPARAM{1} << 31;
    const UINT message = system ? (pressed ? WM_SYSKEYDOWN : WM_SYSKEYUP)
                                : (pressed ? WM_KEYDOWN : WM_KEYUP);
    input.push_back(MakeMessage(window, message, key, lParam, event.x_root, event.y_root));
}

WPARAM ModifierFlags(unsigned state) {
    WPARAM flags = buttonsHeld;
    if ((state & ShiftMask) != 0) flags |= MK_SHIFT;
    if ((state & ControlMask) != 0) flags |= MK_CONTROL;
    return flags;
}

LPARAM ClientPoint(int x, int y) {
    // Outside the client area (a drag past its edge) the words carry the
    // negative coordinates in two's complement, as on Windows.
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

void TranslateButton(WindowRecord& window, const XButtonEvent& event, bool pressed) {
    WPARAM bit = 0;
    UINT message = 0;
    switch (event.button) {
    case Button1: bit = MK_LBUTTON; message = pressed ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
    case Button2: bit = MK_MBUTTON; message = pressed ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
    case Button3: bit = MK_RBUTTON; message = pressed ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
    case Button4:
    case Button5: {
        if (!pressed) return;
        const int delta = event.button == Button4 ? WHEEL_DELTA : -WHEEL_DELTA;
        const WPARAM wParam = ModifierFlags(event.state) | (static_cast<WPARAM>(static_cast<WORD>(delta)) << 16);
        input.push_back(MakeMessage(window, WM_MOUSEWHEEL, wParam, ClientPoint(event.x_root, event.y_root),
                                    event.x_root, event.y_root));
        return;
    }
    default: return;
    }
    if (pressed) {
        buttonsHeld |= bit;
    } else {
        buttonsHeld &= ~bit;
    }
    input.push_back(MakeMessage(window, message, ModifierFlags(event.state), ClientPoint(event.x, event.y),
                                event.x_root, event.y_root));
}

void TranslateMotion(WindowRecord& window, const XMotionEvent& event) {
    const MSG message = MakeMessage(window, WM_MOUSEMOVE, ModifierFlags(event.state),
                                    ClientPoint(event.x, event.y), event.x_root, event.y_root);
    // Windows keeps at most the latest movement waiting in the queue.
    if (!input.empty() && input.back().message == WM_MOUSEMOVE && input.back().hwnd == message.hwnd) {
        input.back() = message;
    } else {
        input.push_back(message);
    }
}

void Translate(const XEvent& event) {
    WindowRecord* window = WindowFromXid(event.xany.window);
    if (window == nullptr) return;
    switch (event.type) {
    case KeyPress: TranslateKey(*window, event.xkey, true); break;
    case KeyRelease: TranslateKey(*window, event.xkey, false); break;
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

// Takes every X event already received, without waiting.
void PumpEvents() {
    Display* display = XDisplayIfOpen();
    if (display == nullptr) return;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        Translate(event);
    }
}

Timer* DueTimer(HWND filter, uint64_t now) {
    Timer* due = nullptr;
    for (Timer& timer : timers) {
        if (filter != nullptr && HandleOf(timer.window) != filter) continue;
        if (timer.dueMs <= now && (due == nullptr || timer.dueMs < due->dueMs)) due = &timer;
    }
    return due;
}

// The next message in Windows' order: posted, quit, input, timers.
bool NextMessage(MSG* out, HWND filter, UINT low, UINT high, bool remove) {
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (!Matches(*it, filter, low, high)) continue;
        *out = *it;
        if (remove) posted.erase(it);
        return true;
    }
    if (quitPosted) {
        *out = {};
        out->message = WM_QUIT;
        out->wParam = static_cast<WPARAM>(quitCode);
        out->time = static_cast<DWORD>(NowMs());
        if (remove) quitPosted = false;
        return true;
    }
    for (auto it = input.begin(); it != input.end(); ++it) {
        if (!Matches(*it, filter, low, high)) continue;
        *out = *it;
        if (remove) input.erase(it);
        return true;
    }
    if ((low == 0 && high == 0) || (WM_TIMER >= low && WM_TIMER <= high)) {
        const uint64_t now = NowMs();
        if (Timer* timer = DueTimer(filter, now)) {
            *out = {};
            out->hwnd = HandleOf(timer->window);
            out->message = WM_TIMER;
            out->wParam = timer->id;
            out->lParam = reinterpret_cast<LPARAM>(timer->procedure);
            out->time = static_cast<DWORD>(now);
            // No backlog: a late tick is one tick, the next is a period on.
            if (remove) timer->dueMs = now + timer->periodMs;
            return true;
        }
    }
    return false;
}

// Sleeps until an X event arrives or the next timer is due.
void WaitForMessage() {
    int timeout = -1;
    if (!timers.empty()) {
        uint64_t next = timers.front().dueMs;
        for (const Timer& timer : timers) next = timer.dueMs < next ? timer.dueMs : next;
        const uint64_t now = NowMs();
        timeout = next <= now ? 0 : static_cast<int>(next - now);
    }
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

WindowRecord* NewWindow(const WindowClass& windowClass, LPCSTR title) {
    WindowRecord* window = windows.emplace_back(std::make_unique<WindowRecord>()).get();
    window->live = true;
    window->procedure = windowClass.procedure;
    window->className = windowClass.name;
    window->title = title != nullptr ? title : "";
    window->deviceContext.window = window;
    return window;
}

}  // namespace

WindowRecord* WindowFromHandle(HWND handle) {
    for (const auto& window : windows) {
        if (HandleOf(window.get()) == handle) return window->live ? window.get() : nullptr;
    }
    return nullptr;
}

WindowRecord* WindowFromXid(::Window xid) {
    if (xid == 0) return nullptr;
    for (const auto& window : windows) {
        if (window->live && window->xid == xid) return window.get();
    }
    return nullptr;
}

WindowRecord* WindowFromDeviceContext(HDC deviceContext) {
    for (const auto& window : windows) {
        if (reinterpret_cast<HDC>(&window->deviceContext) == deviceContext) {
            return window->live ? window.get() : nullptr;
        }
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

HMODULE GetModuleHandleA(LPCSTR) {
    // Any non-null value serves: the instance only travels with the class.
    static char module;
    return reinterpret_cast<HMODULE>(&module);
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (platform::Fails("RegisterClassA")) return 0;
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpfnWndProc == nullptr) {
        return 0;
    }
    if (platform::FindClass(windowClass->lpszClassName) != nullptr) return 0;  // already registered
    platform::classes.push_back({windowClass->lpszClassName, windowClass->lpfnWndProc, windowClass->hInstance});
    return static_cast<ATOM>(0xC000 + platform::classes.size());
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    if (platform::Fails("UnregisterClassA")) return FALSE;
    for (auto it = platform::classes.begin(); it != platform::classes.end(); ++it) {
        if (strcasecmp(it->name.c_str(), className) != 0) continue;
        for (const auto& window : platform::windows) {
            if (window->live && window->className == it->name) return FALSE;  // still in use
        }
        platform::classes.erase(it);
        return TRUE;
    }
    return FALSE;
}

// The programs ship neither an icon nor an accelerator table, and the arrow
// is the X server's own cursor: every look-up gives the null handle.
HICON LoadIconA(HINSTANCE, LPCSTR) { return nullptr; }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return nullptr; }
HACCEL LoadAcceleratorsA(HINSTANCE, LPCSTR) { return nullptr; }
int TranslateAcceleratorA(HWND, HACCEL, MSG*) { return 0; }

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

    WindowRecord* window = platform::NewWindow(*windowClass, windowName);
    window->width = width;
    window->height = height;
    window->origin = {x, y};

    const HWND handle = HandleOf(window);
    CREATESTRUCTA create = {param,  instance, menu,      parent,    height,   width,
                            y,      x,        static_cast<LONG>(style), windowName, className, exStyle};
    const LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (SendMessageA(handle, WM_NCCREATE, 0, createParam) == 0 ||
        SendMessageA(handle, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    // As on Windows, the window learns its size before it is first shown.
    platform::ReportSize(*window, SIZE_RESTORED, window->width, window->height);
    return handle;
}

BOOL DestroyWindow(HWND handle) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr || window->destroying) return FALSE;
    window->destroying = true;
    SendMessageA(handle, WM_DESTROY, 0, 0);
    SendMessageA(handle, WM_NCDESTROY, 0, 0);
    window->live = false;
    std::erase_if(platform::timers, [window](const platform::Timer& timer) { return timer.window == window; });
    std::erase_if(platform::posted, [handle](const MSG& message) { return message.hwnd == handle; });
    std::erase_if(platform::input, [handle](const MSG& message) { return message.hwnd == handle; });
    Display* display = platform::XDisplayIfOpen();
    if (display != nullptr && window->xid != 0) {
        XDestroyWindow(display, window->xid);
        if (window->colormap != 0) XFreeColormap(display, window->colormap);
        XFlush(display);
    }
    window->xid = 0;
    window->colormap = 0;
    return TRUE;
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

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeMode) {
    platform::PumpEvents();
    return platform::NextMessage(message, window, filterMin, filterMax, (removeMode & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    if (message == nullptr || (window != nullptr && platform::WindowFromHandle(window) == nullptr)) {
        return -1;
    }
    for (;;) {
        platform::PumpEvents();
        if (platform::NextMessage(message, window, filterMin, filterMax, true)) {
            return message->message == WM_QUIT ? FALSE : TRUE;
        }
        platform::WaitForMessage();
    }
}

BOOL TranslateMessage(const MSG* message) {
    if (message == nullptr) return FALSE;
    if (message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN) return FALSE;
    const WPARAM key = message->wParam;
    char character = 0;
    if (key >= 'A' && key <= 'Z') {
        character = static_cast<char>(platform::keyHeld[VK_SHIFT] ? key : key - 'A' + 'a');
    } else if ((key >= '0' && key <= '9') || key == VK_SPACE || key == VK_RETURN ||
               key == VK_ESCAPE || key == VK_TAB || key == VK_BACK) {
        character = static_cast<char>(key);
    }
    if (character == 0) return FALSE;
    const UINT charMessage = message->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    PostMessageA(message->hwnd, charMessage, static_cast<WPARAM>(character), message->lParam);
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (message == nullptr) return 0;
    if (message->message == WM_TIMER && message->lParam != 0) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam, message->time);
        return 0;
    }
    return SendMessageA(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return 0;
    return window->procedure(handle, message, wParam, lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle != nullptr && platform::WindowFromHandle(handle) == nullptr) return FALSE;
    MSG entry = {};
    entry.hwnd = handle;
    entry.message = message;
    entry.wParam = wParam;
    entry.lParam = lParam;
    entry.time = static_cast<DWORD>(platform::NowMs());
    platform::posted.push_back(entry);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    platform::quitPosted = true;
    platform::quitCode = exitCode;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    platform::RecordDefWindowProc(handle, message, wParam, lParam);
    switch (message) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(handle); return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(handle, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(handle, SW_MINIMIZE); break;
        case SC_RESTORE: ShowWindow(handle, SW_SHOWNORMAL); break;
        default: break;
        }
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 closes the window, as the system menu's default does.
        if (wParam == VK_F4 && (lParam & (LPARAM{1} << 29)) != 0) {
            PostMessageA(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    default: return 0;
    }
}

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT periodMs, TIMERPROC procedure) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return 0;  // thread timers are not needed here
    periodMs = periodMs < 10 ? 10 : periodMs;  // USER_TIMER_MINIMUM
    const uint64_t due = platform::NowMs() + periodMs;
    for (platform::Timer& timer : platform::timers) {
        if (timer.window == window && timer.id == id) {
            timer = {window, id, periodMs, procedure, due};
            return id;
        }
    }
    platform::timers.push_back({window, id, periodMs, procedure, due});
    return id;
}

BOOL KillTimer(HWND handle, UINT_PTR id) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    return std::erase_if(platform::timers,
                         [&](const platform::Timer& timer) { return timer.window == window && timer.id == id; }) != 0
               ? TRUE
               : FALSE;
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

HWND platform_test::CreateDetachedWindow(WNDPROC procedure, POINT screenOrigin, int width, int height) {
    const platform::WindowClass detached = {"detached", procedure, nullptr};
    WindowRecord* window = platform::NewWindow(detached, "");
    window->detached = true;
    window->origin = screenOrigin;
    window->width = width;
    window->height = height;
    return HandleOf(window);
}
