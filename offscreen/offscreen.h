#pragma once

// Rendering with no display and no GPU, for the pixel tests and the
// snapshots: an OpenGL compatibility context drawing into a framebuffer
// object of a chosen size. On Linux the context is on Mesa's surfaceless EGL
// platform (offscreen_egl.cpp); on Windows it belongs to a hidden window
// that is never shown (offscreen_wgl.cpp). Not part of the shipped programs,
// which draw into their window.

#include <cstdint>
#include <vector>

struct Rgba8 {
    uint8_t r, g, b, a;
};

struct OffscreenContext {
    int width = 0;
    int height = 0;
    // Why Init failed, for the caller to print.
    char error[256] = {};

    OffscreenContext() = default;
    ~OffscreenContext() { Release(); }
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // Creates the context, makes it current with GLEW loaded and binds a
    // width x height framebuffer (RGBA8 colour, 24-bit depth, 8-bit
    // stencil). False, with error filled in, when any of it is missing.
    bool Init(int width, int height);
    void Release();

    // Waits until everything drawn so far is in the framebuffer. Has the
    // signature of ShellSurface::swapBuffers, with the context as the
    // device context, so that a frame's buffer swap ends the frame here.
    static void FinishFrame(void* context);

    // The whole framebuffer, bottom row first as OpenGL numbers the rows.
    void ReadPixels(std::vector<Rgba8>& out) const;

private:
    // EGL: the display. WGL: the hidden window.
    void* display = nullptr;
    // WGL: the hidden window's device context.
    void* drawable = nullptr;
    void* context = nullptr;
    unsigned framebuffer = 0;
    unsigned colourBuffer = 0;
    unsigned depthStencilBuffer = 0;

    bool Fail(const char* format, ...);

    // The platform's part: a context of its own, current on this thread
    // (false after Fail), and its end.
    bool MakeContextCurrent();
    bool ContextIsCurrent() const;
    void DestroyContext();
};

// Writes rows of RGBA pixels, bottom row first, as an 8-bit RGB PNG with
// the top row first. False, with error filled in, when it cannot.
bool WritePng(const char* path, int width, int height, const std::vector<Rgba8>& pixels, char* error,
              int errorSize);
