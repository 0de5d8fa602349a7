// The scene drawn for real (Mesa's software renderer, no display) and judged
// on the pixels read back, in the variant this executable is built for.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "offscreen/offscreen.h"
#include "demo/scene.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;

// 159 MB or 270 MB: static, as in the program.
Scene scene;
OffscreenContext offscreen;
bool contextReady = false;

struct Colour {
    float r, g, b;
};
const Colour kBlack{0.0f, 0.0f, 0.0f};

struct PlacedParticle {
    Vec3 position;
    int32_t neighbourCount;
};

struct WindowPoint {
    float x;
    float y;
};

// Where projection . view puts a box position, in window coordinates of
// the viewport the size handler set (pixel edges at whole numbers).
WindowPoint Project(const Vec3& p) {
    Mat4 clip;
    scene.view.Multiply(clip, scene.projection);
    float c[4];
    for (int r = 0; r < 4; ++r) {
        c[r] = clip[r] * p.x + clip[4 + r] * p.y + clip[8 + r] * p.z + clip[12 + r];
    }
    return {(c[0] / c[3] + 1.0f) * 0.5f * static_cast<float>(scene.viewportWidth),
            (c[1] / c[3] + 1.0f) * 0.5f * static_cast<float>(scene.viewportHeight)};
}

// The first pixel column (or row) whose centre a 10-pixel point about
// centre covers; it covers ten from there.
int FirstCovered(float centre) { return static_cast<int>(std::ceil(centre - 5.5f)); }

struct Frame {
    std::vector<Rgba8> pixels;

    Rgba8 At(int x, int y) const { return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)]; }
    Rgba8 At(const WindowPoint& w) const {
        return At(static_cast<int>(std::floor(w.x)), static_cast<int>(std::floor(w.y)));
    }
};

// One 8-bit step of slack: the renderer may round either way.
bool Matches(const Rgba8& pixel, const Colour& colour) {
    const auto near = [](uint8_t actual, float wanted) {
        const float clamped = wanted < 0.0f ? 0.0f : (wanted > 1.0f ? 1.0f : wanted);
        return std::fabs(static_cast<float>(actual) - clamped * 255.0f) <= 1.0f;
    };
    return near(pixel.r, colour.r) && near(pixel.g, colour.g) && near(pixel.b, colour.b);
}

::testing::AssertionResult PixelIs(const Frame& frame, int x, int y, const Colour& colour) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is outside the frame";
    }
    const Rgba8 p = frame.At(x, y);
    if (Matches(p, colour)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << int(p.r) << ", " << int(p.g)
                                         << ", " << int(p.b) << "), expected about (" << colour.r * 255.0f << ", "
                                         << colour.g * 255.0f << ", " << colour.b * 255.0f << ")";
}

::testing::AssertionResult PixelIs(const Frame& frame, const WindowPoint& w, const Colour& colour) {
    return PixelIs(frame, static_cast<int>(std::floor(w.x)), static_cast<int>(std::floor(w.y)), colour);
}

class DrawingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        contextReady = offscreen.Init(kWidth, kHeight);
        if (!contextReady) return;
        shellSurface.deviceContext = &offscreen;
        shellSurface.swapBuffers = OffscreenContext::FinishFrame;
        scene.Setup();
        scene.Resize(kWidth, kHeight);
    }
    static void TearDownTestSuite() { offscreen.Release(); }

    void SetUp() override { ASSERT_TRUE(contextReady) << offscreen.error; }

    // Particles exactly as given; the counts are set by hand, no step runs.
    static void Place(const std::vector<PlacedParticle>& placed) {
        scene.system.Reseed(static_cast<int32_t>(placed.size()));
        ASSERT_EQ(scene.system.particleCount, static_cast<int32_t>(placed.size()));
        for (size_t i = 0; i < placed.size(); ++i) {
            scene.system.particles[i].position = placed[i].position;
            scene.system.particles[i].neighbourCount = placed[i].neighbourCount;
        }
    }

    static Frame Render() {
        scene.Render();
        Frame frame;
        offscreen.ReadPixels(frame.pixels);
        return frame;
    }
};

