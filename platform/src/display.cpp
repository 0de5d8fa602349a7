#include "platform_state.h"

#include <X11/XKBlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>


namespace platform {
namespace {

Display* display = nullptr;
bool displayTried = false;

bool trapping = false;
int trappedErrors = 0;

int OnXError(Display* connection, XErrorEvent* error) {
    if (trapping) {
        ++trappedErrors;
        return 0;
    }
    char text[256];
    XGetErrorText(connection, error->error_code, text, sizeof text);
    std::fprintf(stderr, "%s: X error: %s (request %d.%d)\n", ProgramName(), text,
                 error->request_code, error->minor_code);
    return 0;
}

}  // namespace

Display* XDisplay() {
    if (displayTried) return display;
    displayTried = true;
    display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    XSetErrorHandler(OnXError);
    // Held keys then repeat as presses alone, which is what Windows sends;
    // without it every repeat would come as a release and a press.
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(display, True, &detectable);
    return display;
}

Display* XDisplayIfOpen() { return display; }

void BeginErrorTrap() {
    if (display != nullptr) XSync(display, False);
    trapping = true;
    trappedErrors = 0;
}

bool EndErrorTrap() {
    if (display != nullptr) XSync(display, False);
    trapping = false;
    return trappedErrors == 0;
}

const char* ProgramName() { return program_invocation_short_name; }

}  // namespace platform
