#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/lab/lab_stepper.h"
#ifdef PONDSIM_LAB_RECORD
#include "lab/lab_record.h"
#endif
#include "lab/sphere_sprites.h"
#include "view/lab_drawing.h"

// The private frame message, as the demo's shell sends it when the queue is idle.
constexpr UINT WM_LAB_RENDER = WM_USER + 1;

// Everything the window shows and the panel edits, beside the run itself.
struct LabView {
    // The run, stepped apart from the drawing: the window posts to it and
    // draws its newest frame.
    LabStepper stepper;
    // The frame this window frame draws (the stepper's, until the next).
    const LabFrame* frame = nullptr;
    // The commands applied when the panel's fields last took the run's values.
    uint64_t adopted = 0;
    // The camera, colour field and range the particles are drawn with.
    LabDrawing drawing;
    Camera startCamera;
    // The box the camera was last framed on: a new scene frames it anew.
    Vec3 framedMin, framedMax;
    InputState input;
    int width = 0;
    int height = 0;
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
    // Worked on the stepping thread, between steps; the panel sees what it
    // does through exportingEvery and lastSaved.
    LabRecorder recorder;
    std::atomic<int> exportingEvery{0};
    std::mutex savedMutex;
    std::string lastSaved;
    char folderField[256] = "pondsim-lab-out";
#endif
    // Frame timing for the panel.
    double framesPerSecond = 0.0;
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
    History fpsHistory, stepHistory, factorHistory, densityErrorHistory, energyHistory;
    double sinceSample = 0.0;

#ifdef PONDSIM_LAB_STEPPER_THREAD
    // Before the recorder the thread may be working with goes.
    ~LabView() { stepper.Stop(); }
#endif
};

LabView& TheLabView();

// Takes the stepper's newest frame as the one to draw; the panel's fields
// follow the run once it has applied every command posted.
void TakeLabFrame(LabView& view);

// The threads the stages take while a window is open: all cores but the one
// that draws.
int LabWindowThreads();

// The colour field the frames carry values of, from the next frame on.
void ShowLabField(LabView& view);
#ifdef PONDSIM_LAB_RECORD
// Saves the state into the record folder between two steps, and says so.
void SaveLabState(LabView& view);
#endif

LRESULT CALLBACK LabWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The panel: a view of the run and a source of its commands. Returns the
// width it takes on the left of the window.
float DrawLabPanel(LabView& view);

// Prints the run's step count and state hash: the line tests compare with
// the headless driver's. On the stepping thread, or before it starts.
void PrintLabState(const LabRun& run, const char* why);
