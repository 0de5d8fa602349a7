#pragma once

#include <windows.h>

#include <cstdint>

struct Scene;

// Private message: the loop sends it whenever its queue is empty, and the
// window procedure draws one frame for it.
constexpr UINT WM_RENDER = WM_USER + 1;

// Simulation timer: one step of the fluid per tick.
constexpr UINT_PTR kSimulationTimer = 1;
constexpr UINT kSimulationPeriodMs = 64;

// Shell state, zero at program start.
extern HWND windowHandle;
extern HDC deviceContext;
extern HGLRC legacyContext;
extern HGLRC renderContext;
extern int32_t tickCount;
extern POINT windowCentre;
extern int32_t lastLookTick;

// The window procedure's own scene, known once the procedure has seen its
// first message; null before. Lets a test look at what a message did.
extern Scene* shellScene;

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// OpenGL context of the window, on deviceContext.
bool SetupPixelFormat();
void CreateRenderContext();
void ReleaseRenderContext(HWND window);

// Log console; printf reaches it unbuffered.
void SetupConsole();
