#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "imgui.h"
#include "imgui_internal.h"
#include "lab/lab_window.h"
#include "sim/lab/lab_parameter_table.h"

namespace {

// Wide enough for a slider and the longest label with its unit beside it,
// with the scroll bar shown.
constexpr float kPanelWidth = 410.0f;
constexpr float kSliderWidth = 150.0f;
// Above this the classic scatter no longer steps at the demo's tick on
// two cores.
constexpr int kMaxParticles = 200000;

void Post(LabView& view, LabCommand::Kind kind) {
    LabCommand command;
    command.kind = kind;
    view.stepper.Post(command);
}

// Where the end-to-end tests click: a slider's and a button's rectangles.
void PrintPlace(const char* what) {
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    std::printf("lab panel: %s %d %d %d %d\n", what, static_cast<int>(a.x), static_cast<int>(a.y),
                static_cast<int>(b.x), static_cast<int>(b.y));
}

// The "choice|choice" of an entry as ImGui's zero-separated list.
std::string ComboItems(const char* choices) {
    std::string items = choices;
    for (char& c : items) {
        if (c == '|') c = '\0';
    }
    return items + '\0';
}

// A parameter's control with its label and unit, as its table entry
// describes it; a value typed past the slider's ends is held to the
// entry's range. True when it changed.
bool ParameterField(const LabParameterInfo& info, LabParameters& p, bool printPlace) {
    using Kind = LabParameterInfo::Kind;
    ImGui::PushID(info.name);
    const double was = info.get(p);
    double value = was;
    bool changed = false;
    // What the parameters in force leave unread, greyed out and left alone.
    const bool ignored = info.ignored != nullptr && info.ignored(p);
    if (ignored) ImGui::BeginDisabled();
    ImGui::SetNextItemWidth(kSliderWidth);
    switch (info.kind) {
    case Kind::Real:
    case Kind::Whole:
        changed = ImGui::SliderScalar("##v", ImGuiDataType_Double, &value, &info.low, &info.high,
                                      info.kind == Kind::Whole ? "%.0f" : "%.5g",
                                      info.logarithmic ? ImGuiSliderFlags_Logarithmic : ImGuiSliderFlags_None);
        if (info.kind == Kind::Whole) value = std::round(value);
        break;
    case Kind::Switch: {
        bool v = value != 0.0;
        changed = ImGui::Checkbox("##v", &v);
        value = v ? 1.0 : 0.0;
        break;
    }
    case Kind::Choice: {
        int v = static_cast<int>(value);
        changed = ImGui::Combo("##v", &v, ComboItems(info.choices).c_str());
        value = v;
        break;
    }
    }
    if (printPlace && std::strcmp(info.name, "viscosity") == 0) PrintPlace("viscosity slider");
    ImGui::SameLine();
    if (*info.unit != '\0') {
        ImGui::Text("%s [%s]", info.label, info.unit);
    } else {
        ImGui::TextUnformatted(info.label);
    }
    if (ignored) ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip("%s: %s%s", info.name, info.meaning, ignored ? " (not used with these settings)" : "");
    }
    ImGui::PopID();
    if (!changed) return false;
    info.set(p, ClampLabParameterValue(info, value));
    return info.get(p) != was;
}

void RunSection(LabView& view) {
    const LabFrame& frame = *view.frame;
    if (ImGui::Button(frame.paused ? "Resume (Space)" : "Pause (Space)")) {
        Post(view, LabCommand::Kind::TogglePause);
    }
    ImGui::SameLine();
    if (ImGui::Button("Step (.)")) Post(view, LabCommand::Kind::Step);
    ImGui::SameLine();
    if (ImGui::Button("Reset (R)")) Post(view, LabCommand::Kind::Reset);
    // The pace: the demo's beat, as fast as the steps go, or real time.
    for (const LabPace pace : {LabPace::Beat, LabPace::AsFast, LabPace::RealTime}) {
        if (pace != LabPace::Beat) ImGui::SameLine();
        if (ImGui::RadioButton(LabPaceName(pace), frame.pace == pace) && frame.pace != pace) view.stepper.SetPace(pace);
    }
    int stepsPerTick = frame.stepsPerTick;
    ImGui::SetNextItemWidth(90.0f);
    if (ImGui::SliderInt("steps a beat or turn", &stepsPerTick, 1, 16)) {
        view.stepper.PostTask([stepsPerTick](LabRun& run) { run.stepsPerTick = stepsPerTick; });
    }
}

