#pragma once

#include <cstdint>

#include "sim/demo/particle_system.h"
#include "view/camera.h"
#include "demo/graphics_context.h"
#include "view/input_state.h"
#include "view/math.h"

// The state of the running demo. Large (the particle grid), so it lives in
// static storage; every field but the system starts at zero, which is what a
// zero-filled static object gives before construction.
struct Scene {
    InputState input;
    GraphicsContext graphics;
    int32_t viewportWidth = 0;
    int32_t viewportHeight = 0;
    float nearPlane = 0.0f;
    float farPlane = 0.0f;
    Mat4 view;
    Mat4 projection;
    Camera camera;
    ParticleSystem system;
    int32_t requestedCount = 0;

    void Setup();
    // The viewport, its record here and a projection of its aspect, for a
    // client area of width x height. An empty side (a minimised window) keeps
    // the last projection: its aspect would be 0 or infinite.
    void Resize(int32_t width, int32_t height);
    void Render();
    void Step();
    void SetInput(const char* name, bool state);

private:
    void ReseedToRequest();
    void Project(float aspect);
};
