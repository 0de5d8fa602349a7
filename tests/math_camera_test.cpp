// Vector and matrix math and the free-flight camera: the figures the picture
// and the mouse look depend on.

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "view/camera.h"
#include "view/math.h"

namespace {

// sinf and cosf belong to the C runtime: glibc's and the Windows runtime's
// differ in the last bit for some arguments, so what passes through them is
// compared within a few units in the last place near 1, on every build alike.
constexpr float kRuntimeTrigTolerance = 2e-6f;

float Length(const Vec3& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

void ExpectVecNear(const Vec3& v, float x, float y, float z, float tolerance) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

Camera PlacedCamera() {
    Camera camera;
    camera.position = Vec3{20.0f, 8.0f, 80.0f};
    return camera;
}

Camera LookedBy(float dx, float dy) {
    Camera camera = PlacedCamera();
    const float delta[2] = {dx, dy};
    camera.Look(delta);
    return camera;
}

}  // namespace

TEST(FastInvSqrt, KnownEstimatesAndAFiniteResultForZero) {
    EXPECT_EQ(FastInvSqrt(1.0f), 0.99830717f);
    EXPECT_EQ(FastInvSqrt(4.0f), 0.49915358f);
    EXPECT_EQ(FastInvSqrt(0.25f), 1.9966143f);
    EXPECT_NEAR(FastInvSqrt(0.0f), 1.98e19f, 0.01e19f);
    Vec3 zero{0.0f, 0.0f, 0.0f};
    Normalise(zero);
    EXPECT_TRUE(zero.x == 0.0f && zero.y == 0.0f && zero.z == 0.0f);
}

TEST(Normalise, SettlesSlightlyShortOfUnitLength) {
    Vec3 v{0.0f, 0.0f, 1.0f};
    Normalise(v);
    EXPECT_TRUE(v.x == 0.0f && v.y == 0.0f && v.z == 0.99830717f);
    Normalise(v);
    EXPECT_NEAR(Length(v), 0.99831241f, 2e-7f);
    for (int i = 0; i < 20; ++i) Normalise(v);
    EXPECT_NEAR(Length(v), 0.99831241f, 2e-7f);
}

TEST(RotateAboutAxis, TurnsByMinusTheAngleUnderTheRightHandRule) {
    Vec3 v{0.0f, 0.0f, 1.0f};
    RotateAboutAxis(1.5707964f, v, Vec3{0.0f, 1.0f, 0.0f});
    ExpectVecNear(v, -1.0f, 0.0f, 0.0f, kRuntimeTrigTolerance);
    Vec3 w{1.0f, 0.0f, 0.0f};
    RotateAboutAxis(1.5707964f, w, Vec3{0.0f, 0.0f, 1.0f});
    ExpectVecNear(w, 0.0f, -1.0f, 0.0f, kRuntimeTrigTolerance);
    Vec3 u{0.3f, -2.0f, 7.5f};
    RotateAboutAxis(0.0f, u, Vec3{0.6f, 0.8f, 0.0f});
    EXPECT_TRUE(u.x == 0.3f && u.y == -2.0f && u.z == 7.5f);
}

// A skew axis exercises every off-diagonal term; the reference is the vector
// form v ca - (k x v) sa + k (k . v)(1 - ca), in double.
TEST(RotateAboutAxis, MatchesTheVectorFormAboutASkewAxis) {
    const double n = std::sqrt(14.0), kx = 1.0 / n, ky = -2.0 / n, kz = 3.0 / n;
    const double vx = 2.0, vy = 0.5, vz = -1.0, angle = 0.7;
    const double ca = std::cos(angle), sa = std::sin(angle), dot = kx * vx + ky * vy + kz * vz;
    Vec3 v{2.0f, 0.5f, -1.0f};
    RotateAboutAxis(0.7f, v, Vec3{static_cast<float>(kx), static_cast<float>(ky), static_cast<float>(kz)});
    ExpectVecNear(v, static_cast<float>(vx * ca - (ky * vz - kz * vy) * sa + kx * dot * (1.0 - ca)),
                  static_cast<float>(vy * ca - (kz * vx - kx * vz) * sa + ky * dot * (1.0 - ca)),
                  static_cast<float>(vz * ca - (kx * vy - ky * vx) * sa + kz * dot * (1.0 - ca)),
                  kRuntimeTrigTolerance);
}

TEST(Perspective, FortyFiveDegreesOneTo5001) {
    for (float aspect : {1.0f, 800.0f / 600.0f}) {
        Mat4 m;
        for (float& e : m.m) e = 99.0f;  // every element must be written
        Perspective(m, 45.0f, aspect, 1.0f, 5001.0f);
        EXPECT_EQ(m[0], aspect == 1.0f ? 2.4142137f : 1.8106601f);
        EXPECT_EQ(m[5], 2.4142137f);
        EXPECT_EQ(m[10], -1.0004f);
        EXPECT_EQ(m[11], -1.0f);
        EXPECT_EQ(m[14], -2.0004f);
        for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(m[i], 0.0f) << "element " << i;
    }
}

TEST(Mat4Multiply, IdentityOnEitherSideAndTheOrderOfTransforms) {
    Mat4 identity, a, out;
    identity[0] = identity[5] = identity[10] = identity[15] = 1.0f;
    for (int i = 0; i < 16; ++i) a[i] = static_cast<float>(i * i) - 7.5f;
    a.Multiply(out, identity);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], a[i]) << "a . I, element " << i;
    identity.Multiply(out, a);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], a[i]) << "I . a, element " << i;

    Mat4 translation = identity;
    translation[12] = 3.0f;
    translation[13] = -4.0f;
    translation[14] = 5.5f;
    translation.Multiply(out, identity);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], translation[i]) << "element " << i;

    // The left operand acts first: translating, then scaling by 2, doubles
    // the translation.
    Mat4 scale;
    scale[0] = scale[5] = scale[10] = 2.0f;
    scale[15] = 1.0f;
    translation.Multiply(out, scale);
    EXPECT_TRUE(out[0] == 2.0f && out[12] == 6.0f && out[13] == -8.0f && out[14] == 11.0f && out[15] == 1.0f);
}