void SceneSection(LabView& view) {
    const LabFrame& frame = *view.frame;
    bool restart = false;
    SceneKind scene = frame.scene;
    for (const LabPreset& preset : LabPresets()) {
        if (&preset != &LabPresets().front()) ImGui::SameLine();
        if (ImGui::RadioButton(preset.name, frame.preset == preset.name) && frame.preset != preset.name) {
            LabCommand command;
            command.kind = LabCommand::Kind::SetPreset;
            command.preset = preset.name;
            view.stepper.Post(command);
        }
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", preset.description);
        if (view.printPlaces) PrintPlace((std::string("preset ") + preset.name).c_str());
    }
    ImGui::SameLine();
    ImGui::TextUnformatted("preset");
    ImGui::SetNextItemWidth(140.0f);
    if (ImGui::BeginCombo("scene", SceneName(scene))) {
        for (const SceneInfo& info : LabScenes()) {
            if (ImGui::Selectable(info.name, info.kind == scene)) {
                scene = info.kind;
                restart = true;
            }
            if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", info.description);
        }
        ImGui::EndCombo();
    }
#ifndef __EMSCRIPTEN__
    // A scene file: its scene, preset, count and parameters, as --scene FILE.toml.
    ImGui::SetNextItemWidth(220.0f);
    ImGui::InputText("##scene file", view.sceneFileField, sizeof view.sceneFileField);
    ImGui::SameLine();
    if (ImGui::Button("Open scene")) {
        LabSceneDescription file;
        std::string why;
        if (ReadLabSceneFile(view.sceneFileField, file, why)) {
            LabStartOptions start;
            start.preset = LabPresets().front().name;
            TakeLabSceneFile(file, false, start);
            if (!start.particlesGiven) start.particles = LabScene(file.kind).defaultCount;
            view.count = static_cast<int>(start.particles);
            for (const LabCommand& command : LabStartCommands(start)) view.stepper.Post(command);
            std::printf("lab scene file: %s\n", view.sceneFileField);
        } else {
            std::printf("lab scene file: %s %s\n", view.sceneFileField, why.c_str());
        }
        std::fflush(stdout);
    }
#endif
    ImGui::SetNextItemWidth(170.0f);
    ImGui::SliderInt("particles", &view.count, 100, kMaxParticles, "%d", ImGuiSliderFlags_Logarithmic);
    if (ImGui::IsItemDeactivatedAfterEdit()) restart = true;
    if (restart) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetScene;
        command.scene = scene;
        command.count = view.count;
        view.stepper.Post(command);
    }
    ImGui::SetNextItemWidth(170.0f);
    if (ImGui::SliderInt("threads (0: all)", &view.threads, 0, 16)) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetThreads;
        command.threads = view.threads;
        view.stepper.Post(command);
    }
}

void ParameterSection(LabView& view) {
    LabParameters& p = view.editing;
    bool changed = false;
    for (const char* group : LabParameterGroups()) {
        if (!ImGui::TreeNodeEx(group, ImGuiTreeNodeFlags_DefaultOpen)) continue;
        for (const LabParameterInfo& info : LabParameterTable()) {
            if (info.group != nullptr && std::strcmp(info.group, group) == 0) changed |= ParameterField(info, p, view.printPlaces);
        }
        ImGui::TreePop();
    }
    if (ImGui::Button("Back to preset")) {
        p = view.frame->presetParameters;
        changed = true;
    }
    if (changed) {
        LabCommand command;
        command.kind = LabCommand::Kind::SetParameters;
        command.parameters = p;
        view.stepper.Post(command);
    }
}

