#pragma once

#include <cstdint>

#include "sim/particle_system.h"
#include "view/camera.h"
#include "view/graphics_context.h"
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
    void Render();
    void Step();
    void SetInput(const char* name, bool state);

private:
    void ReseedToRequest();
};
