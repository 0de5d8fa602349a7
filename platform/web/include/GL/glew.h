#pragma once

// GLEW for the web build. Emscripten's header declares OpenGL and GLEW's
// names; the entry points that GLEW loads on Windows are pointers here too,
// null until glewInit has run with a context current, so that code which
// asks whether one was loaded gets a true answer. glewInit is the
// stand-in's (platform/web/glew.cpp).

#include_next <GL/glew.h>

using PondsimEnableVertexAttribArrayProc = void (*)(GLuint index);
using PondsimGetStringiProc = const GLubyte* (*)(GLenum name, GLuint index);

extern PondsimEnableVertexAttribArrayProc pondsimEnableVertexAttribArray;
extern PondsimGetStringiProc pondsimGetStringi;

#define glEnableVertexAttribArray pondsimEnableVertexAttribArray
#define glGetStringi pondsimGetStringi
