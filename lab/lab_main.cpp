#include <windows.h>

#include "lab/lab_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showMode) {
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
