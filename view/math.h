#pragma once

#include "sim/core/vec3.h"

// Column-major 4x4 matrix: row r, column n at index 4n + r, as glLoadMatrixf
// expects it.
struct Mat4 {
    float m[16] = {};

    float& operator[](int i) { return m[i]; }
    float operator[](int i) const { return m[i]; }

    // out = b . this in column-major reading: a vector goes through this
    // matrix first and b second. out must be distinct from both operands.
    void Multiply(Mat4& out, const Mat4& b) const;
};

// Turns v by -angle under the right-hand rule about a unit axis.
void RotateAboutAxis(float angle, Vec3& v, const Vec3& axis);

// Bit-pattern estimate of 1 / sqrt(q) with one Newton step (about 0.2 %).
float FastInvSqrt(float q);

// Scales v by FastInvSqrt of its squared length.
void Normalise(Vec3& v);

Vec3 Cross(const Vec3& a, const Vec3& b);
float Dot(const Vec3& a, const Vec3& b);

void Perspective(Mat4& out, float fovy, float aspect, float zNear, float zFar);
