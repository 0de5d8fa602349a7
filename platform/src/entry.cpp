// The process entry of a Linux build: what the Windows runtime's start-up
// code does for a GUI program. The command line goes along unused, the
// show mode is the default one, and WinMain's result is the exit code,
// with the exit-time handlers run on the way out.

#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWDEFAULT);
}
