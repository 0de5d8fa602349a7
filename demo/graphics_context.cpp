#include "demo/graphics_context.h"

#include <GL/glew.h>

ShellSurface shellSurface;

void GraphicsContext::Init() {
    windowHandle = shellSurface.windowHandle;
    deviceContext = shellSurface.deviceContext;
    glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
    glClearStencil(0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    // Loaded by GLEW; still null when no context has been set up.
    if (glEnableVertexAttribArray != nullptr) {
        for (GLuint index = 0; index < 6; ++index) {
            glEnableVertexAttribArray(index);
        }
    }
}

void GraphicsContext::SwapBuffers() {
    if (deviceContext != nullptr && shellSurface.swapBuffers != nullptr) {
        shellSurface.swapBuffers(deviceContext);
    }
}
