// MessageBoxA: the text on standard error, and a small dialog window with
// the caption as its title, the text and an OK button, waited on until the
// user dismisses it. PONDSIM_MESSAGEBOX changes the wait for unattended
// runs: "stderr" shows no window at all, a number of milliseconds closes
// the window by itself after that long.

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform_state.h"

namespace {

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::vector<std::string> Lines(const char* text) {
    std::vector<std::string> lines(1);
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += *c;
        }
    }
    return lines;
}

struct Dialog {
    Display* display = nullptr;
    ::Window window = 0;
    GC gc = nullptr;
    XFontStruct* font = nullptr;
    std::vector<std::string> lines;
    int width = 0;
    int height = 0;
    int lineHeight = 0;
    XRectangle button = {};

    void Draw() {
        XClearWindow(display, window);
        const unsigned long black = BlackPixel(display, DefaultScreen(display));
        XSetForeground(display, gc, black);
        int y = 20 + font->ascent;
        for (const std::string& line : lines) {
            XDrawString(display, window, gc, 20, y, line.c_str(), static_cast<int>(line.size()));
            y += lineHeight;
        }
        XDrawRectangle(display, window, gc, button.x, button.y, button.width, button.height);
        const int okWidth = XTextWidth(font, "OK", 2);
        XDrawString(display, window, gc, button.x + (button.width - okWidth) / 2,
                    button.y + (button.height + font->ascent - font->descent) / 2, "OK", 2);
        XFlush(display);
    }
};

// Shows the dialog until it is dismissed, or for `timeoutMs` when that is
// not negative.
void RunDialog(Display* display, const char* text, const char* caption, long timeoutMs) {
    Dialog dialog;
    dialog.display = display;
    dialog.lines = Lines(text);
    dialog.font = XLoadQueryFont(display, "fixed");
    if (dialog.font == nullptr) return;
    dialog.lineHeight = dialog.font->ascent + dialog.font->descent + 2;
    int textWidth = 0;
    for (const std::string& line : dialog.lines) {
        const int width = XTextWidth(dialog.font, line.c_str(), static_cast<int>(line.size()));
        textWidth = width > textWidth ? width : textWidth;
    }
    dialog.width = std::max(textWidth + 40, 200);
    const int textHeight = static_cast<int>(dialog.lines.size()) * dialog.lineHeight;
    dialog.button = {static_cast<short>(dialog.width / 2 - 40), static_cast<short>(20 + textHeight + 16), 80, 26};
    dialog.height = dialog.button.y + dialog.button.height + 16;

    const int screen = DefaultScreen(display);
    const int x = (DisplayWidth(display, screen) - dialog.width) / 2;
    const int y = (DisplayHeight(display, screen) - dialog.height) / 2;
    dialog.window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y,
                                        static_cast<unsigned>(dialog.width),
                                        static_cast<unsigned>(dialog.height), 1,
                                        BlackPixel(display, screen), 0xF0F0F0);
    XStoreName(display, dialog.window, caption);
    XClassHint hint;
    std::string name = "message-box";
    std::string windowClass = "#32770";  // the class Windows gives its dialogs
    hint.res_name = name.data();
    hint.res_class = windowClass.data();
    XSetClassHint(display, dialog.window, &hint);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, dialog.window, &deleteWindow, 1);
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    Atom dialogType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, dialog.window, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dialogType), 1);
    const long pid = getpid();
    XChangeProperty(display, dialog.window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    XSelectInput(display, dialog.window, ExposureMask | KeyPressMask | ButtonPressMask);
    dialog.gc = XCreateGC(display, dialog.window, 0, nullptr);
    XSetFont(display, dialog.gc, dialog.font->fid);
    XMapRaised(display, dialog.window);
    XFlush(display);

    const long long deadline = timeoutMs >= 0 ? NowMs() + timeoutMs : 0;
    for (bool done = false; !done;) {
        while (!done && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == Expose && event.xexpose.count == 0) dialog.Draw();
            if (event.type == KeyPress) {
                const KeySym key = XLookupKeysym(&event.xkey, 0);
                done = key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space;
            }
            if (event.type == ButtonPress) {
                const XRectangle& b = dialog.button;
                done = event.xbutton.x >= b.x && event.xbutton.x < b.x + b.width &&
                       event.xbutton.y >= b.y && event.xbutton.y < b.y + b.height;
            }
            if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
                done = true;
            }
        }
        if (done) break;
        int wait = -1;
        if (timeoutMs >= 0) {
            const long long left = deadline - NowMs();
            if (left <= 0) break;
            wait = static_cast<int>(left);
        }
        pollfd descriptor = {ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, wait);
    }
    XFreeGC(display, dialog.gc);
    XFreeFont(display, dialog.font);
    XDestroyWindow(display, dialog.window);
    XFlush(display);
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    if (text == nullptr) text = "";
    if (caption == nullptr) caption = "Error";
    platform::RecordMessageBox(text, caption, type);
    std::fprintf(stderr, "%s: message box \"%s\": %s\n", platform::ProgramName(), caption, text);
    std::fflush(stderr);

    const char* mode = std::getenv("PONDSIM_MESSAGEBOX");
    long timeoutMs = -1;
    if (mode != nullptr && std::strcmp(mode, "stderr") == 0) return IDOK;
    if (mode != nullptr && *mode != '\0') {
        char* end = nullptr;
        timeoutMs = std::strtol(mode, &end, 10);
        if (*end != '\0' || timeoutMs < 0) timeoutMs = -1;
    }
    // A connection of its own: the dialog's events never mix with the
    // program's window, whose queue waits until the box is gone.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return IDOK;
    RunDialog(display, text, caption, timeoutMs);
    XCloseDisplay(display);
    return IDOK;
}
