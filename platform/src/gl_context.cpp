// Device contexts, pixel formats, WGL contexts and the WGL ARB extension
// over GLX. A pixel format is a GLX-capable X visual of the screen, numbered
// from 1 in the order the server lists them; setting one on a window that
// was made on another visual gives it a new X window on the chosen one
// (windows are set up before they are first shown, so nobody sees this).

#include <GL/wglew.h>
// After GLEW, which stands in for gl.h. glxew.h is left out on purpose: it
// would turn the GLX 1.3 calls into pointers that only glewInit fills.
#include <GL/glx.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform_state.h"
#include "platform_test.h"

PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB = nullptr;
PFNWGLCREATECONTEXTATTRIBSARBPROC wglCreateContextAttribsARB = nullptr;

namespace platform {
namespace {

struct RenderContext {
    bool live = false;
    GLXContext context = nullptr;
    int pixelFormat = 0;
};

std::vector<RenderContext*> contexts;
RenderContext* current = nullptr;
bool everCurrent = false;

struct Format {
    XVisualInfo visual;
    int doubleBuffer, rgba, red, green, blue, alpha, depth, stencil, accum, samples;
};

const std::vector<Format>& Formats() {
    static std::vector<Format> formats;
    static bool listed = false;
    Display* display = XDisplayIfOpen();
    if (listed || display == nullptr) return formats;
    listed = true;
    XVisualInfo pattern = {};
    pattern.screen = DefaultScreen(display);
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask, &pattern, &count);
    for (int i = 0; i < count; ++i) {
        XVisualInfo* visual = &visuals[i];
        int usesGl = 0;
        int level = 0;
        if (glXGetConfig(display, visual, GLX_USE_GL, &usesGl) != 0 || usesGl == 0) continue;
        glXGetConfig(display, visual, GLX_LEVEL, &level);
        if (level != 0) continue;
        Format format = {};
        format.visual = *visual;
        glXGetConfig(display, visual, GLX_DOUBLEBUFFER, &format.doubleBuffer);
        glXGetConfig(display, visual, GLX_RGBA, &format.rgba);
        glXGetConfig(display, visual, GLX_RED_SIZE, &format.red);
        glXGetConfig(display, visual, GLX_GREEN_SIZE, &format.green);
        glXGetConfig(display, visual, GLX_BLUE_SIZE, &format.blue);
        glXGetConfig(display, visual, GLX_ALPHA_SIZE, &format.alpha);
        glXGetConfig(display, visual, GLX_DEPTH_SIZE, &format.depth);
        glXGetConfig(display, visual, GLX_STENCIL_SIZE, &format.stencil);
        int accumRed = 0, accumGreen = 0, accumBlue = 0, accumAlpha = 0;
        glXGetConfig(display, visual, GLX_ACCUM_RED_SIZE, &accumRed);
        glXGetConfig(display, visual, GLX_ACCUM_GREEN_SIZE, &accumGreen);
        glXGetConfig(display, visual, GLX_ACCUM_BLUE_SIZE, &accumBlue);
        glXGetConfig(display, visual, GLX_ACCUM_ALPHA_SIZE, &accumAlpha);
        format.accum = accumRed + accumGreen + accumBlue + accumAlpha;
        glXGetConfig(display, visual, GLX_SAMPLES, &format.samples);
        formats.push_back(format);
    }
    if (visuals != nullptr) XFree(visuals);
    return formats;
}

int FormatOfVisual(VisualID id) {
    const std::vector<Format>& formats = Formats();
    for (size_t i = 0; i < formats.size(); ++i) {
        if (formats[i].visual.visualid == id) return static_cast<int>(i) + 1;
    }
    return 0;
}

// How far a format is from a request: a missing bit weighs far more than
// a spare one, as ChoosePixelFormat gives the closest format rather than
// none when a request cannot be met exactly (32 stencil bits, for one).
long Distance(int have, int want) {
    return have < want ? 1000L * (want - have) : static_cast<long>(have - want);
}

// The format of `formats` closest to the request, 1-based; 0 for none. A
// depth or stencil buffer asked for is never traded for other bits: without
// it the picture is wrong, where fewer accumulation bits go unnoticed.
int ClosestFormat(const std::vector<Format>& formats, const PIXELFORMATDESCRIPTOR& descriptor, int rootDepth) {
    const bool wantDouble = (descriptor.dwFlags & PFD_DOUBLEBUFFER) != 0;
    int best = 0;
    long bestDistance = 0;
    for (size_t i = 0; i < formats.size(); ++i) {
        const Format& format = formats[i];
        if (format.rgba == 0 || (format.doubleBuffer != 0) != wantDouble) continue;
        if (format.visual.c_class != TrueColor && format.visual.c_class != DirectColor) continue;
        // The root's depth: a window of another depth needs a compositor to
        // show its pixels as meant.
        long distance = format.visual.depth == rootDepth ? 0 : 100000L;
        if ((descriptor.cDepthBits > 0 && format.depth == 0) || (descriptor.cStencilBits > 0 && format.stencil == 0)) {
            distance += 100000L;
        }
        distance += Distance(format.red + format.green + format.blue + format.alpha, descriptor.cColorBits);
        distance += Distance(format.depth, descriptor.cDepthBits);
        distance += Distance(format.stencil, descriptor.cStencilBits);
        distance += Distance(format.accum, descriptor.cAccumBits);
        distance += format.samples;
        if (best == 0 || distance < bestDistance) {
            best = static_cast<int>(i) + 1;
            bestDistance = distance;
        }
    }
    return best;
}

RenderContext* ContextFromHandle(HGLRC handle) {
    for (RenderContext* context : contexts) {
        if (reinterpret_cast<HGLRC>(context) == handle) return context->live ? context : nullptr;
    }
    return nullptr;
}

HGLRC Keep(GLXContext glx, int pixelFormat) {
    RenderContext* context = new RenderContext{true, glx, pixelFormat};
    contexts.push_back(context);
    return reinterpret_cast<HGLRC>(context);
}

bool HasGlxExtension(Display* display, const char* name) {
    const char* list = glXQueryExtensionsString(display, DefaultScreen(display));
    if (list == nullptr) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(list, name); at != nullptr; at = std::strstr(at + 1, name)) {
        const bool starts = at == list || at[-1] == ' ';
        const bool ends = at[length] == '\0' || at[length] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

// The frame-buffer configuration behind a window's visual, which
// glXCreateContextAttribsARB needs where glXCreateContext takes the visual.
GLXFBConfig ConfigOfVisual(Display* display, VisualID id) {
    int count = 0;
    GLXFBConfig* configs = glXGetFBConfigs(display, DefaultScreen(display), &count);
    GLXFBConfig found = nullptr;
    for (int i = 0; i < count && found == nullptr; ++i) {
        int visual = 0;
        if (glXGetFBConfigAttrib(display, configs[i], GLX_VISUAL_ID, &visual) == Success &&
            static_cast<VisualID>(visual) == id) {
            found = configs[i];
        }
    }
    if (configs != nullptr) XFree(configs);
    return found;
}

BOOL ChoosePixelFormatArb(HDC deviceContext, const int* intAttributes, const FLOAT* floatAttributes,
                          UINT maxFormats, int* formats, UINT* formatCount) {
    Display* display = XDisplayIfOpen();
    if (display == nullptr || WindowFromDeviceContext(deviceContext) == nullptr || formats == nullptr ||
        formatCount == nullptr) {
        return FALSE;
    }
    if (floatAttributes != nullptr && floatAttributes[0] != 0.0f) return FALSE;
    std::vector<int> glx;
    for (const int* pair = intAttributes; pair != nullptr && pair[0] != 0; pair += 2) {
        const int value = pair[1];
        switch (pair[0]) {
        case WGL_DRAW_TO_WINDOW_ARB:
            if (value != 0) glx.insert(glx.end(), {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT});
            break;
        case WGL_SUPPORT_OPENGL_ARB: break;  // every GLX configuration does
        case WGL_DOUBLE_BUFFER_ARB: glx.insert(glx.end(), {GLX_DOUBLEBUFFER, value != 0 ? True : False}); break;
        case WGL_PIXEL_TYPE_ARB:
            if (value != WGL_TYPE_RGBA_ARB) return FALSE;
            glx.insert(glx.end(), {GLX_RENDER_TYPE, GLX_RGBA_BIT});
            break;
        case WGL_COLOR_BITS_ARB: glx.insert(glx.end(), {GLX_BUFFER_SIZE, value}); break;
        case WGL_RED_BITS_ARB: glx.insert(glx.end(), {GLX_RED_SIZE, value}); break;
        case WGL_GREEN_BITS_ARB: glx.insert(glx.end(), {GLX_GREEN_SIZE, value}); break;
        case WGL_BLUE_BITS_ARB: glx.insert(glx.end(), {GLX_BLUE_SIZE, value}); break;
        case WGL_ALPHA_BITS_ARB: glx.insert(glx.end(), {GLX_ALPHA_SIZE, value}); break;
        case WGL_DEPTH_BITS_ARB: glx.insert(glx.end(), {GLX_DEPTH_SIZE, value}); break;
        case WGL_STENCIL_BITS_ARB: glx.insert(glx.end(), {GLX_STENCIL_SIZE, value}); break;
        default: return FALSE;  // an attribute this layer does not know
        }
    }
    glx.push_back(None);
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), glx.data(), &count);
    UINT written = 0;
    for (int i = 0; i < count && written < maxFormats; ++i) {
        int visual = 0;
        if (glXGetFBConfigAttrib(display, configs[i], GLX_VISUAL_ID, &visual) != Success || visual == 0) continue;
        const int format = FormatOfVisual(static_cast<VisualID>(visual));
        if (format != 0) formats[written++] = format;
    }
    if (configs != nullptr) XFree(configs);
    *formatCount = written;
    return TRUE;
}

