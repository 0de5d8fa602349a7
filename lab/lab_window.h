#pragma once

#include <windows.h>

#include <cstdint>

#include "sim/lab/lab_session.h"
#ifdef PONDSIM_LAB_RECORD
#include "lab/lab_record.h"
#endif
#include "lab/sphere_sprites.h"
#include "view/lab_drawing.h"

// The private frame message, as the demo's shell sends it when the queue is idle.
constexpr UINT WM_LAB_RENDER = WM_USER + 1;
constexpr UINT_PTR kLabTimer = 1;
// The demo's tick.
constexpr UINT kLabTickMs = 64;

// Everything the window shows and the panel edits, beside the run itself.
struct LabView {
    LabRun run;
    // The camera, colour field and range the particles are drawn with.
    LabDrawing drawing;
    Camera startCamera;
    // The box the camera was last framed on: a new scene frames it anew.
    Vec3 framedMin, framedMax;
    InputState input;
    int width = 0;
    int height = 0;
    // Pace: the demo's tick, or steps on every frame.
    bool everyFrame = false;
    // Panel-edited copies, sent to the run as commands.
    LabParameters editing;
    int count = 3000;
    char sceneFileField[256] = "data/scenes/koshizuka-oka-dam.toml";
    int threads = 0;
    int panelFrames = 0;
    bool printPlaces = false;
    float panelWidth = 0.0f;
    SphereSprites spheres;
    bool drawSpheres = false;
#ifdef PONDSIM_LAB_RECORD
    LabRecorder recorder;
    std::string lastSaved;
    char folderField[256] = "pondsim-lab-out";
#endif
    // Frame timing for the panel.
    double framesPerSecond = 0.0;
    double stepMs = 0.0;
    // The numbers over the last seconds, a sample every kSampleSeconds, the
    // newest at [next - 1].
    static constexpr int kSamples = 60;
    static constexpr double kSampleSeconds = 0.25;
    struct History {
        float values[kSamples] = {};
        int next = 0;
        void Add(float v) {
            values[next] = v;
            next = (next + 1) % kSamples;
        }
    };
    History fpsHistory, stepHistory, densityErrorHistory, energyHistory;
    double sinceSample = 0.0;
};

LabView& TheLabView();

LRESULT CALLBACK LabWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The panel: a view of the run and a source of its commands. Returns the
// width it takes on the left of the window.
float DrawLabPanel(LabView& view);

// Prints the run's step count and state hash: the line tests compare with
// the headless driver's.
void PrintLabState(const LabRun& run, const char* why);
