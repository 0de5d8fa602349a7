// The lab's particles drawn for real (Mesa's software renderer, no display)
// and judged on the pixels read back: each takes the colour of its field.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "offscreen/offscreen.h"
#include "sim/lab/lab_solver.h"
#include "view/lab_drawing.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;

// The pixel at the window point a position is drawn at.
Rgba8 PixelAt(const LabDrawing& drawing, const std::vector<Rgba8>& pixels, const Vec3& p) {
    Mat4 view;
    drawing.camera.GetViewMatrix(view);
    Mat4 clip;
    view.Multiply(clip, drawing.projection);
    float c[4];
    for (int r = 0; r < 4; ++r) c[r] = clip[r] * p.x + clip[4 + r] * p.y + clip[8 + r] * p.z + clip[12 + r];
    const int x = static_cast<int>((c[0] / c[3] + 1.0f) * 0.5f * kWidth);
    const int y = static_cast<int>((c[1] / c[3] + 1.0f) * 0.5f * kHeight);
    return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
}

void ExpectColour(const Rgba8& pixel, const PointColour& colour, const char* what) {
    EXPECT_NEAR(pixel.r, colour.r * 255.0f, 1.5f) << what;
    EXPECT_NEAR(pixel.g, colour.g * 255.0f, 1.5f) << what;
    EXPECT_NEAR(pixel.b, colour.b * 255.0f, 1.5f) << what;
}

}  // namespace

// Two lonely particles in the demo's box, one at rest and one moving: by
// speed, with the range found from them, the ends of the colour map; by
// neighbours, the demo's colour for none.
TEST(LabDrawing, EachParticleTakesItsFieldsColour) {
    OffscreenContext offscreen;
    if (!offscreen.Init(kWidth, kHeight)) GTEST_SKIP() << "no offscreen context: " << offscreen.error;
    LabParameters p = ClassicParameters();
    p.gravity = Vec3{0.0f, 0.0f, 0.0f};
    LabSolver solver(p);
    const std::vector<Vec3> at = {Vec3{10.0f, 18.0f, 18.0f}, Vec3{28.0f, 18.0f, 18.0f}};
    solver.Reset(at);
    solver.SetVelocity(1, Vec3{3.0f, 0.0f, 0.0f});

    LabDrawing drawing;
    drawing.Frame(p, static_cast<float>(kWidth) / kHeight);
    std::vector<Rgba8> pixels;
    const auto draw = [&](LabColourField field) {
        drawing.field = field;
        drawing.UpdateRange(solver);
        glViewport(0, 0, kWidth, kHeight);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawing.Draw(solver);
        OffscreenContext::FinishFrame(&offscreen);
        offscreen.ReadPixels(pixels);
    };

    draw(LabColourField::Speed);
    EXPECT_EQ(drawing.low, 0.0f);
    EXPECT_EQ(drawing.high, 3.0f);
    ExpectColour(PixelAt(drawing, pixels, at[0]), ColourMapAt(0.0f, 0.0f, 1.0f), "at rest");
    ExpectColour(PixelAt(drawing, pixels, at[1]), ColourMapAt(1.0f, 0.0f, 1.0f), "fastest");
    EXPECT_GT(PixelAt(drawing, pixels, at[1]).r, 200) << "the fastest is red";

    draw(LabColourField::Neighbours);
    ExpectColour(PixelAt(drawing, pixels, at[1]), NeighbourColour(0), "no neighbours");
}
