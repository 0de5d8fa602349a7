// The offscreen context on Linux: Mesa's surfaceless EGL platform.

#include <GL/glew.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include "offscreen/offscreen.h"

namespace {

// Mesa hands out a core profile for a 3.1 request, where immediate mode is
// gone; 3.2 with the compatibility bit, or no version at all, keeps it.
const EGLint kCompatibility32[] = {
    EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 2,
    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE,
};
const EGLint kAnyVersion[] = {EGL_NONE};

}  // namespace

bool OffscreenContext::MakeContextCurrent() {
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return Fail("eglGetPlatformDisplayEXT is missing");

    EGLDisplay eglDisplay = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (eglDisplay == EGL_NO_DISPLAY) {
        return Fail("no surfaceless EGL display (0x%04x); is Mesa's libegl-mesa0 installed?",
                    static_cast<unsigned>(eglGetError()));
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (eglInitialize(eglDisplay, &major, &minor) != EGL_TRUE) {
        return Fail("eglInitialize failed (0x%04x)", static_cast<unsigned>(eglGetError()));
    }
    display = eglDisplay;
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) return Fail("EGL offers no desktop OpenGL");

    // The config only has to name an OpenGL-capable format: nothing is ever
    // drawn into an EGL surface. Surfaceless Mesa offers pbuffer configs only.
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (eglChooseConfig(eglDisplay, configAttributes, &config, 1, &configCount) != EGL_TRUE || configCount < 1) {
        return Fail("no EGL config for desktop OpenGL");
    }

    EGLContext eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, kCompatibility32);
    if (eglContext == EGL_NO_CONTEXT) eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, kAnyVersion);
    if (eglContext == EGL_NO_CONTEXT) {
        return Fail("eglCreateContext failed (0x%04x)", static_cast<unsigned>(eglGetError()));
    }
    context = eglContext;
    if (eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext) != EGL_TRUE) {
        return Fail("eglMakeCurrent without a surface failed (0x%04x)", static_cast<unsigned>(eglGetError()));
    }

    return true;
}

bool OffscreenContext::ContextIsCurrent() const { return eglGetCurrentContext() == context; }

void OffscreenContext::DestroyContext() {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != nullptr) eglDestroyContext(display, context);
    // The surfaceless display is one per process and shared by every
    // context on it, so it stays initialised until exit. (Terminating it
    // also unloads Mesa's driver, which leaves a few blocks unfreed that the
    // leak checker then reports.)
}