TEST_F(DrawingTest, SetUpLeavesTheStateTheDrawingReliesOn) {
    Place({{{18.0f, 2.0f, 18.0f}, 0}});
    Render();

    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    EXPECT_EQ(clear[1], 0.0f);
    EXPECT_EQ(clear[2], 0.0f);
    EXPECT_EQ(clear[3], 1.0f);
    GLint value = 0;
    glGetIntegerv(GL_FRONT_FACE, &value);
    EXPECT_EQ(value, GL_CCW);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
    // Points are drawn with alpha 1, and this renderer's smoothed points
    // leave it at 1, so under this blend function blending would not show
    // on the pixels: it is checked here.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    glGetIntegerv(GL_BLEND_SRC_RGB, &value);
    EXPECT_EQ(value, GL_ONE);
    glGetIntegerv(GL_BLEND_DST_RGB, &value);
    EXPECT_EQ(value, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(glIsEnabled(GL_POINT_SMOOTH) == GL_TRUE, SolverVariant::pointSmoothing);
    for (GLuint index = 0; index < 6; ++index) {
        glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
        EXPECT_EQ(value, GL_TRUE) << "attribute array " << index;
    }
    GLfloat pointSize = 0.0f;
    glGetFloatv(GL_POINT_SIZE, &pointSize);
    EXPECT_EQ(pointSize, 10.0f);

    // The whole world-to-clip transform rides in the modelview matrix.
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    Mat4 clip;
    scene.view.Multiply(clip, scene.projection);
    GLfloat modelview[16];
    GLfloat projection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(modelview[i], clip[i]) << "modelview element " << i;
        EXPECT_EQ(projection[i], i % 5 == 0 ? 1.0f : 0.0f) << "projection element " << i;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(DrawingTest, EachFrameStartsFromBlackAndNoParticlesDrawNothing) {
    const Vec3 position{18.0f, 2.0f, 18.0f};
    Place({{position, 10}});
    const Frame withParticle = Render();
    ASSERT_TRUE(PixelIs(withParticle, Project(position), {0.0f, 1.0f, 1.0f}));

    Place({});
    const Frame empty = Render();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_TRUE(PixelIs(empty, x, y, kBlack));
        }
    }
}

TEST_F(DrawingTest, ParticlesAppearWhereProjectionTimesViewPutsThemColouredByNeighbours) {
    struct Case {
        PlacedParticle particle;
        Colour colour;
    };
    const Case cases[] = {
        {{{18.0f, 2.0f, 18.0f}, 0}, {0.0f, 0.0f, 0.3f}},
        {{{4.0f, 30.0f, 2.0f}, 3}, {0.0f, 0.3f, 0.6f}},
        {{{33.0f, 20.0f, 30.0f}, 7}, {0.0f, 0.7f, 1.0f}},
        {{{6.0f, 12.0f, 35.0f}, 10}, {0.0f, 1.0f, 1.0f}},
        {{{28.0f, 33.0f, 8.0f}, 64}, {0.0f, 1.0f, 1.0f}},
    };
    std::vector<PlacedParticle> placed;
    for (const Case& c : cases) placed.push_back(c.particle);
    Place(placed);
    const Frame frame = Render();
    for (const Case& c : cases) {
        const WindowPoint w = Project(c.particle.position);
        EXPECT_TRUE(PixelIs(frame, w, c.colour)) << c.particle.neighbourCount << " neighbours";
        // Ten pixels wide: a step past the edge is background again.
        const int first = FirstCovered(w.x);
        const int y = static_cast<int>(std::floor(w.y));
        EXPECT_TRUE(PixelIs(frame, first - 1, y, kBlack));
        EXPECT_TRUE(PixelIs(frame, first + 10, y, kBlack));
    }
}

TEST_F(DrawingTest, EveryParticleBelowTheCountIsDrawnAndNoneBeyond) {
    std::vector<PlacedParticle> placed;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 4; ++j) placed.push_back({{3.0f + 7.5f * i, 3.0f + 9.0f * j, 20.0f}, i + j});
    }
    Place(placed);
    // The last record is in the array but not counted.
    scene.system.particleCount -= 1;
    const Frame frame = Render();
    scene.system.particleCount += 1;
    for (size_t i = 0; i < placed.size(); ++i) {
        const float g = static_cast<float>(placed[i].neighbourCount) * 0.1f;
        const Colour expected = i + 1 < placed.size() ? Colour{0.0f, g, g + 0.3f} : kBlack;
        EXPECT_TRUE(PixelIs(frame, Project(placed[i].position), expected)) << "particle " << i;
    }
}

