// Runs beside a program under Wine and asks the Windows side what X cannot
// tell: whether a top-level window of the given class and title exists.
//
//   win-probe.exe CLASS TITLE
//
// Prints "class=... title=... visible=0|1" read back from the window found
// and returns 0, or returns 1 when there is no such window.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: win-probe.exe CLASS TITLE\n");
        return 2;
    }
    HWND window = FindWindowA(argv[1], argv[2]);
    if (window == nullptr) {
        std::printf("no window of class \"%s\" titled \"%s\"\n", argv[1], argv[2]);
        return 1;
    }
    char className[256] = {};
    char title[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    std::printf("class=%s title=%s visible=%d\n", className, title,
                IsWindowVisible(window) ? 1 : 0);
    return 0;
}