HGLRC CreateContextAttribsArb(HDC deviceContext, HGLRC share, const int* attributes) {
    Display* display = XDisplayIfOpen();
    WindowRecord* window = WindowFromDeviceContext(deviceContext);
    if (display == nullptr || window == nullptr || window->pixelFormat == 0) return nullptr;
    const RenderContext* shared = share != nullptr ? ContextFromHandle(share) : nullptr;
    if (share != nullptr && shared == nullptr) return nullptr;
    std::vector<int> glx;
    for (const int* pair = attributes; pair != nullptr && pair[0] != 0; pair += 2) {
        switch (pair[0]) {
        case WGL_CONTEXT_MAJOR_VERSION_ARB: glx.push_back(GLX_CONTEXT_MAJOR_VERSION_ARB); break;
        case WGL_CONTEXT_MINOR_VERSION_ARB: glx.push_back(GLX_CONTEXT_MINOR_VERSION_ARB); break;
        case WGL_CONTEXT_FLAGS_ARB: glx.push_back(GLX_CONTEXT_FLAGS_ARB); break;
        case WGL_CONTEXT_PROFILE_MASK_ARB: glx.push_back(GLX_CONTEXT_PROFILE_MASK_ARB); break;
        default: return nullptr;
        }
        glx.push_back(pair[1]);
    }
    glx.push_back(None);
    using CreateProc = GLXContext (*)(Display*, GLXFBConfig, GLXContext, Bool, const int*);
    const auto create = reinterpret_cast<CreateProc>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
    XVisualInfo visual;
    if (create == nullptr || !FormatVisual(window->pixelFormat, &visual)) return nullptr;
    const GLXFBConfig config = ConfigOfVisual(display, visual.visualid);
    if (config == nullptr) return nullptr;
    // A version the driver cannot give is reported as an X error.
    BeginErrorTrap();
    GLXContext glx_context = create(display, config, shared != nullptr ? shared->context : nullptr, True, glx.data());
    if (!EndErrorTrap() || glx_context == nullptr) {
        if (glx_context != nullptr) glXDestroyContext(display, glx_context);
        return nullptr;
    }
    return Keep(glx_context, window->pixelFormat);
}

