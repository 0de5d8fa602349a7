#pragma once

#include <GL/glew.h>

#include <cstdint>

#include "view/scene.h"

// What the window's size handler does for a client area of width x height:
// the viewport, the scene's record of it and a projection of that aspect.
inline void ApplyViewportSize(Scene& scene, int32_t width, int32_t height) {
    scene.viewportWidth = width;
    scene.viewportHeight = height;
    glViewport(0, 0, width, height);
    Perspective(scene.projection, 45.0f, static_cast<float>(width) / static_cast<float>(height), scene.nearPlane,
                scene.farPlane);
}
