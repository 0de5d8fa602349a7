// The lab's particles drawn for real (Mesa's software renderer, no display)
// and judged on the pixels read back: each takes the colour of its field.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "lab/box_wireframe.h"
#include "lab/sphere_sprites.h"
#include "offscreen/offscreen.h"
#include "sim/lab/lab_solver.h"
#include "sim/lab/scenes.h"
#include "view/lab_drawing.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;

// The pixel at the window point a position is drawn at.
Rgba8 PixelAt(const LabDrawing& drawing, const std::vector<Rgba8>& pixels, const Vec3& p, int dx = 0, int dy = 0) {
    Mat4 view;
    drawing.camera.GetViewMatrix(view);
    Mat4 clip;
    view.Multiply(clip, drawing.projection);
    float c[4];
    for (int r = 0; r < 4; ++r) c[r] = clip[r] * p.x + clip[4 + r] * p.y + clip[8 + r] * p.z + clip[12 + r];
    const int x = static_cast<int>((c[0] / c[3] + 1.0f) * 0.5f * kWidth);
    const int y = static_cast<int>((c[1] / c[3] + 1.0f) * 0.5f * kHeight);
    return pixels[static_cast<size_t>(y + dy) * kWidth + static_cast<size_t>(x + dx)];
}

void ExpectColour(const Rgba8& pixel, const PointColour& colour, const char* what) {
    EXPECT_NEAR(pixel.r, colour.r * 255.0f, 1.5f) << what;
    EXPECT_NEAR(pixel.g, colour.g * 255.0f, 1.5f) << what;
    EXPECT_NEAR(pixel.b, colour.b * 255.0f, 1.5f) << what;
}

}  // namespace

// Two lonely particles in the demo's box, one slow and one fast: by speed,
// with the range found from them (from 0, not from the slower), the map's
// colours at a third and at its end, which the colour bar runs to from
// the colour of 0 on its left; by neighbours, the demo's colour for none,
// also the bar's left end.
TEST(LabDrawing, EachParticleTakesItsFieldsColour) {
    OffscreenContext offscreen;
    if (!offscreen.Init(kWidth, kHeight)) GTEST_SKIP() << "no offscreen context: " << offscreen.error;
    LabParameters p = ClassicParameters();
    p.gravity = Vec3{0.0f, 0.0f, 0.0f};
    LabSolver solver(p);
    const std::vector<Vec3> at = {Vec3{10.0f, 18.0f, 18.0f}, Vec3{28.0f, 18.0f, 18.0f}};
    solver.Reset(at);
    solver.SetVelocity(0, Vec3{0.0f, -1.0f, 0.0f});
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
    ExpectColour(PixelAt(drawing, pixels, at[0]), ColourMapAt(1.0f, 0.0f, 3.0f), "slower");
    ExpectColour(PixelAt(drawing, pixels, at[1]), ColourMapAt(1.0f, 0.0f, 1.0f), "fastest");
    EXPECT_GT(PixelAt(drawing, pixels, at[1]).r, 200) << "the fastest is red";
    ExpectColour(PixelAt(drawing, pixels, at[1]), drawing.BarColour(1.0f), "the bar's right end");
    ExpectColour(Rgba8{0, 0, 153, 255}, drawing.BarColour(0.0f), "the bar's left end, dark blue");

    draw(LabColourField::Neighbours);
    ExpectColour(PixelAt(drawing, pixels, at[1]), NeighbourColour(0), "no neighbours");
    ExpectColour(PixelAt(drawing, pixels, at[1]), drawing.BarColour(0.0f), "the neighbour bar's left end");
}

// The box as a wireframe: a pixel of the wire's colour at (or beside) the
// middle of each of its twelve edges, seen from the front, where the four
// depth edges run from the corners of the near face to the far one's.
TEST(LabDrawing, BoxWireframeDrawsEveryEdge) {
    OffscreenContext offscreen;
    if (!offscreen.Init(kWidth, kHeight)) GTEST_SKIP() << "no offscreen context: " << offscreen.error;
    LabParameters p = WaterParameters();
    LabDrawing drawing;
    drawing.Frame(p, static_cast<float>(kWidth) / kHeight);
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    LabSolver none(p);
    drawing.Draw(none);  // loads the matrix
    DrawBoxWireframe(p);
    OffscreenContext::FinishFrame(&offscreen);
    std::vector<Rgba8> pixels;
    offscreen.ReadPixels(pixels);
    const float lo[3] = {p.boxMin.x, p.boxMin.y, p.boxMin.z}, hi[3] = {p.boxMax.x, p.boxMax.y, p.boxMax.z};
    for (int axis = 0; axis < 3; ++axis) {
        for (int corner = 0; corner < 4; ++corner) {
            float c[3];
            c[axis] = (lo[axis] + hi[axis]) * 0.5f;
            c[(axis + 1) % 3] = corner & 1 ? hi[(axis + 1) % 3] : lo[(axis + 1) % 3];
            c[(axis + 2) % 3] = corner & 2 ? hi[(axis + 2) % 3] : lo[(axis + 2) % 3];
            const Vec3 middle{c[0], c[1], c[2]};
            bool wire = false;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const Rgba8 q = PixelAt(drawing, pixels, middle, dx, dy);
                    wire = wire || (q.r == 89 && q.g == 89 && q.b == 102);
                }
            }
            EXPECT_TRUE(wire) << "edge along axis " << axis << " at corner " << corner;
        }
    }
}

