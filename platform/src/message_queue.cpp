// The class table, the windows, the thread's message queue and its timers:
// what every stand-in of the Win32 subset shares (message_queue.h).

#include "message_queue.h"

#include <strings.h>
#include <time.h>

#include <algorithm>

#include "platform_test.h"

namespace platform {
namespace {

struct Timer {
    WindowRecord* window;
    UINT_PTR id;
    UINT periodMs;
    TIMERPROC procedure;
    uint64_t dueMs;
};

std::vector<WindowClass> classes;
std::deque<MSG> posted;
std::deque<MSG> input;
std::vector<Timer> timers;
// The keys as the key messages taken from the queue so far tell them, for
// GetKeyState; keyHeld runs ahead of it by what is still waiting.
bool keyTaken[256] = {};
bool quitPosted = false;
int quitCode = 0;

bool Matches(const MSG& message, HWND filter, UINT low, UINT high) {
    if (filter != nullptr && message.hwnd != filter) return false;
    if (low == 0 && high == 0) return true;
    return message.message >= low && message.message <= high;
}

// The input message for a window: time and cursor position filled as
// GetMessageA gives them.
MSG MakeMessage(WindowRecord& window, UINT message, WPARAM wParam, LPARAM lParam, POINT screen) {
    MSG result = {};
    result.hwnd = HandleOf(&window);
    result.message = message;
    result.wParam = wParam;
    result.lParam = lParam;
    result.time = static_cast<DWORD>(NowMs());
    result.pt = screen;
    return result;
}

bool IsExtendedKey(WPARAM key) {
    return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE;
}

LPARAM ClientPoint(POINT point) {
    // Outside the client area (a drag past its edge) the words carry the
    // negative coordinates in two's complement, as on Windows.
    return MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y));
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
        if (!remove) return true;
        input.erase(it);
        const UINT kind = out->message;
        if ((kind == WM_KEYDOWN || kind == WM_KEYUP || kind == WM_SYSKEYDOWN || kind == WM_SYSKEYUP) &&
            out->wParam < 256) {
            keyTaken[out->wParam] = kind == WM_KEYDOWN || kind == WM_SYSKEYDOWN;
        }
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

}  // namespace

std::vector<std::unique_ptr<WindowRecord>> windows;
bool keyHeld[256] = {};
WPARAM buttonsHeld = 0;

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

WindowRecord* NewWindow(const WindowClass& windowClass, LPCSTR title) {
    WindowRecord* window = windows.emplace_back(std::make_unique<WindowRecord>()).get();
    window->live = true;
    window->procedure = windowClass.procedure;
    window->className = windowClass.name;
    window->title = title != nullptr ? title : "";
    window->deviceContext.window = window;
    return window;
}