TEST(Camera, ViewMatrixAtTheSetUpPlacement) {
    Mat4 view;
    for (float& e : view.m) e = 99.0f;
    PlacedCamera().GetViewMatrix(view);
    EXPECT_EQ(view[0], 0.99830717f);
    EXPECT_EQ(view[5], 1.0f);
    EXPECT_EQ(view[10], 1.0f);
    EXPECT_EQ(view[12], -19.966143f);
    EXPECT_EQ(view[13], -8.0f);
    EXPECT_EQ(view[14], -80.0f);
    EXPECT_EQ(view[15], 1.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 11}) EXPECT_EQ(view[i], 0.0f) << "element " << i;
}

TEST(Camera, EachMovementFlagStepsOnePointFiveAndOthersNothing) {
    const struct {
        int slot;
        Vec3 expected;
    } cases[] = {
        {InputState::kUp, {20.0f, 8.0f, 78.5f}},     {InputState::kDown, {20.0f, 8.0f, 81.5f}},
        {InputState::kLeft, {18.5f, 8.0f, 80.0f}},   {InputState::kRight, {21.5f, 8.0f, 80.0f}},
        {InputState::kEnter, {20.0f, 9.5f, 80.0f}},  {InputState::kShift, {20.0f, 6.5f, 80.0f}},
        {InputState::kEscape, {20.0f, 8.0f, 80.0f}}, {InputState::kControl, {20.0f, 8.0f, 80.0f}},
        {InputState::kLeftButton, {20.0f, 8.0f, 80.0f}},
    };
    for (const auto& c : cases) {
        Camera camera = PlacedCamera();
        InputState input;
        input.flags[c.slot] = 1;
        camera.Move(input);
        const Vec3& at = camera.position;
        EXPECT_TRUE(at.x == c.expected.x && at.y == c.expected.y && at.z == c.expected.z)
            << kInputNames[c.slot] << ": " << at.x << ", " << at.y << ", " << at.z;
    }
}

TEST(Camera, OppositeFlagsCancel) {
    const int pairs[][2] = {{InputState::kUp, InputState::kDown},
                            {InputState::kLeft, InputState::kRight},
                            {InputState::kEnter, InputState::kShift}};
    for (const auto& pair : pairs) {
        // Turned, so that forward and sideways steps have every component.
        Camera camera = LookedBy(17.0f, -9.0f);
        const Vec3 before = camera.position;
        InputState input;
        input.flags[pair[0]] = input.flags[pair[1]] = 1;
        camera.Move(input);
        ExpectVecNear(camera.position, before.x, before.y, before.z, 2e-5f);
    }
}

TEST(Camera, LookRightTurnsTheViewRight) {
    const Camera camera = LookedBy(25.0f, 0.0f);
    ExpectVecNear(camera.back, -0.47862f, 0.0f, 0.87610f, 2e-5f);
    ExpectVecNear(camera.up, 0.0f, 0.99831f, 0.0f, 2e-5f);
    EXPECT_TRUE(camera.position.x == 20.0f && camera.position.y == 8.0f && camera.position.z == 80.0f);
}

TEST(Camera, LookDownAQuarterTurnLooksStraightDown) {
    const Camera camera = LookedBy(0.0f, 78.54f);
    ExpectVecNear(camera.back, 0.0f, 0.99832f, 0.0f, 2e-5f);
    ExpectVecNear(camera.up, 0.0f, 0.0f, -0.99832f, 2e-5f);
}

TEST(Camera, LookByNothingOnlyShortensTheDirections) {
    // Normalised twice, after the yaw and after the pitch: the settled length.
    const Camera camera = LookedBy(0.0f, 0.0f);
    ExpectVecNear(camera.back, 0.0f, 0.0f, 0.99831241f, 1e-7f);
    ExpectVecNear(camera.up, 0.0f, 0.99831241f, 0.0f, 1e-7f);
}

// A diagonal drag turns about the world vertical first, then about the side
// axis that the yaw left: sub-pixel apart from the other order on one turn,
// but an orientation of its own.
TEST(Camera, DiagonalLookIsYawThenPitch) {
    const Camera camera = LookedBy(30.0f, -45.0f);
    Vec3 back{0.0f, 0.0f, 1.0f};
    Vec3 up{0.0f, 1.0f, 0.0f};
    const auto turn = [&](float angle, const Vec3& axis) {
        RotateAboutAxis(angle, back, axis);
        RotateAboutAxis(angle, up, axis);
        Normalise(back);
        Normalise(up);
    };
    turn(30.0f / 50.0f, Vec3{0.0f, 1.0f, 0.0f});
    Vec3 side = Cross(up, back);
    Normalise(side);
    turn(-45.0f / 50.0f, side);
    for (const auto& [got, want] : {std::pair{camera.back, back}, std::pair{camera.up, up}}) {
        EXPECT_TRUE(got.x == want.x && got.y == want.y && got.z == want.z)
            << got.x << " " << got.y << " " << got.z << " against " << want.x << " " << want.y << " " << want.z;
    }
}
