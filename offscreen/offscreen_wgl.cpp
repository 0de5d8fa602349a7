// The offscreen context on Windows: a WGL context on a window that is never
// shown. Its own pixels are never read; drawing goes to the framebuffer
// object, so the window can stay small and hidden.

#include <windows.h>

#include <GL/glew.h>

#include "offscreen/offscreen.h"

namespace {

const char kClassName[] = "pondsim-offscreen";

bool RegisterOnce(HINSTANCE instance) {
    WNDCLASSA existing = {};
    if (GetClassInfoA(instance, kClassName, &existing)) return true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

bool OffscreenContext::MakeContextCurrent() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterOnce(instance)) return Fail("RegisterClassA failed (%lu)", GetLastError());
    HWND window = CreateWindowExA(0, kClassName, "pondsim offscreen", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) return Fail("CreateWindowExA failed (%lu)", GetLastError());
    display = window;
    HDC dc = GetDC(window);
    if (dc == nullptr) return Fail("GetDC failed");
    drawable = dc;

    PIXELFORMATDESCRIPTOR descriptor = {};
    descriptor.nSize = sizeof descriptor;
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 32;
    descriptor.cDepthBits = 24;
    descriptor.cStencilBits = 8;
    const int format = ChoosePixelFormat(dc, &descriptor);
    if (format == 0) return Fail("ChoosePixelFormat found no OpenGL format (%lu)", GetLastError());
    if (!SetPixelFormat(dc, format, &descriptor)) return Fail("SetPixelFormat failed (%lu)", GetLastError());

    // A legacy context: its profile is the compatibility one, immediate
    // mode included.
    HGLRC glContext = wglCreateContext(dc);
    if (glContext == nullptr) return Fail("wglCreateContext failed (%lu)", GetLastError());
    context = glContext;
    if (!wglMakeCurrent(dc, glContext)) return Fail("wglMakeCurrent failed (%lu)", GetLastError());
    return true;
}

bool OffscreenContext::ContextIsCurrent() const { return wglGetCurrentContext() == context; }

void OffscreenContext::DestroyContext() {
    if (wglGetCurrentContext() == context) wglMakeCurrent(nullptr, nullptr);
    if (context != nullptr) wglDeleteContext(static_cast<HGLRC>(context));
    HWND window = static_cast<HWND>(display);
    if (drawable != nullptr) ReleaseDC(window, static_cast<HDC>(drawable));
    DestroyWindow(window);
}
