/* glPushAttrib and glPopAttrib for Emscripten's legacy GL emulation, which
   lacks them: nothing is saved or restored. The OpenGL2 backend restores the
   bound texture, viewport, scissor box and matrices itself but leaves the
   rest to the attribute stack, so after the panel is drawn in the browser
   blending and the scissor test and GL_TEXTURE_2D stay on, depth testing,
   culling and lighting off, the blend function is the panel's and the matrix
   mode is GL_PROJECTION: whatever draws next sets what it needs itself. */
#include <GL/gl.h>

void glPushAttrib(GLbitfield mask) { (void)mask; }
void glPopAttrib(void) {}

/* The backend also asks for the polygon mode and the shade model, which
   WebGL does not know (each query logs INVALID_ENUM, every frame), and sets
   the shade model, which the emulation reports as an error on the page's
   console. Both are only ever GL_FILL and GL_SMOOTH here: the backend's
   calls are routed to these (imgui/CMakeLists.txt), which answer so and
   pass every other query on. */
void pondsim_web_get_integerv(GLenum name, GLint* values) {
    if (name == GL_POLYGON_MODE) {
        values[0] = GL_FILL;
        values[1] = GL_FILL;
        return;
    }
    if (name == GL_SHADE_MODEL) {
        values[0] = GL_SMOOTH;
        return;
    }
    glGetIntegerv(name, values);
}

void pondsim_web_shade_model(GLenum mode) { (void)mode; }

/* Before it uploads the font the backend sets GL_UNPACK_ROW_LENGTH to 0,
   which is already its value; WebGL 1 has no such name and logs
   INVALID_ENUM. That call is dropped, every other one passed on. */
void pondsim_web_pixel_storei(GLenum name, GLint value) {
    if (name == GL_UNPACK_ROW_LENGTH && value == 0) return;
    glPixelStorei(name, value);
}
