// Runs beside a program under Wine and asks the Windows side what X cannot
// tell, or does what only the Windows side can do: Wine keeps its own
// geometry for a window no window manager looks after, so a size set from
// X is never seen by the program.
//
//   win-probe.exe CLASS TITLE               print what the window is
//   win-probe.exe CLASS TITLE size W H      give it a client area of W by H
//   win-probe.exe CLASS TITLE minimize      minimise it (an empty client area)
//   win-probe.exe CLASS TITLE restore       restore it after minimize
//   win-probe.exe run FILE PROGRAM [ARGS]   run PROGRAM, write its exit code
//
// Prints "class=... title=... visible=0|1 client=WxH" read back from the
// top-level window of that class and title and returns 0, or returns 1
// when there is no such window.
//
// With run, PROGRAM gets the probe's standard handles; its exit code, as
// Windows reports it, goes to FILE as a line and is the probe's own. The
// status of the wine process itself cannot tell it: once a process's last
// thread is gone, Wine's server kills the Unix process with SIGKILL if it
// has not ended within half a second, which a busy machine can take for a
// program's shutdown (its OpenGL driver's threads).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool SetClientSize(HWND window, const char* widthText, const char* heightText) {
    const int width = std::atoi(widthText);
    const int height = std::atoi(heightText);
    if (width < 0 || height < 0) return false;
    // The outer size that holds a client area of this size under the
    // window's own frame, as a user's drag of the border would give it. The
    // frame goes to the screen's bottom-right corner: all of it can be
    // reached there, and when small it lies clear of the program's console
    // window in the top-left corner, over nothing but the root window.
    RECT frame = {0, 0, width, height};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
    if (!AdjustWindowRectEx(&frame, style, GetMenu(window) != nullptr, exStyle)) return false;
    if (!SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        return false;
    }
    // Placed once the size is known: Windows widens a frame narrower than
    // its smallest.
    RECT outer = {};
    if (!GetWindowRect(window, &outer)) return false;
    const int x = GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left);
    const int y = GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top);
    return SetWindowPos(window, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

// One argument as the command line's parser reads it back: in quotes, with
// the backslashes before a quote (or the closing one) doubled.
void AppendQuoted(std::string& line, const char* argument) {
    line += '"';
    size_t backslashes = 0;
    for (const char* c = argument; *c != '\0'; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(*c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += *c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

int Run(const char* codeFile, int count, char** arguments) {
    std::string line;
    for (int i = 0; i < count; ++i) {
        if (i > 0) line += ' ';
        AppendQuoted(line, arguments[i]);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "win-probe: cannot run %s (error %lu)\n", line.c_str(), GetLastError());
        return 126;
    }
    CloseHandle(process.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        std::fprintf(stderr, "win-probe: lost %s (error %lu)\n", line.c_str(), GetLastError());
        return 126;
    }
    CloseHandle(process.hProcess);
    FILE* out = std::fopen(codeFile, "w");
    if (out == nullptr || std::fprintf(out, "%lu\n", code) < 0 || std::fclose(out) != 0) {
        std::fprintf(stderr, "win-probe: cannot write %s\n", codeFile);
        return 126;
    }
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0) return Run(argv[2], argc - 3, argv + 3);
    const bool size = argc == 6 && std::strcmp(argv[3], "size") == 0;
    const bool minimize = argc == 4 && std::strcmp(argv[3], "minimize") == 0;
    const bool restore = argc == 4 && std::strcmp(argv[3], "restore") == 0;
    if (argc != 3 && !size && !minimize && !restore) {
        std::fprintf(stderr,
                     "usage: win-probe.exe CLASS TITLE [size W H | minimize | restore]\n"
                     "       win-probe.exe run FILE PROGRAM [ARGS...]\n");
        return 2;
    }
    HWND window = FindWindowA(argv[1], argv[2]);
    if (window == nullptr) {
        std::printf("no window of class \"%s\" titled \"%s\"\n", argv[1], argv[2]);
        return 1;
    }
    if (size && !SetClientSize(window, argv[4], argv[5])) {
        std::printf("cannot give the window a client area of %s by %s\n", argv[4], argv[5]);
        return 1;
    }
    if (minimize || restore) ShowWindow(window, minimize ? SW_MINIMIZE : SW_RESTORE);
    char className[256] = {};
    char title[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    RECT client = {};
    GetClientRect(window, &client);
    std::printf("class=%s title=%s visible=%d client=%ldx%ld\n", className, title,
                IsWindowVisible(window) ? 1 : 0, client.right - client.left,
                client.bottom - client.top);
    return 0;
}
