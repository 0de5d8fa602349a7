#include "view/camera.h"

namespace {

constexpr float kPixelsPerRadian = 50.0f;

}  // namespace

void Camera::GetViewMatrix(Mat4& out) const {
    Vec3 side = Cross(up, back);
    Normalise(side);
    out.m[0] = side.x;
    out.m[4] = side.y;
    out.m[8] = side.z;
    out.m[1] = up.x;
    out.m[5] = up.y;
    out.m[9] = up.z;
    out.m[2] = back.x;
    out.m[6] = back.y;
    out.m[10] = back.z;
    out.m[3] = 0.0f;
    out.m[7] = 0.0f;
    out.m[11] = 0.0f;
    out.m[12] = -Dot(side, position);
    out.m[13] = -Dot(up, position);
    out.m[14] = -Dot(back, position);
    out.m[15] = 1.0f;
}

void Camera::Move(const InputState& input, float step) {
    // Not normalised: sideways steps scale with |up| |back|, as the forward
    // ones scale with |back|.
    const Vec3 side = Cross(up, back);
    if (input.flags[InputState::kUp]) {
        position.x = position.x - back.x * step;
        position.y = position.y - back.y * step;
        position.z = position.z - back.z * step;
    }
    if (input.flags[InputState::kDown]) {
        position.x = position.x + back.x * step;
        position.y = position.y + back.y * step;
        position.z = position.z + back.z * step;
    }
    if (input.flags[InputState::kLeft]) {
        position.x = position.x - side.x * step;
        position.y = position.y - side.y * step;
        position.z = position.z - side.z * step;
    }
    if (input.flags[InputState::kRight]) {
        position.x = position.x + side.x * step;
        position.y = position.y + side.y * step;
        position.z = position.z + side.z * step;
    }
    if (input.flags[InputState::kEnter]) {
        position.y = position.y + step;
    }
    if (input.flags[InputState::kShift]) {
        position.y = position.y - step;
    }
}

void Camera::Look(const float delta[2]) {
    const Vec3 worldUp{0.0f, 1.0f, 0.0f};
    const float yaw = delta[0] / kPixelsPerRadian;
    RotateAboutAxis(yaw, back, worldUp);
    RotateAboutAxis(yaw, up, worldUp);
    Normalise(back);
    Normalise(up);

    Vec3 axis = Cross(up, back);
    Normalise(axis);
    const float pitch = delta[1] / kPixelsPerRadian;
    RotateAboutAxis(pitch, back, axis);
    RotateAboutAxis(pitch, up, axis);
    Normalise(back);
    Normalise(up);
}
