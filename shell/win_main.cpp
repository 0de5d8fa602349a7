#include <windows.h>

#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showMode) {
    char className[] = "WinMain";

    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = WndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    // Neither resource is shipped: both handles come back null, so the
    // system's default icon shows and no keystroke is an accelerator.
    windowClass.hIcon = LoadIconA(instance, "Ombrivane");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = className;
    if (RegisterClassA(&windowClass) == 0) {
        MessageBoxA(nullptr, "Unable to register window class.", className, MB_ICONERROR);
        return 0;
    }

    // Console, timer, OpenGL context and scene are all set up in here, by
    // WM_CREATE.
    HWND window = CreateWindowExA(0, className, "Smoothed Particle Hydrodynamics",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    HACCEL accelerators = LoadAcceleratorsA(instance, className);
    ShowWindow(window, showMode);
    UpdateWindow(window);

    MSG message = {};
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            // 0 is the quit message, -1 an error: both end the loop.
            if (GetMessageA(&message, nullptr, 0, 0) <= 0) break;
            if (TranslateAcceleratorA(window, accelerators, &message) == 0) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        } else {
            // Idle: frames follow each other as fast as the swap allows,
            // but never ahead of a waiting message.
            SendMessageA(window, WM_RENDER, 0, 0);
        }
    }

    if (!UnregisterClassA(className, instance)) {
        MessageBoxA(nullptr, "Unable to unregister class.", className, MB_ICONERROR);
        return 1;
    }
    return static_cast<int>(message.wParam);
}
