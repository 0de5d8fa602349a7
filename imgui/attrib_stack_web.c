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
