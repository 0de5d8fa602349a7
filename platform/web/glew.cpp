// What glewInit does on Windows, for a WebGL context: loads the entry
// points the programs use from the current context. WebGL 1 has no
// glGetStringi, so that one stays null.

#include <emscripten/html5.h>

#include <GL/glew.h>

PondsimEnableVertexAttribArrayProc pondsimEnableVertexAttribArray = nullptr;
PondsimGetStringiProc pondsimGetStringi = nullptr;

namespace {

// In a compatibility context, generic vertex arrays take no part in
// glBegin/glEnd drawing, so enabling them (as the scene's set-up does)
// changes no picture. WebGL refuses every draw while an enabled array has
// no buffer, the emulated immediate mode's own draws included, so the
// enabling is kept from it: the picture stays the one a desktop driver
// gives.
void EnableArrayOutsideImmediateMode(GLuint) {}

}  // namespace

GLenum glewInit() {
    if (emscripten_webgl_get_current_context() == 0) return GLEW_ERROR_NO_GL_VERSION;
    pondsimEnableVertexAttribArray = EnableArrayOutsideImmediateMode;
    return GLEW_OK;
}
