// Dear ImGui's OpenGL2 backend drawing a panel (a window, a line of text and
// a slider) into the offscreen compatibility context, judged on the pixels:
// the stack the lab's panel stands on, natively and under Wine.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "imgui.h"
#include "imgui_impl_opengl2.h"
#include "offscreen/offscreen.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
// No colour of ImGui's dark style, blended or not, is pure magenta.
constexpr Rgba8 kClear{255, 0, 255, 255};

struct Rect {
    ImVec2 min, max;
};

class ImGuiProbe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ready = offscreen.Init(kWidth, kHeight);
        if (!ready) return;
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(static_cast<float>(kWidth), static_cast<float>(kHeight));
        ImGui_ImplOpenGL2_Init();

        // A window is laid out in its first frame and may be hidden in it;
        // the second is the one read back.
        for (int frame = 0; frame < 2; ++frame) {
            glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            io.DeltaTime = 1.0f / 60.0f;
            ImGui_ImplOpenGL2_NewFrame();
            ImGui::NewFrame();
            ImGui::SetNextWindowPos(ImVec2(40.0f, 30.0f));
            ImGui::SetNextWindowSize(ImVec2(220.0f, 110.0f));
            ImGui::Begin("Probe", nullptr, ImGuiWindowFlags_NoSavedSettings);
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            window = {at, ImVec2(at.x + size.x, at.y + size.y)};
            ImGui::Text("3000 particles");
            text = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
            static float viscosity = 0.5f;
            ImGui::SliderFloat("viscosity", &viscosity, 0.0f, 1.0f);
            slider = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
            ImGui::End();
            ImGui::Render();
            ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
            OffscreenContext::FinishFrame(&offscreen);
        }
        offscreen.ReadPixels(pixels);
        ImGui_ImplOpenGL2_Shutdown();
        ImGui::DestroyContext();
    }

    // ImGui's y runs down from the top, the rows read back run up.
    static Rgba8 At(int x, int y) {
        return pixels[static_cast<size_t>(kHeight - 1 - y) * kWidth + static_cast<size_t>(x)];
    }
    static bool Near(const Rgba8& p, int r, int g, int b, int slack) {
        return std::abs(p.r - r) <= slack && std::abs(p.g - g) <= slack && std::abs(p.b - b) <= slack;
    }
    static bool IsClear(const Rgba8& p) { return Near(p, kClear.r, kClear.g, kClear.b, 0); }
    // Whether a pixel's centre lies in the rectangle grown by margin (shrunk
    // when negative).
    static bool In(const Rect& r, float margin, int x, int y) {
        const float cx = static_cast<float>(x) + 0.5f, cy = static_cast<float>(y) + 0.5f;
        return cx >= r.min.x - margin && cx <= r.max.x + margin && cy >= r.min.y - margin &&
               cy <= r.max.y + margin;
    }
    // Pixels in the rectangle (grown by margin), and how many of them are wanted.
    template <typename F>
    static std::pair<int, int> Count(const Rect& r, float margin, F wanted) {
        int all = 0, n = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (In(r, margin, x, y)) {
                    ++all;
                    n += wanted(At(x, y)) ? 1 : 0;
                }
            }
        }
        return {all, n};
    }

    void SetUp() override { ASSERT_TRUE(ready) << "no offscreen context: " << offscreen.error; }

    static OffscreenContext offscreen;
    static bool ready;
    static std::vector<Rgba8> pixels;
    static Rect window, text, slider;
};

OffscreenContext ImGuiProbe::offscreen;
bool ImGuiProbe::ready = false;
std::vector<Rgba8> ImGuiProbe::pixels;
Rect ImGuiProbe::window, ImGuiProbe::text, ImGuiProbe::slider;

// The whole window and nothing else: its background covers every pixel
// inside, none outside changed (a pixel of anti-aliased edge either way).
TEST_F(ImGuiProbe, DrawsThePanelWhereItIsAndNowhereElse) {
    ASSERT_GT(window.max.x - window.min.x, 100.0f);
    const auto [inside, changed] = Count(window, -1.0f, [](const Rgba8& p) { return !IsClear(p); });
    EXPECT_EQ(changed, inside);
    int outside = 0, untouched = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (!In(window, 1.0f, x, y)) {
                ++outside;
                untouched += IsClear(At(x, y)) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(untouched, outside);
}

// Text in glyphs from the font texture: some of its line is the text's white
// (15 % here), but not a quarter (a font texture that does not sample draws
// each glyph's whole quad: a third). The slider's grab in the dark style's
// SliderGrab, opaque.
TEST_F(ImGuiProbe, DrawsTextInGlyphsAndTheSlider) {
    const auto [line, white] = Count(text, 0.0f, [](const Rgba8& p) { return Near(p, 255, 255, 255, 8); });
    EXPECT_GT(white, line / 50) << white << " of " << line;
    EXPECT_LT(white, line / 4) << white << " of " << line;
    const auto [frame, grab] = Count(slider, 0.0f, [](const Rgba8& p) { return Near(p, 61, 133, 224, 3); });
    EXPECT_GT(grab, 50) << grab << " of " << frame;
}

}  // namespace