void ColourSection(LabView& view) {
    LabDrawing& d = view.drawing;
    ImGui::SetNextItemWidth(140.0f);
    if (ImGui::BeginCombo("colour by", LabColourFieldName(d.field))) {
        for (const LabColourFieldInfo& info : LabColourFields()) {
            if (ImGui::Selectable(info.name, info.field == d.field)) {
                d.field = info.field;
                ShowLabField(view);
            }
        }
        ImGui::EndCombo();
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
// The recorder works on the stepping thread: the buttons post to it.
void RecordSection(LabView& view) {
    LabRecorder& r = view.recorder;
    ImGui::SetNextItemWidth(220.0f);
    ImGui::InputText("folder", view.folderField, sizeof view.folderField);
    static int every = 10;
    const int exporting = view.exportingEvery;
    if (exporting == 0) {
        ImGui::SetNextItemWidth(90.0f);
        ImGui::InputInt("steps apart", &every);
        ImGui::SameLine();
        if (ImGui::Button("Export VTK")) {
            view.stepper.PostTask([&view, folder = std::string(view.folderField), n = every](LabRun& run) {
                view.recorder.folder = folder;
                if (view.recorder.StartExport(run, n)) std::printf("lab export: %s\n", folder.c_str());
                view.exportingEvery = view.recorder.exportEvery;
                std::fflush(stdout);
            });
        }
    } else {
        ImGui::Text("exporting every %d steps", exporting);
        ImGui::SameLine();
        if (ImGui::Button("Stop export")) {
            view.stepper.PostTask([&r, &view](LabRun& run) {
                r.StopExport(run);
                view.exportingEvery = 0;
            });
        }
    }
    if (ImGui::Button("Save state")) SaveLabState(view);
    std::string saved;
    {
        std::lock_guard<std::mutex> lock(view.savedMutex);
        saved = view.lastSaved;
    }
    if (!saved.empty()) {
        ImGui::SameLine();
        if (ImGui::Button("Load it again")) {
            view.stepper.PostTask([&r, saved](LabRun& run) {
                if (r.LoadState(run, saved)) PrintLabState(run, ("loaded " + saved).c_str());
            });
        }
    }
}
#endif

void Plot(const char* label, const LabView::History& h, const char* format, float last) {
    char overlay[64];
    std::snprintf(overlay, sizeof overlay, format, static_cast<double>(last));
    ImGui::PlotLines(label, h.values, LabView::kSamples, h.next, overlay, FLT_MAX, FLT_MAX, ImVec2(220.0f, 36.0f));
}

void NumbersSection(LabView& view) {
    const LabFrame& frame = *view.frame;
    ImGui::Text("%d particles (%d moving)", frame.count, frame.moving);
    ImGui::Text("step %" PRId64 "   t = %.3f s   dt = %.3g ms", frame.steps, frame.time,
                static_cast<double>(frame.timeStep) * 1000.0);
    ImGui::Text("real-time factor %.3f", frame.realTimeFactor);
    ImGui::Text("density error: mean %.3f %%, max %.2f %%", frame.figures.meanDensityError * 100.0,
                frame.figures.maxDensityError * 100.0);
    const int newest = (view.fpsHistory.next + LabView::kSamples - 1) % LabView::kSamples;
    Plot("frames/s", view.fpsHistory, "%.1f", view.fpsHistory.values[newest]);
    Plot("ms a step", view.stepHistory, "%.2f ms", view.stepHistory.values[newest]);
    Plot("real-time factor", view.factorHistory, "%.3f", view.factorHistory.values[newest]);
    Plot("density error", view.densityErrorHistory, "%.4f", view.densityErrorHistory.values[newest]);
    Plot("kinetic energy", view.energyHistory, "%.4g J", view.energyHistory.values[newest]);
    ImGui::TextDisabled("over the last %.0f s\nreal-time factor: simulated s per wall-clock s\n"
                        "density error: mean |rho/rho0 - 1|",
                        LabView::kSamples * LabView::kSampleSeconds);
}

}  // namespace

float DrawLabPanel(LabView& view) {
    // The places the tests click on, in the third frame, once the panel
    // has settled (a scroll bar appears a frame after the content needs it).
    view.printPlaces = view.panelFrames == 2;
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
    // The widest thing drawn against the room inside the panel, once the
    // scroll bar has had a frame to appear: text past it is cut off.
    if (view.printPlaces) {
        const float widest = ImGui::GetCurrentWindow()->DC.CursorMaxPos.x;
        const float room = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
        std::printf("lab panel: widest %d of %d\n", static_cast<int>(widest), static_cast<int>(room));
        std::fflush(stdout);
    }
    ++view.panelFrames;
    ImGui::End();
    return kPanelWidth;
}
