#include <windows.h>
#include <GL/glew.h>
#include <GL/wglew.h>

#include "shell/context_profile.h"
#include "shell/shell.h"

bool SetupPixelFormat() {
    PIXELFORMATDESCRIPTOR descriptor = {};
    descriptor.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    descriptor.nVersion = 1;
    descriptor.dwFlags =
        PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER | PFD_GENERIC_ACCELERATED;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 32;
    descriptor.cAccumBits = 32;
    descriptor.cDepthBits = 24;
    descriptor.cStencilBits = 32;
    descriptor.dwLayerMask = PFD_MAIN_PLANE;

    const int format = ChoosePixelFormat(deviceContext, &descriptor);
    if (format == 0) {
        MessageBoxA(nullptr, "ChoosePixelFormat failed", "Error", MB_OK);
        return false;
    }
    if (!SetPixelFormat(deviceContext, format, &descriptor)) {
        MessageBoxA(nullptr, "SetPixelFormat failed", "Error", MB_OK);
        return false;
    }
    return true;
}

void CreateRenderContext() {
    legacyContext = wglCreateContext(deviceContext);
    wglMakeCurrent(deviceContext, legacyContext);
    glewInit();
    renderContext = legacyContext;
    if (wglewIsSupported("WGL_ARB_create_context") != 1) return;
    if (wglChoosePixelFormatARB == nullptr || wglCreateContextAttribsARB == nullptr) return;

    const int pixelAttributes[] = {
        WGL_DRAW_TO_WINDOW_ARB, 1,
        WGL_SUPPORT_OPENGL_ARB, 1,
        WGL_DOUBLE_BUFFER_ARB,  1,
        WGL_PIXEL_TYPE_ARB,     WGL_TYPE_RGBA_ARB,
        WGL_COLOR_BITS_ARB,     32,
        WGL_DEPTH_BITS_ARB,     24,
        WGL_STENCIL_BITS_ARB,   8,
        0,
    };
    int format = 0;
    UINT formatCount = 0;
    // The window keeps the pixel format it already has; a window's format
    // cannot be set twice.
    wglChoosePixelFormatARB(deviceContext, pixelAttributes, nullptr, 1, &format, &formatCount);

    const int contextAttributes[] = {
        WGL_CONTEXT_MAJOR_VERSION_ARB, 3,
        WGL_CONTEXT_MINOR_VERSION_ARB, 1,
        0,
    };
    HGLRC arbContext = wglCreateContextAttribsARB(deviceContext, nullptr, contextAttributes);
    if (arbContext == nullptr) return;

    // The particles are drawn in immediate mode: a context without the
    // fixed-function pipeline would show nothing, so the legacy one stays.
    if (!wglMakeCurrent(deviceContext, arbContext) || !HasFixedFunction()) {
        wglMakeCurrent(deviceContext, legacyContext);
        wglDeleteContext(arbContext);
        return;
    }

    renderContext = arbContext;
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(legacyContext);
    wglMakeCurrent(deviceContext, renderContext);
}

void ReleaseRenderContext(HWND window) {
    if (renderContext == nullptr) return;
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(renderContext);
    ReleaseDC(window, deviceContext);
}
