#include "view/math.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>

void Mat4::Multiply(Mat4& out, const Mat4& b) const {
    assert(&out != this && &out != &b);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            out.m[4 * i + j] = m[4 * i] * b.m[j] + m[4 * i + 1] * b.m[4 + j] + m[4 * i + 2] * b.m[8 + j] +
                               m[4 * i + 3] * b.m[12 + j];
        }
    }
}

void RotateAboutAxis(float angle, Vec3& v, const Vec3& axis) {
    const float sa = sinf(angle);
    const float ca = cosf(angle);
    const float h = 1.0f - ca;
    const float kx = axis.x, ky = axis.y, kz = axis.z;
    const float vx = v.x, vy = v.y, vz = v.z;
    v.x = vx * (kx * kx * h + ca) + vy * (kx * ky * h + kz * sa) + vz * (kx * kz * h - ky * sa);
    v.y = vx * (kx * ky * h - kz * sa) + vy * (ky * ky * h + ca) + vz * (ky * kz * h + kx * sa);
    v.z = vx * (kx * kz * h + ky * sa) + vy * (ky * kz * h - kx * sa) + vz * (kz * kz * h + ca);
}

float FastInvSqrt(float q) {
    const int32_t i = std::bit_cast<int32_t>(q) >> 1;
    const float y = std::bit_cast<float>(0x5F3759DF - i);
    float t = q * 0.5f;
    t = t * y;
    t = t * y;
    return (1.5f - t) * y;
}

void Normalise(Vec3& v) {
    const float s = FastInvSqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    v.x = v.x * s;
    v.y = v.y * s;
    v.z = v.z * s;
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const Vec3& a, const Vec3& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

void Perspective(Mat4& out, float fovy, float aspect, float zNear, float zFar) {
    const float half = fovy * 0.5f;
    const double t = static_cast<double>(half) * 3.141592653589793 / 180.0;
    const double cot = cos(t) / sin(t);
    out = Mat4{};
    out.m[0] = static_cast<float>(cot / static_cast<double>(aspect));
    out.m[5] = static_cast<float>(cot);
    out.m[10] = -((zNear + zFar) / (zFar - zNear));
    out.m[11] = -1.0f;
    out.m[14] = ((zNear * -2.0f) * zFar) / (zFar - zNear);
}
