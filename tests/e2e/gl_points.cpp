// Preloaded into a native program by the storm test: counts the points each
// frame draws (vertices between glBegin(GL_POINTS) and glEnd) and, at every
// buffer swap, writes the count of the frame just finished into the file that
// GL_POINTS_FILE names. Every call goes on to the real libGL. Where the
// camera looks plays no part, so after any storm of flying and turning the
// count says whether the particles are still drawn.
#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool insidePoints = false;
long framePoints = 0;

template <class Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int CountFile() {
    const char* path = std::getenv("GL_POINTS_FILE");
    return path ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
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
}