// A refused reseed keeps the old particles on screen, pixel for pixel.
TEST_F(DrawingTest, ARefusedReseedKeepsDrawingTheOldParticles) {
    std::vector<PlacedParticle> placed;
    for (int i = 0; i < 6; ++i) placed.push_back({{4.0f + 5.5f * i, 6.0f + 4.0f * i, 18.0f}, 2 * i});
    Place(placed);
    scene.requestedCount = static_cast<int32_t>(placed.size());
    const Frame before = Render();
    testing::internal::CaptureStdout();
    {
        AddressSpaceCap cap;
        scene.requestedCount = INT32_MAX;
        scene.SetInput("rightbutton", true);
        scene.SetInput("rightbutton", false);
    }
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Unable to allocate 2147483647 particles\n"), std::string::npos) << log;
    ASSERT_EQ(scene.system.particleCount, static_cast<int32_t>(placed.size()));
    EXPECT_EQ(scene.requestedCount, scene.system.particleCount);
    const Frame after = Render();
    ASSERT_EQ(after.pixels.size(), before.pixels.size());
    EXPECT_EQ(std::memcmp(after.pixels.data(), before.pixels.data(), after.pixels.size() * sizeof(Rgba8)), 0);
    for (const PlacedParticle& particle : placed) {
        const float g = static_cast<float>(particle.neighbourCount) * 0.1f;
        EXPECT_TRUE(PixelIs(after, Project(particle.position), Colour{0.0f, g, g + 0.3f}));
    }
}

// Two particles on one line of sight; the nearer is dark blue, the farther
// cyan. Whichever is sent first, only the nearer shows, and no pixel of its
// footprint mixes in the cyan.
TEST_F(DrawingTest, NearerPointsHideFartherOnesInEitherOrder) {
    const PlacedParticle nearer{{20.0f, 8.0f, 30.0f}, 0};
    const PlacedParticle farther{{20.0f, 8.0f, 5.0f}, 10};
    const Colour nearColour{0.0f, 0.0f, 0.3f};
    for (const bool nearerFirst : {true, false}) {
        SCOPED_TRACE(nearerFirst ? "nearer sent first" : "farther sent first");
        Place(nearerFirst ? std::vector<PlacedParticle>{nearer, farther} : std::vector<PlacedParticle>{farther, nearer});
        const Frame frame = Render();
        const WindowPoint wn = Project(nearer.position);
        const WindowPoint wf = Project(farther.position);
        ASSERT_LT(std::fabs(wn.x - wf.x), 0.01f);
        ASSERT_LT(std::fabs(wn.y - wf.y), 0.01f);
        EXPECT_TRUE(PixelIs(frame, wn, nearColour));
        int drawn = 0;
        for (int y = FirstCovered(wn.y); y < FirstCovered(wn.y) + 10; ++y) {
            for (int x = FirstCovered(wn.x); x < FirstCovered(wn.x) + 10; ++x) {
                if (Matches(frame.At(x, y), kBlack)) continue;
                ++drawn;
                EXPECT_TRUE(PixelIs(frame, x, y, nearColour));
            }
        }
        EXPECT_GT(drawn, 50);
    }
}

TEST_F(DrawingTest, PointShapeFollowsTheVariant) {
    const Vec3 position{20.0f, 8.0f, 18.0f};
    const Colour colour{0.0f, 0.0f, 0.3f};
    Place({{position, 0}});
    const Frame frame = Render();
    const WindowPoint w = Project(position);
    const int x0 = FirstCovered(w.x);
    const int y0 = FirstCovered(w.y);
    const Colour corner = SolverVariant::pointSmoothing ? kBlack : colour;
    EXPECT_TRUE(PixelIs(frame, x0, y0, corner));
    EXPECT_TRUE(PixelIs(frame, x0 + 9, y0, corner));
    EXPECT_TRUE(PixelIs(frame, x0, y0 + 9, corner));
    EXPECT_TRUE(PixelIs(frame, x0 + 9, y0 + 9, corner));
    // The middle of every edge is inside a round point and a square one.
    EXPECT_TRUE(PixelIs(frame, x0 + 4, y0, colour));
    EXPECT_TRUE(PixelIs(frame, x0 + 4, y0 + 9, colour));
    EXPECT_TRUE(PixelIs(frame, x0, y0 + 4, colour));
    EXPECT_TRUE(PixelIs(frame, x0 + 9, y0 + 4, colour));

    int drawn = 0;
    for (int y = y0 - 2; y < y0 + 12; ++y) {
        for (int x = x0 - 2; x < x0 + 12; ++x) {
            const bool inside = x >= x0 && x < x0 + 10 && y >= y0 && y < y0 + 10;
            if (!Matches(frame.At(x, y), kBlack)) {
                ++drawn;
                EXPECT_TRUE(inside) << "pixel (" << x << ", " << y << ") drawn outside the point";
                EXPECT_TRUE(PixelIs(frame, x, y, colour));
            }
        }
    }
    if (SolverVariant::pointSmoothing) {
        // A disc of radius 5 covers about 79 pixel centres.
        EXPECT_GE(drawn, 60);
        EXPECT_LE(drawn, 92);
    } else {
        EXPECT_EQ(drawn, 100);
    }
}

}  // namespace
