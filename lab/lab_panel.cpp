#include <cfloat>
#include <cinttypes>
#include <string>
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

// The last parameter slider's rectangle.
ImVec2 sliderMin, sliderMax;

// A float parameter with its unit; true when it changed.
bool Field(const char* label, float* value, float low, float high, const char* unit, bool logarithmic = false) {
    ImGui::PushID(label);
    ImGui::SetNextItemWidth(170.0f);
    const bool changed = ImGui::SliderFloat("##v", value, low, high, "%.5g",
                                            logarithmic ? ImGuiSliderFlags_Logarithmic : ImGuiSliderFlags_None);
    sliderMin = ImGui::GetItemRectMin();
    sliderMax = ImGui::GetItemRectMax();
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
    if (!view.layoutShown) {
        // Where the slider is, once: the end-to-end tests click on it.
        const ImVec2 a = sliderMin, b = sliderMax;
        std::printf("lab panel: viscosity slider %d %d %d %d\n", static_cast<int>(a.x), static_cast<int>(a.y),
                    static_cast<int>(b.x), static_cast<int>(b.y));
        std::fflush(stdout);
        view.layoutShown = true;
    }
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

void ColourSection(LabView& view) {
    LabDrawing& d = view.drawing;
    int field = static_cast<int>(d.field);
    ImGui::SetNextItemWidth(140.0f);
    if (ImGui::Combo("colour by", &field, "neighbours\0density\0pressure\0speed\0")) {
        d.field = static_cast<LabColourField>(field);
    }
    ImGui::SetNextItemWidth(140.0f);
    ImGui::SliderFloat("point size [px]", &d.pointSize, 1.0f, 20.0f, "%.0f");
    ImGui::Checkbox("wall particles", &d.drawFixed);
    if (view.spheres.available) {
        ImGui::SameLine();
        ImGui::Checkbox("spheres", &view.drawSpheres);
    }
    const bool neighbours = d.field == LabColourField::Neighbours;
    if (!neighbours) {
        ImGui::Checkbox("range from the values", &d.automaticRange);
        if (!d.automaticRange) {
            ImGui::SetNextItemWidth(170.0f);
            ImGui::DragFloatRange2("range", &d.low, &d.high, 0.01f * (d.high - d.low) + 1e-6f);
        }
    }
    // The bar: the map (or the demo's neighbour ramp) from low to high.
    const float low = neighbours ? 0.0f : d.low;
    const float high = neighbours ? 32.0f : d.high;
    ImDrawList* list = ImGui::GetWindowDrawList();
    const ImVec2 at = ImGui::GetCursorScreenPos();
    constexpr int kSegments = 32;
    constexpr float kBarWidth = 300.0f, kBarHeight = 14.0f;
    for (int i = 0; i < kSegments; ++i) {
        const float t = (static_cast<float>(i) + 0.5f) / kSegments;
        const PointColour c = d.BarColour(t);
        const float x0 = at.x + kBarWidth * i / kSegments, x1 = at.x + kBarWidth * (i + 1) / kSegments;
        list->AddRectFilled(ImVec2(x0, at.y), ImVec2(x1, at.y + kBarHeight),
                            ImGui::ColorConvertFloat4ToU32(ImVec4(c.r > 1 ? 1 : c.r, c.g > 1 ? 1 : c.g,
                                                                  c.b > 1 ? 1 : c.b, 1.0f)));
    }
    ImGui::Dummy(ImVec2(kBarWidth, kBarHeight));
    ImGui::Text("%.4g .. %.4g %s", low, high, LabColourFieldUnit(d.field));
}

#ifdef PONDSIM_LAB_RECORD
void RecordSection(LabView& view) {
    LabRecorder& r = view.recorder;
    ImGui::SetNextItemWidth(220.0f);
    if (ImGui::InputText("folder", view.folderField, sizeof view.folderField)) r.folder = view.folderField;
    static int every = 10;
    if (r.vtk == nullptr) {
        ImGui::SetNextItemWidth(90.0f);
        ImGui::InputInt("steps apart", &every);
        ImGui::SameLine();
        if (ImGui::Button("Export VTK")) {
            if (r.StartExport(view.run, every)) std::printf("lab export: %s\n", r.folder.c_str());
        }
    } else {
        ImGui::Text("exporting every %d steps", r.exportEvery);
        ImGui::SameLine();
        if (ImGui::Button("Stop export")) r.StopExport(view.run);
    }
    if (ImGui::Button("Save state")) {
        view.lastSaved = r.SaveState(view.run);
        if (!view.lastSaved.empty()) PrintLabState(view.run, ("saved " + view.lastSaved).c_str());
    }
    if (!view.lastSaved.empty()) {
        ImGui::SameLine();
        if (ImGui::Button("Load it again") && r.LoadState(view.run, view.lastSaved)) {
            view.editing = view.run.solver().parameters();
            PrintLabState(view.run, ("loaded " + view.lastSaved).c_str());
        }
    }
    std::fflush(stdout);
}
#endif

void Plot(const char* label, const LabView::History& h, const char* format, float last) {
    char overlay[64];
    std::snprintf(overlay, sizeof overlay, format, static_cast<double>(last));
    ImGui::PlotLines(label, h.values, LabView::kSamples, h.next, overlay, FLT_MAX, FLT_MAX, ImVec2(220.0f, 36.0f));
}

void NumbersSection(LabView& view) {
    const LabSolver& solver = view.run.solver();
    ImGui::Text("%d particles (%d moving)   step %" PRId64 "   t = %.3f s", solver.count(), solver.movingCount(),
                solver.steps(), solver.time());
    const int newest = (view.fpsHistory.next + LabView::kSamples - 1) % LabView::kSamples;
    Plot("frames/s", view.fpsHistory, "%.1f", view.fpsHistory.values[newest]);
    Plot("ms a step", view.stepHistory, "%.2f ms", view.stepHistory.values[newest]);
    Plot("density error", view.densityErrorHistory, "%.4f", view.densityErrorHistory.values[newest]);
    Plot("kinetic energy", view.energyHistory, "%.4g J", view.energyHistory.values[newest]);
    ImGui::TextDisabled("over the last %.0f s; density error: mean |rho/rho0 - 1|",
                        LabView::kSamples * LabView::kSampleSeconds);
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
    if (ImGui::CollapsingHeader("Colour", ImGuiTreeNodeFlags_DefaultOpen)) ColourSection(view);
#ifdef PONDSIM_LAB_RECORD
    if (ImGui::CollapsingHeader("Record")) RecordSection(view);
#endif
    if (ImGui::CollapsingHeader("Numbers", ImGuiTreeNodeFlags_DefaultOpen)) NumbersSection(view);
    if (ImGui::CollapsingHeader("Controls")) {
        ImGui::TextUnformatted(
            "Space pause/resume   . one step   R reset\n"
            "arrows move   Enter up   Shift down\n"
            "left drag look   wheel nearer/farther\n"
            "Home camera back   C colour field\n"
            "H print state hash   F print frame figures\n"
            "S save the state into the record folder");
    }
    if (ImGui::Button("Camera back (Home)")) view.drawing.camera = view.startCamera;
    ImGui::End();
    return kPanelWidth;
}