// With sphere sprites a point is a lit disc: its middle bright, the corners
// of its square left as they were.
TEST(LabDrawing, SphereSpritesAreDiscs) {
    OffscreenContext offscreen;
    if (!offscreen.Init(kWidth, kHeight)) GTEST_SKIP() << "no offscreen context: " << offscreen.error;
    SphereSprites spheres;
    spheres.Init();
    if (!spheres.available) GTEST_SKIP() << "no point sprites";
    LabParameters p = ClassicParameters();
    LabSolver solver(p);
    const Vec3 at{18.0f, 18.0f, 18.0f};
    solver.Reset({at});
    LabDrawing drawing;
    drawing.Frame(p, static_cast<float>(kWidth) / kHeight);
    drawing.pointSize = 40.0f;
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    spheres.Begin();
    drawing.Draw(solver);
    spheres.End();
    OffscreenContext::FinishFrame(&offscreen);
    std::vector<Rgba8> pixels;
    offscreen.ReadPixels(pixels);
    EXPECT_GT(PixelAt(drawing, pixels, at).b, 40) << "the disc's middle";
    for (const int corner : {-18, 17}) {
        const Rgba8 q = PixelAt(drawing, pixels, at, corner, corner);
        EXPECT_EQ(q.r + q.g + q.b, 0) << "the square's corner at " << corner;
    }
}

// The window's hands on the view, without a window: the wheel forward
// brings the camera a ninth of the box nearer, and the up arrow flies at a
// speed in proportion to the box; a drag up over a water dam
// kicks the moving particles under the cursor up, and its wall particles
// not at all; C steps through every colour field and back.
TEST(LabView, WheelDragAndColourKey) {
    LabParameters p = WaterParameters();
    const SceneLayout layout = BuildScene(SceneKind::Dam, 500, p, rand);
    LabSolver solver(p);
    solver.Reset(layout.positions, layout.walls);
    LabDrawing drawing;
    drawing.drawFixed = true;
    drawing.Frame(p, static_cast<float>(kWidth) / kHeight);
    const float before = drawing.camera.position.z;
    drawing.Zoom(p, 1.0f);
    EXPECT_NEAR(before - drawing.camera.position.z, (p.boxMax.x - p.boxMin.x) / 9.0f, 1e-5f);
    // Up held for the demo's 64 ms tick flies as far as the demo's 1.5
    // units are across its 36-unit box.
    InputState up;
    up.flags[InputState::kUp] = 1;
    const float flown = drawing.camera.position.z;
    drawing.Fly(p, up, 0.064);
    EXPECT_NEAR(flown - drawing.camera.position.z, (p.boxMax.x - p.boxMin.x) * 1.5f / 36.0f, 1e-5f);

    // The lower corner of the column, on the floor by the wall: partners
    // of the fixed particles on every side.
    Mat4 view, clip;
    drawing.camera.GetViewMatrix(view);
    view.Multiply(clip, drawing.projection);
    const Vec3 corner = solver.position(0);
    float c[4];
    for (int r = 0; r < 4; ++r) c[r] = clip[r] * corner.x + clip[4 + r] * corner.y + clip[8 + r] * corner.z + clip[12 + r];
    const int x = 50 + static_cast<int>((c[0] / c[3] + 1.0f) * 0.5f * kWidth);
    const int y = static_cast<int>((1.0f - c[1] / c[3]) * 0.5f * kHeight);
    std::vector<int32_t> indices;
    std::vector<Vec3> kicks;
    drawing.PushKicks(solver, 50, kWidth, kHeight, x, y, 0, -10, indices, kicks);
    ASSERT_FALSE(indices.empty());
    ASSERT_EQ(kicks.size(), indices.size());
    int fixed = 0, notUp = 0;
    for (size_t k = 0; k < indices.size(); ++k) {
        fixed += indices[k] >= solver.movingCount();
        notUp += !(kicks[k].y > 0.0f && std::fabs(kicks[k].x) + std::fabs(kicks[k].z) < 1e-3f * kicks[k].y);
    }
    EXPECT_EQ(fixed, 0) << "of " << indices.size() << " kicked";
    EXPECT_EQ(notUp, 0) << "of " << indices.size() << " kicked";

    LabColourField field = LabColourField::Neighbours;
    std::string cycle;
    for (int press = 0; press < 4; ++press) {
        field = NextLabColourField(field);
        cycle += std::string(" ") + LabColourFieldName(field);
    }
    EXPECT_EQ(cycle, " density pressure speed neighbours");
}
