// The one window of a page: the canvas that fills it. Browser events become
// the Win32 messages the shell reads (message_queue.cpp keeps the queue):
// keys with their virtual-key codes, buttons, pointer motion, size changes.
// The event handlers only queue; the window procedure runs when the
// program's own loop takes the messages, never inside a browser event.

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cmath>
#include <cstdlib>

#include "message_queue.h"

namespace platform {
namespace {

constexpr const char* kCanvas = "#canvas";

WindowRecord* pageWindow = nullptr;
bool sizeChanged = false;
// The cursor the window procedure sees. Browsers never move the real one,
// so SetCursorPos moves this one; while the left button is held it follows
// the mouse's relative motion (under Pointer Lock, when the browser grants
// it), so the mouse look can put it back on the centre after every turn.
POINT virtualCursor = {0, 0};
POINT lastClient = {0, 0};

// The program waits here (an empty queue in GetMessageA, a message box) and
// the next browser event ends the wait early.
EM_JS(void, PondsimWakeProgram, (), {
    if (Module.pondsimWake) setTimeout(Module.pondsimWake, 0);
});

EM_ASYNC_JS(void, PondsimWait, (int timeoutMs), {
    await new Promise(resolve => {
        let done = false;
        const finish = () => {
            if (done) return;
            done = true;
            Module.pondsimWake = null;
            resolve();
        };
        Module.pondsimWake = finish;
        if (timeoutMs >= 0) setTimeout(finish, timeoutMs);
    });
});

WindowRecord* LiveWindow() {
    return pageWindow != nullptr && pageWindow->live ? pageWindow : nullptr;
}

// The canvas's drawing buffer keeps to its size on the page.
void FitCanvas(WindowRecord& window) {
    double cssWidth = 0.0;
    double cssHeight = 0.0;
    emscripten_get_element_css_size(kCanvas, &cssWidth, &cssHeight);
    const int width = static_cast<int>(std::lround(cssWidth));
    const int height = static_cast<int>(std::lround(cssHeight));
    emscripten_set_canvas_element_size(kCanvas, width, height);
    window.width = width;
    window.height = height;
}

WPARAM ModifierFlags(bool shift, bool control) {
    WPARAM flags = 0;
    if (shift) flags |= MK_SHIFT;
    if (control) flags |= MK_CONTROL;
    return flags;
}

// A browser's keyCode is the Windows virtual-key code for every key the
// programs read (arrows, Enter, Shift, Control, Escape, Home, Space, the
// point), and for letters and digits; only Firefox numbers the minus key
// its own way.
EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* event, void*) {
    WindowRecord* window = LiveWindow();
    if (window == nullptr) return EM_FALSE;
    const WPARAM key = event->keyCode == 173 ? VK_OEM_MINUS : event->keyCode;
    if (key == 0 || key > 255) return EM_FALSE;
    QueueKey(*window, key, 0, type == EMSCRIPTEN_EVENT_KEYDOWN, event->altKey != 0, virtualCursor);
    PondsimWakeProgram();
    // Arrows and the rest would scroll the page or move the focus.
    return EM_TRUE;
}

EM_BOOL OnMouseButton(int type, const EmscriptenMouseEvent* event, void*) {
    WindowRecord* window = LiveWindow();
    if (window == nullptr) return EM_FALSE;
    // Browsers number the buttons left 0, middle 1, right 2.
    static constexpr int kButtons[] = {1, 2, 3};
    if (event->button > 2) return EM_FALSE;
    const bool pressed = type == EMSCRIPTEN_EVENT_MOUSEDOWN;
    if (pressed && (buttonsHeld & (MK_LBUTTON | MK_MBUTTON | MK_RBUTTON)) == 0) {
        virtualCursor = {event->targetX, event->targetY};
    }
    lastClient = {event->targetX, event->targetY};
    const int button = kButtons[event->button];
    QueueButton(*window, button, pressed, ModifierFlags(event->shiftKey, event->ctrlKey), virtualCursor,
                virtualCursor);
    if (button == 1) {
        if (pressed) {
            emscripten_request_pointerlock(kCanvas, EM_FALSE);
        } else {
            emscripten_exit_pointerlock();
        }
    }
    PondsimWakeProgram();
    return EM_TRUE;
}

EM_BOOL OnMouseMove(int, const EmscriptenMouseEvent* event, void*) {
    WindowRecord* window = LiveWindow();
    if (window == nullptr) return EM_FALSE;
    EmscriptenPointerlockChangeEvent lock = {};
    const bool locked = emscripten_get_pointerlock_status(&lock) == EMSCRIPTEN_RESULT_SUCCESS && lock.isActive;
    const POINT client = {event->targetX, event->targetY};
    if ((buttonsHeld & MK_LBUTTON) != 0) {
        // Under Pointer Lock the position stands still and only the motion
        // is told; without it the motion is the step between two positions.
        virtualCursor.x += locked ? event->movementX : client.x - lastClient.x;
        virtualCursor.y += locked ? event->movementY : client.y - lastClient.y;
    } else {
        virtualCursor = client;
    }
    lastClient = client;
    QueueMouseMove(*window, ModifierFlags(event->shiftKey, event->ctrlKey), virtualCursor, virtualCursor);
    PondsimWakeProgram();
    return EM_FALSE;
}

// One notch a turn, whatever the browser's unit, as X tells the wheel; up
// (away from the user) is positive on Windows and negative in a browser.
EM_BOOL OnWheel(int, const EmscriptenWheelEvent* event, void*) {
    WindowRecord* window = LiveWindow();
    if (window == nullptr || event->deltaY == 0.0) return EM_FALSE;
    QueueWheel(*window, event->deltaY < 0.0 ? WHEEL_DELTA : -WHEEL_DELTA,
               ModifierFlags(event->mouse.shiftKey, event->mouse.ctrlKey), virtualCursor);
    PondsimWakeProgram();
    // The page itself never scrolls, and Ctrl+wheel would zoom it.
    return EM_TRUE;
}

EM_BOOL OnResize(int, const EmscriptenUiEvent*, void*) {
    sizeChanged = true;
    PondsimWakeProgram();
    return EM_FALSE;
}

void ListenToPage() {
    const char* document = EMSCRIPTEN_EVENT_TARGET_DOCUMENT;
    emscripten_set_keydown_callback(document, nullptr, EM_FALSE, OnKey);
    emscripten_set_keyup_callback(document, nullptr, EM_FALSE, OnKey);
    emscripten_set_mousedown_callback(kCanvas, nullptr, EM_FALSE, OnMouseButton);
    // Releases and motion anywhere: a drag may leave the canvas.
    emscripten_set_mouseup_callback(document, nullptr, EM_FALSE, OnMouseButton);
    emscripten_set_mousemove_callback(document, nullptr, EM_FALSE, OnMouseMove);
    emscripten_set_wheel_callback(kCanvas, nullptr, EM_FALSE, OnWheel);
    emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, OnResize);
}

