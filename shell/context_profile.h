#pragma once

// Whether the current OpenGL context still offers the fixed-function
// pipeline (immediate mode, glLoadMatrixf) the particles are drawn with:
// any context before 3.1, a compatibility profile, or 3.1 with
// GL_ARB_compatibility. Needs GLEW's entry points loaded.
bool HasFixedFunction();
