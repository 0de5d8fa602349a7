#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "shell/shell.h"

namespace {

// A GUI program starts with no standard handles unless whoever started it
// handed some over: a file or a pipe it redirected the output to. Those
// stay where they were sent, so the log reaches the one who asked for it;
// only streams with nowhere to go are bound to the new console.
bool HandedOver(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void BindToConsole(DWORD which, const char* mode, FILE* standard) {
    HANDLE handle = GetStdHandle(which);
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_TEXT);
    FILE* stream = _fdopen(descriptor, mode);
    if (stream != nullptr) *standard = *stream;
    setvbuf(standard, nullptr, _IONBF, 0);
}

// Nothing that follows depends on whether the stream could be reopened,
// and nothing about the console is reported, so what freopen returns is not
// needed; glibc's fortified headers ask for it to be looked at all the same.
void ReopenOnConsole(const char* mode, FILE* standard) {
    if (freopen("CON", mode, standard) == nullptr) return;
}

void KeepUnbuffered(FILE* standard) {
    // Lines written before the console existed are still in the buffer.
    fflush(standard);
    setvbuf(standard, nullptr, _IONBF, 0);
}

}  // namespace

void SetupConsole() {
    const bool keepOutput = HandedOver(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool keepInput = HandedOver(GetStdHandle(STD_INPUT_HANDLE));
    const bool keepError = HandedOver(GetStdHandle(STD_ERROR_HANDLE));

    AllocConsole();

    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info);
    info.dwSize.Y = 512;
    SetConsoleScreenBufferSize(GetStdHandle(STD_OUTPUT_HANDLE), info.dwSize);

    if (keepOutput) {
        KeepUnbuffered(stdout);
    } else {
        BindToConsole(STD_OUTPUT_HANDLE, "w", stdout);
    }
    if (!keepInput) BindToConsole(STD_INPUT_HANDLE, "r", stdin);
    if (keepError) {
        KeepUnbuffered(stderr);
    } else {
        BindToConsole(STD_ERROR_HANDLE, "w", stderr);
    }

    if (!keepInput) ReopenOnConsole("r", stdin);
    if (!keepOutput) {
        ReopenOnConsole("w", stdout);
        // The reopened stream starts buffered again: the runtime lets only
        // descriptor 1 on a console go unbuffered, and the console's
        // descriptor here is a later one.
        setvbuf(stdout, nullptr, _IONBF, 0);
    }
}
