// The OpenGL context of the canvas: WebGL 1, with Emscripten's emulation of
// the fixed-function pipeline and immediate mode on top (linked with
// -sLEGACY_GL_EMULATION). A canvas has exactly one pixel format and one
// context, and the browser, not the program, says when a frame is shown.

#include <emscripten.h>
#include <emscripten/html5.h>

#include <GL/wglew.h>

#include "message_queue.h"

namespace {

// Made the way Emscripten's own windowing libraries make theirs, so that
// the emulation sets itself up on it; made current at once. Returns the
// context's handle, 0 when the browser gives no WebGL.
EM_JS(int, PondsimCreateContext, (), {
    const context = Module.createContext(Module.canvas, true, true, {
        alpha: false, depth: true, stencil: true, antialias: false, majorVersion: 1
    });
    return context && GL.currentContext ? GL.currentContext.handle : 0;
});

// The frame drawn so far is shown when the program hands control back to
// the browser; it gets it back with the next animation frame.
// Frames shown are counted for the page (Module.pondsimFrames).
EM_ASYNC_JS(void, PondsimAwaitFrame, (), {
    Module.pondsimFrames = (Module.pondsimFrames || 0) + 1;
    await new Promise(resolve => requestAnimationFrame(() => resolve()));
});

HGLRC AsContext(EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle) {
    return reinterpret_cast<HGLRC>(static_cast<intptr_t>(handle));
}

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE AsHandle(HGLRC context) {
    return static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
}

}  // namespace

// There is no WGL in a browser: a WebGL context is made by the page, with
// no version or profile to ask for, so neither extension is offered and the
// shell keeps the legacy context.
PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB = nullptr;
PFNWGLCREATECONTEXTATTRIBSARBPROC wglCreateContextAttribsARB = nullptr;

GLboolean wglewIsSupported(const char*) { return GL_FALSE; }

// The canvas's one format: RGBA with 8 bits a channel, depth 24, stencil 8,
// double-buffered.
int ChoosePixelFormat(HDC deviceContext, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (platform::Fails("ChoosePixelFormat")) return 0;
    if (platform::WindowFromDeviceContext(deviceContext) == nullptr || descriptor == nullptr ||
        descriptor->iPixelType != PFD_TYPE_RGBA) {
        return 0;
    }
    return 1;
}

BOOL SetPixelFormat(HDC deviceContext, int format, const PIXELFORMATDESCRIPTOR*) {
    if (platform::Fails("SetPixelFormat")) return FALSE;
    platform::WindowRecord* window = platform::WindowFromDeviceContext(deviceContext);
    // As on Windows, a window's format is set once.
    if (window == nullptr || format != 1 || window->pixelFormat != 0) return FALSE;
    window->pixelFormat = format;
    return TRUE;
}

BOOL SwapBuffers(HDC deviceContext) {
    if (platform::WindowFromDeviceContext(deviceContext) == nullptr) return FALSE;
    PondsimAwaitFrame();
    return TRUE;
}

HGLRC wglCreateContext(HDC deviceContext) {
    if (platform::WindowFromDeviceContext(deviceContext) == nullptr) return nullptr;
    // Making a context makes it current here; Windows leaves the current one
    // as it was.
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE previous = emscripten_webgl_get_current_context();
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = PondsimCreateContext();
    if (previous != context) emscripten_webgl_make_context_current(previous);
    return AsContext(context);
}

BOOL wglMakeCurrent(HDC deviceContext, HGLRC context) {
    if (context == nullptr) return emscripten_webgl_make_context_current(0) == EMSCRIPTEN_RESULT_SUCCESS;
    if (platform::WindowFromDeviceContext(deviceContext) == nullptr) return FALSE;
    return emscripten_webgl_make_context_current(AsHandle(context)) == EMSCRIPTEN_RESULT_SUCCESS ? TRUE : FALSE;
}

BOOL wglDeleteContext(HGLRC context) {
    if (context == nullptr) return FALSE;
    return emscripten_webgl_destroy_context(AsHandle(context)) == EMSCRIPTEN_RESULT_SUCCESS ? TRUE : FALSE;
}
