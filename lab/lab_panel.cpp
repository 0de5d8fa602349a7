#include <cinttypes>
#include <cstdio>

#include "imgui.h"
#include "lab/lab_window.h"

namespace {

constexpr float kPanelWidth = 360.0f;
constexpr const char* kPresets[] = {"classic", "water"};
constexpr SceneKind kSceneKinds[] = {SceneKind::Scatter, SceneKind::Dam, SceneKind::DoubleDam, SceneKind::Pool,
                                     SceneKind::Drop};
// Above this the classic scatter no longer steps at the demo's tick on
// two cores.
constexpr int kMaxParticles = 200000;

void Post(LabView& view, LabCommand::Kind kind) {
    LabCommand command;
    command.kind = kind;
    view.run.Post(command);
}

// A float parameter with its unit; true when it changed.
bool Field(const char* label, float* value, float low, float high, const char* unit, bool logarithmic = false) {
    ImGui::PushID(label);
    ImGui::SetNextItemWidth(170.0f);
    const bool changed = ImGui::SliderFloat("##v", value, low, high, "%.5g",
                                            logarithmic ? ImGuiSliderFlags_Logarithmic : ImGuiSliderFlags_None);
    ImGui::SameLine();
    ImGui::Text("%s [%s]", label, unit);
    ImGui::PopID();
    return changed;
}

void RunSection(LabView& view) {
    LabRun& run = view.run;
    if (ImGui::Button(run.paused() ? "Resume (Space)" : "Pause (Space)")) {
        Post(view, LabCommand::Kind::TogglePause);
    }
    ImGui::SameLine();
    if (ImGui::Button("Step (.)")) Post(view, LabCommand::Kind::Step);
    ImGui::SameLine();
    if (ImGui::Button("Reset (R)")) Post(view, LabCommand::Kind::Reset);
    ImGui::Checkbox("as fast as it goes", &view.everyFrame);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(90.0f);
    ImGui::SliderInt("steps/beat", &run.stepsPerTick, 1, 16);
}

void SceneSection(LabView& view) {
    LabRun& run = view.run;
    bool restart = false;
    ImGui::SetNextItemWidth(140.0f);
    if (ImGui::BeginCombo("preset", kPresets[view.presetIndex])) {
        for (int i = 0; i < 2; ++i) {
            if (ImGui::Selectable(kPresets[i], i == view.presetIndex)) {
                view.presetIndex = i;
                LabCommand command;
                command.kind = LabCommand::Kind::SetPreset;
                command.preset = kPresets[i];
                run.Post(command);
            }
        }
        ImGui::EndCombo();
    }
    ImGui::SetNextItemWidth(140.0f);
    if (ImGui::BeginCombo("scene", SceneName(kSceneKinds[view.sceneIndex]))) {
        for (int i = 0; i < 5; ++i) {
            if (ImGui::Selectable(SceneName(kSceneKinds[i]), i == view.sceneIndex)) {
                view.sceneIndex = i;
                restart = true;
            }
        }
        ImGui::EndCombo();
    }
    ImGui::SetNextItemWidth(170.0f);
    ImGui::SliderInt("particles", &view.count, 100, kMaxParticles, "%d", ImGuiSliderFlags_Logarithmic);
    if (ImGui::IsItemDeactivatedAfterEdit()) restart = true;
    if (restart) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetScene;
        command.scene = kSceneKinds[view.sceneIndex];
        command.count = view.count;
        run.Post(command);
    }
    ImGui::SetNextItemWidth(170.0f);
    if (ImGui::SliderInt("threads (0: all)", &view.threads, 0, 16)) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetThreads;
        command.threads = view.threads;
        run.Post(command);
    }
}

