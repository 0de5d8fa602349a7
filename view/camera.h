#pragma once

#include "sim/core/vec3.h"
#include "view/input_state.h"
#include "view/math.h"

// Free-flight camera looking along -back.
struct Camera {
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 up{0.0f, 1.0f, 0.0f};
    Vec3 back{0.0f, 0.0f, 1.0f};

    void GetViewMatrix(Mat4& out) const;
    // The demo's flight: units a tick.
    static constexpr float kDemoStep = 1.5f;
    // One tick of movement by the held keys, `step` units along each.
    void Move(const InputState& input, float step = kDemoStep);
    // Turns by a cursor displacement in pixels (y grows downwards).
    void Look(const float delta[2]);
};
