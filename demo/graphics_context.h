#pragma once

// The one seam between the viewing code and a window: the shell fills it
// before scene set-up, a headless driver leaves it empty and frames then go
// nowhere.
struct ShellSurface {
    void* windowHandle = nullptr;
    void* deviceContext = nullptr;
    void (*swapBuffers)(void* deviceContext) = nullptr;
};

extern ShellSurface shellSurface;

struct GraphicsContext {
    void* windowHandle = nullptr;
    void* deviceContext = nullptr;

    // Copies the shell's handles and sets the base OpenGL state.
    void Init();
    void SwapBuffers();
};
