#include "platform_state.h"

#include <X11/XKBlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform_test.h"

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

std::set<std::string>& TestFailures() {
    static std::set<std::string> failures;
    return failures;
}

bool recording = false;

std::vector<platform_test::WindowCall>& DefWindowProcLog() {
    static std::vector<platform_test::WindowCall> calls;
    return calls;
}

std::vector<POINT>& CursorLog() {
    static std::vector<POINT> moves;
    return moves;
}

std::vector<platform_test::MessageBoxCall>& MessageBoxLog() {
    static std::vector<platform_test::MessageBoxCall> boxes;
    return boxes;
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

bool Fails(const char* call) {
    if (TestFailures().count(call) != 0) return true;
    const char* list = std::getenv("PONDSIM_FAIL");
    if (list == nullptr) return false;
    const size_t length = std::strlen(call);
    for (const char* item = list; *item != '\0';) {
        const char* end = std::strchr(item, ',');
        const size_t itemLength = end == nullptr ? std::strlen(item) : static_cast<size_t>(end - item);
        if (itemLength == length && std::strncmp(item, call, length) == 0) return true;
        if (end == nullptr) break;
        item = end + 1;
    }
    return false;
}

const char* ProgramName() { return program_invocation_short_name; }

void RecordDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (recording) DefWindowProcLog().push_back({window, message, wParam, lParam});
}

void RecordCursorMove(int x, int y) {
    if (recording) CursorLog().push_back({x, y});
}

void RecordMessageBox(const char* text, const char* caption, UINT type) {
    if (recording) {
        MessageBoxLog().push_back({text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    }
}

}  // namespace platform

namespace platform_test {

void StartRecording() {
    platform::recording = true;
    platform::DefWindowProcLog().clear();
    platform::CursorLog().clear();
    platform::MessageBoxLog().clear();
}

const std::vector<WindowCall>& DefWindowProcCalls() { return platform::DefWindowProcLog(); }
const std::vector<POINT>& CursorMoves() { return platform::CursorLog(); }
const std::vector<MessageBoxCall>& MessageBoxes() { return platform::MessageBoxLog(); }

void SetFailing(const char* call, bool failing) {
    if (failing) {
        platform::TestFailures().insert(call);
    } else {
        platform::TestFailures().erase(call);
    }
}

}  // namespace platform_test
