// The lab's panel as a user works it, without a window: Dear ImGui frames
// with the pointer moved and clicked, the commands applied as the window
// applies them, and the parameters looked at afterwards.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "imgui.h"
#include "imgui_internal.h"
#include "lab/lab_window.h"
#include "sim/lab/lab_parameter_table.h"

namespace {

constexpr float kHeight = 2400.0f;
constexpr const char* kPanel = "pondsim lab";

class LabPanel : public ::testing::Test {
protected:
    void SetUp() override {
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(800.0f, kHeight);
        unsigned char* pixels = nullptr;
        int width = 0, height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        view = std::make_unique<LabView>();
        view->height = static_cast<int>(kHeight);
        // Stepped between frames on this thread, as the browser's window is;
        // paused, the panel's edits are all that changes.
        LabCommand pause;
        pause.kind = LabCommand::Kind::Pause;
        view->stepper.Post(pause);
        view->stepper.Turn();
        view->editing = view->stepper.run().solver().parameters();
        // The panel says where its viscosity slider is, once.
        testing::internal::CaptureStdout();
        Frame(ImVec2(-1.0f, -1.0f), false);
        Frame(ImVec2(-1.0f, -1.0f), false);
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { ImGui::DestroyContext(); }

    // One frame with the pointer at `at`, the button as given; then the
    // commands the panel posted, as the window applies them. Returns the
    // item under the pointer.
    ImGuiID Frame(ImVec2 at, bool down) {
        ImGuiIO& io = ImGui::GetIO();
        io.DeltaTime = 1.0f / 60.0f;
        io.MousePos = at;
        io.MouseDown[0] = down;
        ImGui::NewFrame();
        TakeLabFrame(*view);
        DrawLabPanel(*view);
        ImGui::Render();
        view->stepper.Turn();
        return ImGui::GetCurrentContext()->HoveredId;
    }

    // Where the item is: the pointer swept over the panel until it hovers
    // it (every item of the panel starts near its left edge or, beside
    // another, near its middle).
    bool Find(ImGuiID id, ImVec2& at) {
        for (const float x : {20.0f, 130.0f, 175.0f}) {
            for (float y = 2.0f; y < kHeight; y += 4.0f) {
                if (Frame(ImVec2(x, y), false) == id) {
                    at = ImVec2(x, y);
                    return true;
                }
            }
        }
        return false;
    }

    // Finds and clicks the item.
    void Click(ImGuiID id, const char* what) {
        ImVec2 at;
        ASSERT_TRUE(Find(id, at)) << "no " << what << " in the panel";
        Frame(at, true);
        Frame(at, false);
    }

    static ImGuiID Id(const char* label) { return ImHashStr(label, 0, ImHashStr(kPanel)); }
    // A parameter's control: inside its group's tree node, its name pushed,
    // the control itself unnamed.
    static ImGuiID SliderId(const LabParameterInfo& info) {
        return ImHashStr("##v", 0, ImHashStr(info.name, 0, Id(info.group)));
    }
    static ImGuiID SliderId(const char* name) { return SliderId(*FindLabParameter(name)); }

    std::unique_ptr<LabView> view;
};

// Each parameter slider, clicked near its right end, changes the parameter
// its label names, in the panel's copy and in the run, and nothing else;
// one greyed out as unread (the speed of sound of the classic preset's
// linear law, the divergence-free solver's tolerances) changes nothing.
TEST_F(LabPanel, EverySliderWritesTheParameterItNames) {
    using Kind = LabParameterInfo::Kind;
    int sliders = 0, greyed = 0;
    for (const LabParameterInfo& slider : LabParameterTable()) {
        if (slider.group == nullptr || (slider.kind != Kind::Real && slider.kind != Kind::Whole)) continue;
        const LabParameters before = view->editing;
        ImVec2 at;
        ASSERT_TRUE(Find(SliderId(slider), at)) << "no slider " << slider.name;
        ++sliders;
        const bool ignored = slider.ignored != nullptr && slider.ignored(before);
        greyed += ignored ? 1 : 0;
        // Near its right end; where the value stands there already, near
        // its left end.
        for (const float x : {175.0f, 22.0f}) {
            at.x = x;
            Frame(at, true);
            Frame(at, false);
            if (slider.get(view->editing) != slider.get(before)) break;
        }
        for (const LabParameterInfo& info : LabParameterTable()) {
            const bool changed = info.get(view->editing) != info.get(before);
            EXPECT_EQ(changed, &info == &slider && !ignored) << "the slider " << slider.name << " and " << info.name;
            EXPECT_EQ(info.get(view->stepper.run().solver().parameters()), info.get(view->editing)) << info.name;
        }
    }
    EXPECT_GT(sliders, 10);
    EXPECT_GT(greyed, 1);
}

// Back to preset: the preset's parameters in the box of the scene running.
TEST_F(LabPanel, BackToPresetKeepsTheScenesBox) {
    LabCommand command;
    command.kind = LabCommand::Kind::SetScene;
    command.scene = SceneKind::Dam;
    command.count = 500;
    view->stepper.Post(command);
    view->stepper.Turn();
    const LabParameters dam = view->stepper.run().solver().parameters();
    view->editing = dam;
    Click(SliderId("viscosity"), "viscosity slider");
    ASSERT_NE(view->editing.viscosity, ClassicParameters().viscosity);
    Click(Id("Back to preset"), "Back to preset button");
    const LabParameters& p = view->editing;
    EXPECT_EQ(p.viscosity, ClassicParameters().viscosity);
    EXPECT_EQ(view->stepper.run().solver().parameters().viscosity, ClassicParameters().viscosity);
    for (const char* corner : {"boxMin.x", "boxMin.y", "boxMin.z", "boxMax.x", "boxMax.y", "boxMax.z"}) {
        const LabParameterInfo& info = *FindLabParameter(corner);
        EXPECT_EQ(info.get(p), info.get(dam)) << corner;
    }
}

// Load it again: the saved state with the parameters it was saved under,
// in the panel too.
TEST_F(LabPanel, LoadItAgainTakesTheSavedParameters) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "pondsim-lab-panel-test";
    std::filesystem::remove_all(folder);
    std::snprintf(view->folderField, sizeof view->folderField, "%s", folder.string().c_str());
    testing::internal::CaptureStdout();
    Click(Id("Record"), "Record header");
    Click(Id("Save state"), "Save state button");
    Click(SliderId("viscosity"), "viscosity slider");
    const float changed = view->editing.viscosity;
    Click(Id("Load it again"), "Load it again button");
    // The window's next frame.
    Frame(ImVec2(-1.0f, -1.0f), false);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(changed, ClassicParameters().viscosity);
    EXPECT_EQ(view->stepper.run().solver().parameters().viscosity, ClassicParameters().viscosity);
    EXPECT_EQ(view->editing.viscosity, ClassicParameters().viscosity);
    std::filesystem::remove_all(folder);
}

}  // namespace
