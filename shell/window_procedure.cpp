#include <windows.h>
#include <GL/glew.h>

#include <cstdio>

#include "shell/shell.h"
#include "demo/graphics_context.h"
#include "view/math.h"
#include "demo/scene.h"

HWND windowHandle;
HDC deviceContext;
HGLRC legacyContext;
HGLRC renderContext;
int32_t tickCount;
POINT windowCentre;
int32_t lastLookTick;
Scene* shellScene;

namespace {

struct KeyName {
    WPARAM key;
    const char* name;
};

constexpr KeyName kKeyNames[] = {
    {VK_RETURN, "enter"}, {VK_SHIFT, "shift"}, {VK_CONTROL, "control"},
    {VK_ESCAPE, "escape"}, {VK_LEFT, "left"},  {VK_UP, "up"},
    {VK_RIGHT, "right"},   {VK_DOWN, "down"},
};

const char* KeyInputName(WPARAM key) {
    for (const KeyName& entry : kKeyNames) {
        if (entry.key == key) return entry.name;
    }
    return nullptr;
}

void SwapDeviceBuffers(void* dc) {
    SwapBuffers(static_cast<HDC>(dc));
}

void Resize(Scene& scene, LPARAM lParam) {
    const int32_t width = LOWORD(lParam);
    const int32_t height = HIWORD(lParam);
    windowCentre.x = width >> 1;
    windowCentre.y = height >> 1;
    scene.Resize(width, height);
}

void MouseLook(Scene& scene, HWND window, LPARAM lParam) {
    const int32_t x = LOWORD(lParam);
    const int32_t y = HIWORD(lParam);
    // The cursor was put back on the centre by the last turn.
    if (x == windowCentre.x && y == windowCentre.y) return;
    if (tickCount == lastLookTick) return;
    lastLookTick = tickCount;
    if (scene.input.flags[InputState::kLeftButton] == 0) return;
    const float delta[2] = {static_cast<float>(x - windowCentre.x),
                            static_cast<float>(y - windowCentre.y)};
    scene.camera.Look(delta);
    POINT centre = windowCentre;
    ClientToScreen(window, &centre);
    SetCursorPos(centre.x, centre.y);
}

}  // namespace

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Too large for the stack or an early heap: static storage, constructed
    // on the first message, whichever that is.
    static Scene scene;
    shellScene = &scene;

    switch (message) {
    case WM_CREATE:
        SetupConsole();
        SetTimer(window, kSimulationTimer, kSimulationPeriodMs, nullptr);
        deviceContext = GetDC(window);
        // A pixel-format failure has been shown to the user; the window
        // comes up anyway.
        SetupPixelFormat();
        CreateRenderContext();
        windowHandle = window;
        shellSurface.windowHandle = windowHandle;
        shellSurface.deviceContext = deviceContext;
        shellSurface.swapBuffers = SwapDeviceBuffers;
        scene.Setup();
        return 0;

    case WM_DESTROY:
        ReleaseRenderContext(window);
        printf("Shutting down.\n");
        PostQuitMessage(0);
        return 0;

    case WM_SIZE:
        Resize(scene, lParam);
        return 0;

    case WM_KEYDOWN:
    case WM_KEYUP:
        if (const char* name = KeyInputName(wParam)) {
            scene.SetInput(name, message == WM_KEYDOWN);
        }
        return 0;

    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        scene.SetInput("leftbutton", message == WM_LBUTTONDOWN);
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        scene.SetInput("rightbutton", message == WM_RBUTTONDOWN);
        return 0;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        scene.SetInput("middlebutton", message == WM_MBUTTONDOWN);
        return 0;

    case WM_SYSCOMMAND:
        if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
        break;

    case WM_TIMER:
        if (wParam == kSimulationTimer) {
            ++tickCount;
            scene.Step();
        }
        return 0;

    case WM_MOUSEMOVE:
        MouseLook(scene, window, lParam);
        return 0;

    case WM_RENDER:
        scene.Render();
        return 0;

    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
