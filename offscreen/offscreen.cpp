#include "offscreen/offscreen.h"

#include <GL/glew.h>

#include <cstdarg>
#include <cstdio>

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

    if (!MakeContextCurrent()) return false;

    // Debian's GLEW is built for GLX. glewInit loads the OpenGL entry points
    // first and only then looks for a GLX display, which an EGL context does
    // not have: that one code means the entry points are there. (With WGL
    // it answers GLEW_OK.)
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
    if (context != nullptr && ContextIsCurrent()) {
        if (framebuffer != 0) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glDeleteFramebuffers(1, &framebuffer);
        }
        if (colourBuffer != 0) glDeleteRenderbuffers(1, &colourBuffer);
        if (depthStencilBuffer != 0) glDeleteRenderbuffers(1, &depthStencilBuffer);
    }
    framebuffer = colourBuffer = depthStencilBuffer = 0;
    DestroyContext();
    context = nullptr;
    drawable = nullptr;
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