// GLEW loads the WGL entry points when a context is first current; the
// same holds here, and only where the driver offers the extension.
void LoadWglEntryPoints(Display* display) {
    everCurrent = true;
    if (HasGlxExtension(display, "GLX_ARB_create_context")) {
        wglChoosePixelFormatARB = ChoosePixelFormatArb;
        wglCreateContextAttribsARB = CreateContextAttribsArb;
    }
}

}  // namespace

bool FormatVisual(int format, XVisualInfo* visual) {
    const std::vector<Format>& formats = Formats();
    if (format < 1 || static_cast<size_t>(format) > formats.size()) return false;
    *visual = formats[static_cast<size_t>(format) - 1].visual;
    return true;
}

}  // namespace platform

using platform::WindowRecord;

int ChoosePixelFormat(HDC deviceContext, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (platform::Fails("ChoosePixelFormat")) return 0;
    Display* display = platform::XDisplayIfOpen();
    if (display == nullptr || platform::WindowFromDeviceContext(deviceContext) == nullptr ||
        descriptor == nullptr || descriptor->iPixelType != PFD_TYPE_RGBA) {
        return 0;
    }
    return platform::ClosestFormat(platform::Formats(), *descriptor, DefaultDepth(display, DefaultScreen(display)));
}

BOOL SetPixelFormat(HDC deviceContext, int format, const PIXELFORMATDESCRIPTOR*) {
    if (platform::Fails("SetPixelFormat")) return FALSE;
    WindowRecord* window = platform::WindowFromDeviceContext(deviceContext);
    XVisualInfo visual;
    if (window == nullptr || !platform::FormatVisual(format, &visual)) return FALSE;
    // A window's pixel format is set once.
    if (window->pixelFormat != 0) return window->pixelFormat == format ? TRUE : FALSE;
    if (!platform::GiveVisual(*window, visual)) return FALSE;
    window->pixelFormat = format;
    return TRUE;
}

