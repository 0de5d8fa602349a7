#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "lab/lab_window.h"

namespace {

// "--particles N", "--scene NAME" and "--preset NAME" (as the headless
// driver names them):
// the start the window opens on. Anything else is left alone.
void ReadCommandLine(const char* line, LabView& view) {
    std::istringstream words(line != nullptr ? line : "");
    std::string word, value;
    LabCommand command;
    command.kind = LabCommand::Kind::SetScene;
    command.scene = view.run.scene();
    command.count = view.run.requestedCount();
    bool any = false;
    while (words >> word) {
        if (word == "--particles" && words >> value) {
            const long n = std::strtol(value.c_str(), nullptr, 10);
            if (n > 0 && n <= kMaxLabParticles) command.count = static_cast<int32_t>(n);
            any = true;
        } else if (word == "--preset" && words >> value) {
            LabParameters p;
            if (!ParametersByName(value, p)) continue;
            LabCommand preset;
            preset.kind = LabCommand::Kind::SetPreset;
            preset.preset = value;
            view.run.Post(preset);
            any = true;
        } else if (word == "--scene" && words >> value) {
            any = SceneByName(value, command.scene) || any;
        }
    }
    if (!any) return;
    view.count = command.count;
    view.run.Post(command);
    // The panel's fields follow what the run will start with.
    view.run.Apply();
    view.editing = view.run.solver().parameters();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showMode) {
    ReadCommandLine(commandLine, TheLabView());
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