void ParameterSection(LabView& view) {
    LabParameters& p = view.editing;
    bool changed = false;
    changed |= Field("smoothing length", &p.smoothingLength, 0.005f, 0.1f, "m");
    changed |= Field("search radius", &p.searchRadius, 0.005f, 0.2f, "m");
    changed |= Field("particle mass", &p.particleMass, 1e-5f, 1.0f, "kg", true);
    changed |= Field("rest density", &p.restDensity, 1e-4f, 2000.0f, "kg/m3", true);
    int law = p.equationOfState == EquationOfState::Linear ? 0 : 1;
    ImGui::SetNextItemWidth(170.0f);
    if (ImGui::Combo("equation of state", &law, "linear\0Tait\0")) {
        p.equationOfState = law == 0 ? EquationOfState::Linear : EquationOfState::Tait;
        changed = true;
    }
    changed |= Field("stiffness", &p.stiffness, 0.01f, 1000.0f, "Pa m3/kg", true);
    changed |= Field("speed of sound", &p.speedOfSound, 0.0f, 200.0f, "m/s");
    changed |= ImGui::Checkbox("negative pressure as zero", &p.clampNegativePressure);
    changed |= Field("pressure factor", &p.pressureFactor, 0.0f, 2.0f, "1");
    changed |= Field("viscosity", &p.viscosity, 0.0f, 2.0f, "Pa s");
    changed |= Field("gravity y", &p.gravity.y, -30.0f, 30.0f, "m/s2");
    changed |= Field("time step", &p.timeStep, 1e-5f, 0.01f, "s", true);
    changed |= Field("CFL number", &p.cflNumber, 0.0f, 1.0f, "1");
    changed |= Field("force number", &p.forceNumber, 0.0f, 1.0f, "1");
    changed |= Field("acceleration limit", &p.accelLimit, 1.0f, 1e6f, "m/s2", true);
    changed |= ImGui::Checkbox("walls", &p.walls);
    changed |= Field("wall thickness", &p.wallThickness, 0.0f, 0.05f, "m");
    changed |= Field("wall stiffness", &p.wallStiffness, 10.0f, 1e6f, "1/s2", true);
    changed |= Field("wall damping", &p.wallDamping, 0.0f, 2000.0f, "1/s");
    changed |= Field("sim scale", &p.simScale, 0.001f, 1.0f, "m/unit", true);
    if (ImGui::Button("Back to preset")) {
        p = view.run.presetParameters();
        changed = true;
    }
    if (changed) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetParameters;
        command.parameters = p;
        view.run.Post(command);
    }
}

void NumbersSection(LabView& view) {
    const LabSolver& solver = view.run.solver();
    ImGui::Text("%.1f frames/s   %.2f ms/step", view.framesPerSecond, view.stepMs);
    ImGui::Text("%d particles   step %" PRId64 "   t = %.3f s", solver.count(), solver.steps(), solver.time());
}

}  // namespace

float DrawLabPanel(LabView& view) {
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(kPanelWidth, static_cast<float>(view.height)));
    ImGui::Begin("pondsim lab", nullptr,
                 ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoSavedSettings);
    if (ImGui::CollapsingHeader("Run", ImGuiTreeNodeFlags_DefaultOpen)) RunSection(view);
    if (ImGui::CollapsingHeader("Scene", ImGuiTreeNodeFlags_DefaultOpen)) SceneSection(view);
    if (ImGui::CollapsingHeader("Parameters", ImGuiTreeNodeFlags_DefaultOpen)) ParameterSection(view);
    if (ImGui::CollapsingHeader("Numbers", ImGuiTreeNodeFlags_DefaultOpen)) NumbersSection(view);
    if (ImGui::CollapsingHeader("Controls")) {
        ImGui::TextUnformatted(
            "Space pause/resume   . one step   R reset\n"
            "arrows move   Enter up   Shift down\n"
            "left drag look   wheel nearer/farther\n"
            "Home camera back   H print state hash");
    }
    if (ImGui::Button("Camera back (Home)")) view.camera = view.startCamera;
    ImGui::End();
    return kPanelWidth;
}