BOOL SwapBuffers(HDC deviceContext) {
    WindowRecord* window = platform::WindowFromDeviceContext(deviceContext);
    Display* display = platform::XDisplayIfOpen();
    // A window without a pixel format has no buffers to swap (GLX would
    // answer with an X error).
    if (window == nullptr || display == nullptr || window->pixelFormat == 0 || window->xid == 0) return FALSE;
    glXSwapBuffers(display, window->xid);
    return TRUE;
}

HGLRC wglCreateContext(HDC deviceContext) {
    WindowRecord* window = platform::WindowFromDeviceContext(deviceContext);
    Display* display = platform::XDisplayIfOpen();
    XVisualInfo visual;
    if (window == nullptr || display == nullptr || !platform::FormatVisual(window->pixelFormat, &visual)) {
        return nullptr;  // no pixel format set
    }
    platform::BeginErrorTrap();
    GLXContext context = glXCreateContext(display, &visual, nullptr, True);
    if (!platform::EndErrorTrap() || context == nullptr) {
        if (context != nullptr) glXDestroyContext(display, context);
        return nullptr;
    }
    return platform::Keep(context, window->pixelFormat);
}

BOOL wglMakeCurrent(HDC deviceContext, HGLRC handle) {
    Display* display = platform::XDisplayIfOpen();
    if (handle == nullptr) {
        if (display != nullptr && platform::current != nullptr) glXMakeCurrent(display, None, nullptr);
        platform::current = nullptr;
        return TRUE;
    }
    platform::RenderContext* context = platform::ContextFromHandle(handle);
    WindowRecord* window = platform::WindowFromDeviceContext(deviceContext);
    // A context is current only on a window of its own pixel format.
    if (display == nullptr || context == nullptr || window == nullptr || window->xid == 0 ||
        window->pixelFormat != context->pixelFormat) {
        return FALSE;
    }
    if (!glXMakeCurrent(display, window->xid, context->context)) return FALSE;
    platform::current = context;
    platform::LoadWglEntryPoints(display);
    return TRUE;
}

BOOL wglDeleteContext(HGLRC handle) {
    platform::RenderContext* context = platform::ContextFromHandle(handle);
    Display* display = platform::XDisplayIfOpen();
    if (context == nullptr || display == nullptr) return FALSE;
    if (context == platform::current) wglMakeCurrent(nullptr, nullptr);
    glXDestroyContext(display, context->context);
    context->context = nullptr;
    context->live = false;
    return TRUE;
}

GLboolean wglewIsSupported(const char* names) {
    Display* display = platform::XDisplayIfOpen();
    // Like GLEW, nothing is known before a context has been current.
    if (names == nullptr || display == nullptr || !platform::everCurrent) return GL_FALSE;
    const std::string list = names;
    size_t at = 0;
    bool any = false;
    while (at < list.size()) {
        const size_t end = std::min(list.find(' ', at), list.size());
        const std::string name = list.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        if (name.compare(0, 4, "WGL_") != 0) return GL_FALSE;
        if (!platform::HasGlxExtension(display, ("GLX_" + name.substr(4)).c_str())) return GL_FALSE;
        any = true;
    }
    return any ? GL_TRUE : GL_FALSE;
}

int platform_test::ClosestPixelFormat(const std::vector<VisualTraits>& visuals,
                                      const PIXELFORMATDESCRIPTOR& request) {
    std::vector<platform::Format> formats;
    for (const VisualTraits& traits : visuals) {
        platform::Format format = {};
        format.visual.c_class = TrueColor;
        format.visual.depth = 24;
        format.rgba = 1;
        format.doubleBuffer = traits.doubleBuffer ? 1 : 0;
        format.red = traits.colourBits;
        format.depth = traits.depthBits;
        format.stencil = traits.stencilBits;
        format.accum = traits.accumBits;
        formats.push_back(format);
    }
    return platform::ClosestFormat(formats, request, 24);
}
