#include "shell/context_profile.h"

#include <GL/glew.h>

#include <cstring>

namespace {

bool HasExtension(const char* name) {
    if (glGetStringi == nullptr) return false;
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* extension = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (extension != nullptr &&
            std::strcmp(reinterpret_cast<const char*>(extension), name) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

// GLEW's extension flags are not looked at: they were filled for whichever
// context was current at glewInit and are not reset for another one.
bool HasFixedFunction() {
    GLint major = 0;
    GLint minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    // Before 3.0 the version query itself does not exist and leaves 0.
    if (major < 3 || (major == 3 && minor < 1)) return true;
    if (major > 3 || minor > 1) {
        GLint profile = 0;
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
        if ((profile & GL_CONTEXT_CORE_PROFILE_BIT) != 0) return false;
        if ((profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT) != 0) return true;
    }
    return HasExtension("GL_ARB_compatibility");
}
