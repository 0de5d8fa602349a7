// The test seam of the Win32 stand-ins (platform_test.h): recorded calls
// and the switches that make a call fail.

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "message_queue.h"
#include "platform_test.h"

namespace platform {
namespace {

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
