#pragma once

// The WGL extension entry points that shell/ uses, for Linux, carried out
// over GLX_ARB_create_context and GLX frame-buffer configurations. As with
// GLEW on Windows, the two entry points are pointers that stay null until
// a context has been made current on a driver that offers the extension.

#include <GL/glew.h>

#include <windows.h>

#define WGL_DRAW_TO_WINDOW_ARB 0x2001
#define WGL_SUPPORT_OPENGL_ARB 0x2010
#define WGL_DOUBLE_BUFFER_ARB 0x2011
#define WGL_PIXEL_TYPE_ARB 0x2013
#define WGL_COLOR_BITS_ARB 0x2014
#define WGL_RED_BITS_ARB 0x2015
#define WGL_GREEN_BITS_ARB 0x2017
#define WGL_BLUE_BITS_ARB 0x2019
#define WGL_ALPHA_BITS_ARB 0x201B
#define WGL_DEPTH_BITS_ARB 0x2022
#define WGL_STENCIL_BITS_ARB 0x2023
#define WGL_TYPE_RGBA_ARB 0x202B

#define WGL_CONTEXT_MAJOR_VERSION_ARB 0x2091
#define WGL_CONTEXT_MINOR_VERSION_ARB 0x2092
#define WGL_CONTEXT_FLAGS_ARB 0x2094
#define WGL_CONTEXT_PROFILE_MASK_ARB 0x9126
#define WGL_CONTEXT_CORE_PROFILE_BIT_ARB 0x00000001
#define WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB 0x00000002

using PFNWGLCHOOSEPIXELFORMATARBPROC = BOOL (*)(HDC deviceContext, const int* intAttributes,
                                                 const FLOAT* floatAttributes, UINT maxFormats,
                                                 int* formats, UINT* formatCount);
using PFNWGLCREATECONTEXTATTRIBSARBPROC = HGLRC (*)(HDC deviceContext, HGLRC shareContext,
                                                     const int* attributes);

extern PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB;
extern PFNWGLCREATECONTEXTATTRIBSARBPROC wglCreateContextAttribsARB;

// GL_TRUE when every WGL extension named in the space-separated list is
// offered; answered from the GLX extension of the same name.
GLboolean wglewIsSupported(const char* names);