EM_JS(void, PondsimSetTitle, (const char* title), {
    document.title = UTF8ToString(title);
});

// A page has no environment of its own: the fault switch PONDSIM_FAIL
// (message_queue.h) comes from its address, as in pondsim.html?PONDSIM_FAIL=RegisterClassA.
EM_JS(int, PondsimFailSwitch, (char* buffer, int size), {
    const value = new URLSearchParams(location.search).get('PONDSIM_FAIL');
    if (!value) return 0;
    stringToUTF8(value, buffer, size);
    return 1;
});

const bool failSwitchRead = [] {
    char value[256];
    if (PondsimFailSwitch(value, sizeof value) != 0) setenv("PONDSIM_FAIL", value, 1);
    return true;
}();

}  // namespace

void PumpEvents() {
    WindowRecord* window = LiveWindow();
    if (window == nullptr || !sizeChanged) return;
    sizeChanged = false;
    FitCanvas(*window);
    ReportSize(*window, SIZE_RESTORED, window->width, window->height);
}

void WaitForEvents(int timeoutMs) {
    PondsimWait(timeoutMs);
}

void ForgetNativeWindow(WindowRecord& window) {
    if (&window == pageWindow) pageWindow = nullptr;
}

}  // namespace platform

using platform::WindowRecord;

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
    const platform::WindowClass* windowClass = platform::FindClass(className);
    // A page has one canvas, so it shows one window.
    if (windowClass == nullptr || platform::LiveWindow() != nullptr) return nullptr;
    // The window is where the page puts the canvas, at the size the page
    // gives it; the place and size asked for do not apply.
    static_cast<void>(x);
    static_cast<void>(y);
    static_cast<void>(width);
    static_cast<void>(height);
    static bool listening = false;
    if (!listening) {
        platform::ListenToPage();
        listening = true;
    }
    platform::PondsimSetTitle(windowName != nullptr ? windowName : "");
    WindowRecord size;
    platform::FitCanvas(size);
    const CREATESTRUCTA create = {param, instance, menu, parent, size.height, size.width, 0, 0,
                                  static_cast<LONG>(style), windowName, className, exStyle};
    const HWND handle = platform::CreateFromClass(*windowClass, create);
    platform::pageWindow = platform::WindowFromHandle(handle);
    return handle;
}

BOOL ShowWindow(HWND handle, int) {
    WindowRecord* window = platform::WindowFromHandle(handle);
    if (window == nullptr) return FALSE;
    const BOOL wasVisible = window->mapped ? TRUE : FALSE;
    // The canvas is always on the page: showing it changes nothing.
    if (!window->mapped) SendMessageA(handle, WM_SHOWWINDOW, TRUE, 0);
    window->mapped = true;
    return wasVisible;
}

BOOL UpdateWindow(HWND handle) {
    return platform::WindowFromHandle(handle) != nullptr ? TRUE : FALSE;
}

// The canvas sits at the page's top left corner, so the page is the screen.
BOOL ClientToScreen(HWND handle, POINT* point) {
    return platform::WindowFromHandle(handle) != nullptr && point != nullptr ? TRUE : FALSE;
}

BOOL SetCursorPos(int x, int y) {
    platform::RecordCursorMove(x, y);
    platform::virtualCursor = {x, y};
    // As on Windows, a cursor that moved tells the window under it.
    if (WindowRecord* window = platform::LiveWindow()) {
        platform::QueueMouseMove(*window, 0, platform::virtualCursor, platform::virtualCursor);
    }
    return TRUE;
}
