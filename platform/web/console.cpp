// The console of a page is its log panel, and the browser's console beside
// it. Standard output and standard error are always there (every line goes
// to the browser's console), so the shell keeps them as they are;
// AllocConsole shows the panel, which from then on shows each line too.

#include <emscripten.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "message_queue.h"

namespace {

constexpr intptr_t kHandleBase = 0x100;
constexpr SHORT kColumns = 80;

EM_JS(void, PondsimShowConsole, (), {
    Module.pondsimConsole.show();
});

EM_JS(int, PondsimConsoleRows, (), {
    return Module.pondsimConsole.rows;
});

EM_JS(void, PondsimSetConsoleRows, (int rows), {
    Module.pondsimConsole.setRows(rows);
});

int DescriptorOf(HANDLE handle) {
    const intptr_t value = reinterpret_cast<intptr_t>(handle) - kHandleBase;
    return value >= 0 && value <= 2 ? static_cast<int>(value) : -1;
}

}  // namespace

BOOL AllocConsole() {
    PondsimShowConsole();
    return TRUE;
}

HANDLE GetStdHandle(DWORD which) {
    if (which == STD_INPUT_HANDLE) return reinterpret_cast<HANDLE>(kHandleBase + 0);
    if (which == STD_OUTPUT_HANDLE) return reinterpret_cast<HANDLE>(kHandleBase + 1);
    if (which == STD_ERROR_HANDLE) return reinterpret_cast<HANDLE>(kHandleBase + 2);
    return INVALID_HANDLE_VALUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info) {
    if (info == nullptr || DescriptorOf(console) < 1) return FALSE;
    const SHORT rows = static_cast<SHORT>(PondsimConsoleRows());
    *info = platform::DescribeConsole(kColumns, rows, rows);
    return TRUE;
}

// The panel keeps this many of the latest lines.
BOOL SetConsoleScreenBufferSize(HANDLE console, COORD size) {
    if (DescriptorOf(console) < 1 || size.Y < 1) return FALSE;
    PondsimSetConsoleRows(size.Y);
    return TRUE;
}

int _open_osfhandle(intptr_t handle, int) {
    return DescriptorOf(reinterpret_cast<HANDLE>(handle));
}

FILE* _fdopen(int descriptor, const char* mode) {
    FILE* standard[] = {stdin, stdout, stderr};
    if (descriptor >= 0 && descriptor <= 2) return standard[descriptor];
    return fdopen(descriptor, mode);
}
