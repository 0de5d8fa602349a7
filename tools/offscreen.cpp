#include "tools/offscreen.h"

#include <GL/glew.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <png.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Mesa hands out a core profile for a 3.1 request, where immediate mode is
// gone; 3.2 with the compatibility bit, or no version at all, keeps it.
const EGLint kCompatibility32[] = {
    EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 2,
    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE,
};
const EGLint kAnyVersion[] = {EGL_NONE};

}  // namespace

bool OffscreenContext::Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(error, sizeof error, format, args);
    va_end(args);
    Release();
    return false;
}

bool OffscreenContext::Init(int requestedWidth, int requestedHeight) {
    Release();
    error[0] = '\0';
    if (requestedWidth <= 0 || requestedHeight <= 0) {
        return Fail("framebuffer size %dx%d is not positive", requestedWidth, requestedHeight);
    }

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

    // Debian's GLEW is built for GLX. glewInit loads the OpenGL entry points
    // first and only then looks for a GLX display, which an EGL context does
    // not have: that one code means the entry points are there.
    const GLenum glew = glewInit();
    if (glew != GLEW_OK && glew != GLEW_ERROR_NO_GLX_DISPLAY) {
        return Fail("glewInit failed: %s (%u)", reinterpret_cast<const char*>(glewGetErrorString(glew)), glew);
    }
    if (glGenFramebuffers == nullptr || glEnableVertexAttribArray == nullptr) {
        return Fail("OpenGL %s lacks framebuffer objects or vertex attribute arrays",
                    reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    }

    // Whatever GLEW's probing left in the error flags is not ours.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }

    GLint maxRenderbuffer = 0;
    GLint maxViewport[2] = {};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
    if (requestedWidth > maxRenderbuffer || requestedHeight > maxRenderbuffer || requestedWidth > maxViewport[0] ||
        requestedHeight > maxViewport[1]) {
        return Fail("framebuffer size %dx%d exceeds this OpenGL's limit of %dx%d", requestedWidth, requestedHeight,
                    maxRenderbuffer < maxViewport[0] ? maxRenderbuffer : maxViewport[0],
                    maxRenderbuffer < maxViewport[1] ? maxRenderbuffer : maxViewport[1]);
    }

    glGenRenderbuffers(1, &colourBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, requestedWidth, requestedHeight);
    glGenRenderbuffers(1, &depthStencilBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencilBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, requestedWidth, requestedHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthStencilBuffer);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) return Fail("framebuffer incomplete (0x%04x)", status);
    const GLenum glError = glGetError();
    if (glError != GL_NO_ERROR) return Fail("framebuffer set-up failed (OpenGL error 0x%04x)", glError);

    // Drawing needs a complete framebuffer, so this check comes last.
    glBegin(GL_POINTS);
    glEnd();
    const GLenum immediate = glGetError();
    if (immediate != GL_NO_ERROR) {
        return Fail("OpenGL %s has no immediate mode (error 0x%04x; a core profile?)",
                    reinterpret_cast<const char*>(glGetString(GL_VERSION)), immediate);
    }

    width = requestedWidth;
    height = requestedHeight;
    glViewport(0, 0, width, height);
    return true;
}

void OffscreenContext::Release() {
    if (display == nullptr) return;
    if (context != nullptr && eglGetCurrentContext() == context) {
        if (framebuffer != 0) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glDeleteFramebuffers(1, &framebuffer);
        }
        if (colourBuffer != 0) glDeleteRenderbuffers(1, &colourBuffer);
        if (depthStencilBuffer != 0) glDeleteRenderbuffers(1, &depthStencilBuffer);
    }
    framebuffer = colourBuffer = depthStencilBuffer = 0;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != nullptr) eglDestroyContext(display, context);
    // The surfaceless display is one per process and shared by every
    // context on it, so it stays initialised until exit. (Terminating it
    // also unloads Mesa's driver, which leaves a few blocks unfreed that the
    // leak checker then reports.)
    context = nullptr;
    display = nullptr;
    width = height = 0;
}

void OffscreenContext::FinishFrame(void*) { glFinish(); }

void OffscreenContext::ReadPixels(std::vector<Rgba8>& out) const {
    out.assign(static_cast<size_t>(width) * static_cast<size_t>(height), Rgba8{});
    if (out.empty()) return;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
}

bool WritePng(const char* path, int width, int height, const std::vector<Rgba8>& pixels, char* error,
              int errorSize) {
    if (width <= 0 || height <= 0 || width > (1 << 24) || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        snprintf(error, static_cast<size_t>(errorSize), "%zu pixels do not make a %dx%d picture", pixels.size(),
                 width, height);
        return false;
    }
    // Smoothed points leave coverage in alpha; the picture is what the
    // window shows, so alpha is dropped rather than written as transparency.
    std::vector<png_byte> rgb;
    rgb.reserve(pixels.size() * 3);
    for (const Rgba8& p : pixels) {
        rgb.push_back(p.r);
        rgb.push_back(p.g);
        rgb.push_back(p.b);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    // A negative stride tells libpng that the bottom row comes first.
    const png_int_32 stride = -static_cast<png_int_32>(width * 3);
    if (png_image_write_to_file(&image, path, 0, rgb.data(), stride, nullptr) == 0) {
        snprintf(error, static_cast<size_t>(errorSize), "cannot write %s: %s", path, image.message);
        png_image_free(&image);
        return false;
    }
    return true;
}
