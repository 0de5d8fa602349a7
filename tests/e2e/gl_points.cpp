// Preloaded into a program by the storm test: counts the points each frame
// draws (vertices between glBegin(GL_POINTS) and glEnd) and, at every buffer
// swap, writes the count of the frame just finished into the file that
// GL_POINTS_FILE names. Every call goes on to the real libGL. Where the
// camera looks plays no part, so after any storm of flying and turning the
// count says whether the particles are still drawn.
//
// A native program calls libGL by name, which the functions below take
// over. Wine opens libGL itself and asks that handle with dlsym, and
// glXGetProcAddressARB for the glX functions, which no preloaded name
// reaches: so those two lookups are taken over too, and hand out the
// functions here in place of what libGL gave, which they then go on to.
#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool insidePoints = false;
long framePoints = 0;

using Lookup = void* (*)(void*, const char*);

Lookup RealDlsym() {
    static const auto real = reinterpret_cast<Lookup>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"));
    return real;
}

// The functions taken over, with what a lookup of libGL gave for each when
// the program asked that way.
struct Taken {
    const char* name;
    void* own;
    void* real;
};
Taken taken[] = {
    {"glBegin", reinterpret_cast<void*>(&glBegin), nullptr},
    {"glEnd", reinterpret_cast<void*>(&glEnd), nullptr},
    {"glVertex3f", reinterpret_cast<void*>(&glVertex3f), nullptr},
    {"glXSwapBuffers", reinterpret_cast<void*>(&glXSwapBuffers), nullptr},
    {"glXGetProcAddressARB", reinterpret_cast<void*>(&glXGetProcAddressARB), nullptr},
};

Taken* Find(const char* name) {
    for (Taken& entry : taken) {
        if (std::strcmp(entry.name, name) == 0) return &entry;
    }
    return nullptr;
}

template <class Function>
Function Next(const char* name) {
    const Taken* entry = Find(name);
    void* real = entry->real ? entry->real : RealDlsym()(RTLD_NEXT, name);
    return reinterpret_cast<Function>(real);
}

int CountFile() {
    const char* path = std::getenv("GL_POINTS_FILE");
    return path ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
}

// The real function REAL found under NAME, or its stand-in here.
void* Substitute(const char* name, void* real) {
    Taken* entry = real ? Find(name) : nullptr;
    if (entry == nullptr) return real;
    entry->real = real;
    return entry->own;
}

}  // namespace

extern "C" {

void glBegin(GLenum mode) {
    static const auto next = Next<void (*)(GLenum)>("glBegin");
    insidePoints = mode == GL_POINTS;
    next(mode);
}

void glEnd() {
    static const auto next = Next<void (*)()>("glEnd");
    insidePoints = false;
    next();
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    static const auto next = Next<void (*)(GLfloat, GLfloat, GLfloat)>("glVertex3f");
    if (insidePoints) ++framePoints;
    next(x, y, z);
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static const auto next = Next<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    static const int file = CountFile();
    if (file >= 0) {
        // Fixed width, written in place: a reader sees one whole count.
        char line[24];
        const int length = std::snprintf(line, sizeof line, "%20ld\n", framePoints);
        [[maybe_unused]] const ssize_t written = pwrite(file, line, length, 0);
    }
    framePoints = 0;
    next(display, drawable);
}

__GLXextFuncPtr glXGetProcAddressARB(const GLubyte* name) {
    static const auto next =
        Next<__GLXextFuncPtr (*)(const GLubyte*)>("glXGetProcAddressARB");
    const char* text = reinterpret_cast<const char*>(name);
    return reinterpret_cast<__GLXextFuncPtr>(
        Substitute(text, reinterpret_cast<void*>(next(name))));
}

void* dlsym(void* handle, const char* name) {
    void* real = RealDlsym()(handle, name);
    // A lookup in a handle: Wine's in libGL. Only this library asks by
    // RTLD_NEXT (which the real dlsym takes as asked from here), and it
    // must find the real functions.
    if (handle == RTLD_NEXT || handle == RTLD_DEFAULT) return real;
    return Substitute(name, real);
}
}

