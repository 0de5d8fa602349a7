// The console of a Linux program is the terminal on its standard streams;
// AllocConsole gives a program that was started without them the terminal
// it runs on (or, for tests, the device PONDSIM_CONSOLE names). The console
// device name "CON" opens that console, never a file.

#include <fcntl.h>
#include <io.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdio_ext.h>

#include <cstdio>
#include <cstdlib>

#include "platform_state.h"

namespace {

// Standard handles are small distinct values, neither null nor
// INVALID_HANDLE_VALUE: the descriptor plus this base.
constexpr intptr_t kHandleBase = 0x100;

// The scroll-back height asked for: a terminal keeps its own, so it is only
// remembered.
SHORT bufferRows = 0;

bool IsOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1; }

int DescriptorOf(HANDLE handle) {
    const intptr_t value = reinterpret_cast<intptr_t>(handle) - kHandleBase;
    if (value < 0 || value > 2 || !IsOpen(static_cast<int>(value))) return -1;
    return static_cast<int>(value);
}

bool TerminalSize(int descriptor, winsize* size) {
    return descriptor >= 0 && isatty(descriptor) && ioctl(descriptor, TIOCGWINSZ, size) == 0 &&
           size->ws_col > 0 && size->ws_row > 0;
}

}  // namespace

BOOL AllocConsole() {
    const char* device = std::getenv("PONDSIM_CONSOLE");
    if (device == nullptr || *device == '\0') device = "/dev/tty";
    FILE* streams[] = {stdin, stdout, stderr};
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (IsOpen(descriptor)) continue;
        // What was written while the stream had nowhere to go is lost, as
        // on Windows; it must not turn up on the new console.
        __fpurge(streams[descriptor]);
        std::clearerr(streams[descriptor]);
        int opened = open(device, O_RDWR | O_APPEND | O_NOCTTY | O_CLOEXEC);
        if (opened < 0) opened = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (opened < 0) continue;
        if (opened != descriptor) {
            dup2(opened, descriptor);
            close(opened);
        } else {
            fcntl(descriptor, F_SETFD, 0);
        }
        // As on Windows, where the runtime's stream of a handle missing at
        // start stays without one: only binding it to the console's handle
        // (_fdopen) or reopening it on "CON" makes it write there.
        streams[descriptor]->_fileno = -1;
    }
    return IsOpen(0) && IsOpen(1) && IsOpen(2) ? TRUE : FALSE;
}

HANDLE GetStdHandle(DWORD which) {
    int descriptor = -1;
    if (which == STD_INPUT_HANDLE) descriptor = 0;
    if (which == STD_OUTPUT_HANDLE) descriptor = 1;
    if (which == STD_ERROR_HANDLE) descriptor = 2;
    if (descriptor < 0) return INVALID_HANDLE_VALUE;
    // A program started without the stream has no handle for it.
    if (!IsOpen(descriptor)) return nullptr;
    return reinterpret_cast<HANDLE>(kHandleBase + descriptor);
}

BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info) {
    winsize size = {};
    if (info == nullptr || !TerminalSize(DescriptorOf(console), &size)) return FALSE;
    const SHORT rows = static_cast<SHORT>(size.ws_row);
    *info = platform::DescribeConsole(static_cast<SHORT>(size.ws_col), rows, bufferRows > rows ? bufferRows : rows);
    return TRUE;
}

BOOL SetConsoleScreenBufferSize(HANDLE console, COORD size) {
    winsize window = {};
    if (!TerminalSize(DescriptorOf(console), &window)) return FALSE;
    // Like Windows: the buffer is never smaller than the visible window.
    if (size.X < window.ws_col || size.Y < window.ws_row) return FALSE;
    bufferRows = size.Y;
    return TRUE;
}

int _open_osfhandle(intptr_t handle, int) {
    return DescriptorOf(reinterpret_cast<HANDLE>(handle));
}

FILE* _fdopen(int descriptor, const char* mode) {
    FILE* standard[] = {stdin, stdout, stderr};
    if (descriptor >= 0 && descriptor <= 2) {
        FILE* stream = standard[descriptor];
        if (stream->_fileno == -1) stream->_fileno = descriptor;  // cut off by AllocConsole
        if (fileno(stream) == descriptor) return stream;
    }
    return fdopen(descriptor, mode);
}

// The programs are linked with --wrap=freopen: their calls come here, and
// every other name goes on to the C library.
extern "C" FILE* __real_freopen(const char* path, const char* mode, FILE* stream);

extern "C" FILE* __wrap_freopen(const char* path, const char* mode, FILE* stream) {
    if (path == nullptr || stream == nullptr ||
        (strcasecmp(path, "CON") != 0 && strcasecmp(path, "CONIN$") != 0 && strcasecmp(path, "CONOUT$") != 0)) {
        return __real_freopen(path, mode, stream);
    }
    const bool reading = strcasecmp(path, "CONIN$") == 0 ||
                         (strcasecmp(path, "CON") == 0 && mode != nullptr && mode[0] == 'r');
    const int console = reading ? 0 : 1;
    std::fflush(stream);
    if (stream->_fileno == -1) {
        stream->_fileno = console;  // cut off by AllocConsole
    } else if (fileno(stream) != console) {
        dup2(console, fileno(stream));
    }
    std::clearerr(stream);
    // The buffering the caller chose stays: log lines go through at once.
    return stream;
}
