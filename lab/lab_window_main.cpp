#include <windows.h>

#include <cstdio>
#include <string>

#include "lab/lab_window.h"
#include "sim/lab/lab_start_options.h"

namespace {

// The start the window opens on, from the options the headless driver
// takes for it (--preset, --scene, --particles, --set, --config), with its
// words for a mistake. -1 to open the window, else the exit code.
int ReadCommandLine(const char* line, LabView& view) {
    CLI::App app("Opens the lab's window on a scene: the classic scatter unless told otherwise.", "pondsim-lab");
    app.set_help_flag("--help,-h", "this text");
    LabStartOptions start;
    AddLabStartOptions(app, start);
    try {
        app.parse(std::string(line != nullptr ? line : ""), false);
    } catch (const CLI::Error& error) {
#ifdef _WIN32
        // A program without a console says it in a dialog.
        const bool help = dynamic_cast<const CLI::CallForHelp*>(&error) != nullptr;
        MessageBoxA(nullptr, help ? app.help().c_str() : LabParseMistake(error).c_str(), "pondsim-lab",
                    help ? MB_ICONINFORMATION : MB_ICONERROR);
        return help ? 0 : 2;
#else
        return LabParseFailure(app, error);
#endif
    }
    FinishLabStartOptions(app, start);
    view.count = static_cast<int>(start.particles);
    LabRun& run = view.stepper.run();
    run.PostStart(start);
    // The panel's fields follow what the run will start with.
    run.Apply();
    view.editing = run.parameters();
    return -1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showMode) {
    const int refused = ReadCommandLine(commandLine, TheLabView());
    if (refused >= 0) return refused;
    char className[] = "PondsimLab";
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = LabWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    if (RegisterClassA(&windowClass) == 0) {
        MessageBoxA(nullptr, "Unable to register window class.", className, MB_ICONERROR);
        return 1;
    }
    HWND window = CreateWindowExA(0, className, "pondsim lab", WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  instance, nullptr);
    ShowWindow(window, showMode);
    UpdateWindow(window);

    MSG message = {};
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageA(&message, nullptr, 0, 0) <= 0) break;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            SendMessageA(window, WM_LAB_RENDER, 0, 0);
        }
    }
    UnregisterClassA(className, instance);
    return static_cast<int>(message.wParam);
}