HWND CreateFromClass(const WindowClass& windowClass, const CREATESTRUCTA& create) {
    WindowRecord* window = NewWindow(windowClass, create.lpszName);
    window->width = create.cx;
    window->height = create.cy;
    window->origin = {create.x, create.y};

    const HWND handle = HandleOf(window);
    CREATESTRUCTA copy = create;
    const LPARAM createParam = reinterpret_cast<LPARAM>(&copy);
    if (SendMessageA(handle, WM_NCCREATE, 0, createParam) == 0 ||
        SendMessageA(handle, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    // As on Windows, the window learns its size before it is first shown.
    ReportSize(*window, SIZE_RESTORED, window->width, window->height);
    return handle;
}

WindowRecord* WindowFromHandle(HWND handle) {
    for (const auto& window : windows) {
        if (HandleOf(window.get()) == handle) return window->live ? window.get() : nullptr;
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

void ReportSize(WindowRecord& window, WPARAM kind, int width, int height) {
    const WORD w = static_cast<WORD>(width);
    const WORD h = static_cast<WORD>(height);
    if (w == window.reportedWidth && h == window.reportedHeight) return;
    window.reportedWidth = w;
    window.reportedHeight = h;
    SendMessageA(HandleOf(&window), WM_SIZE, kind, MAKELPARAM(w, h));
}

void QueueKey(WindowRecord& window, WPARAM key, int scanCode, bool pressed, bool alt, POINT screen) {
    if (key == 0 || key > 255) return;
    const bool wasHeld = keyHeld[key];
    keyHeld[key] = pressed;
    // Alt, F10 and anything pressed with Alt held are system keys.
    alt = alt || keyHeld[VK_MENU];
    const bool system = alt || key == VK_F10 || key == VK_MENU;
    LPARAM lParam = 1;  // repeat count
    lParam |= static_cast<LPARAM>(scanCode & 0xff) << 16;
    if (IsExtendedKey(key)) lParam |= LPARAM{1} << 24;
    if (alt) lParam |= LPARAM{1} << 29;
    if (wasHeld || !pressed) lParam |= LPARAM{1} << 30;
    if (!pressed) lParam |= LPARAM{1} << 31;
    const UINT message = system ? (pressed ? WM_SYSKEYDOWN : WM_SYSKEYUP)
                                : (pressed ? WM_KEYDOWN : WM_KEYUP);
    input.push_back(MakeMessage(window, message, key, lParam, screen));
}

void QueueButton(WindowRecord& window, int button, bool pressed, WPARAM modifiers, POINT client,
                 POINT screen) {
    // Left, middle, right, as X numbers them.
    static constexpr WPARAM kBits[] = {MK_LBUTTON, MK_MBUTTON, MK_RBUTTON};
    static constexpr UINT kDown[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
    if (button < 1 || button > 3) return;
    const WPARAM bit = kBits[button - 1];
    const UINT message = kDown[button - 1] + (pressed ? 0 : 1);
    if (pressed) {
        buttonsHeld |= bit;
    } else {
        buttonsHeld &= ~bit;
    }
    input.push_back(MakeMessage(window, message, buttonsHeld | modifiers, ClientPoint(client), screen));
}

void QueueWheel(WindowRecord& window, int delta, WPARAM modifiers, POINT screen) {
    const WPARAM wParam = buttonsHeld | modifiers | (static_cast<WPARAM>(static_cast<WORD>(delta)) << 16);
    input.push_back(MakeMessage(window, WM_MOUSEWHEEL, wParam, ClientPoint(screen), screen));
}

void QueueMouseMove(WindowRecord& window, WPARAM modifiers, POINT client, POINT screen) {
    const MSG message = MakeMessage(window, WM_MOUSEMOVE, buttonsHeld | modifiers, ClientPoint(client), screen);
    // Windows keeps at most the latest movement waiting in the queue.
    if (!input.empty() && input.back().message == WM_MOUSEMOVE && input.back().hwnd == message.hwnd) {
        input.back() = message;
    } else {
        input.push_back(message);
    }
}

int MillisecondsToNextTimer() {
    if (timers.empty()) return -1;
    uint64_t next = timers.front().dueMs;
    for (const Timer& timer : timers) next = timer.dueMs < next ? timer.dueMs : next;
    const uint64_t now = NowMs();
    return next <= now ? 0 : static_cast<int>(next - now);
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

HDC GetDC(HWND handle) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    return window != nullptr ? reinterpret_cast<HDC>(&window->deviceContext) : nullptr;
}

int ReleaseDC(HWND handle, HDC deviceContext) {
    // The window's own device context (CS_OWNDC) stays with the window.
    WindowRecord* window = platform::WindowFromHandle(handle);
    return window != nullptr && reinterpret_cast<HDC>(&window->deviceContext) == deviceContext ? 1 : 0;
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
    platform::ForgetNativeWindow(*window);
    return TRUE;
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
        platform::WaitForEvents(platform::MillisecondsToNextTimer());
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
    } else if (key == VK_OEM_PERIOD || key == VK_OEM_MINUS) {
        // With the digits, what a number typed into a field needs; what
        // Shift makes of them depends on the keyboard layout, so they stay.
        character = key == VK_OEM_PERIOD ? '.' : '-';
    }
    if (character == 0) return FALSE;
    const UINT charMessage = message->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    PostMessageA(message->hwnd, charMessage, static_cast<WPARAM>(character), message->lParam);
    return TRUE;
}

SHORT GetKeyState(int key) {
    if (key < 0 || key > 255) return 0;
    return platform::keyTaken[key] ? static_cast<SHORT>(0x8000u) : SHORT{0};
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

HWND platform_test::CreateDetachedWindow(WNDPROC procedure, POINT screenOrigin, int width, int height) {
    const platform::WindowClass detached = {"detached", procedure, nullptr};
    WindowRecord* window = platform::NewWindow(detached, "");
    window->detached = true;
    window->origin = screenOrigin;
    window->width = width;
    window->height = height;
    return HandleOf(window);
}
