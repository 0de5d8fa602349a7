#include <windows.h>
#include <GL/glew.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <thread>

#include "imgui.h"
#include "imgui_impl_opengl2.h"
#include "lab/lab_window.h"
#include "lab/box_wireframe.h"
#include "sim/lab/fluid_figures.h"
#include "sim/lab/lab_parameter_table.h"
#include "shell/shell.h"

// The demo shell's render context (shell/render_context.cpp) works on these.
HWND windowHandle;
HDC deviceContext;
HGLRC legacyContext;
HGLRC renderContext;

namespace {

using Clock = std::chrono::steady_clock;

struct Pointer {
    int x = 0, y = 0;
    bool looking = false;
    // Ctrl + left drag: pushing the fluid under the cursor.
    bool pushing = false;
    int pushed = 0;
    // Dear ImGui 1.86 reads the button as it is at each frame: a press and
    // its release between two frames would be lost, so a release that comes
    // before a frame saw the press waits for the next one.
    bool pressUnseen = false;
    bool releaseDeferred = false;
};

Pointer pointer;
// The same for keys: a key pressed and released before a frame saw it stays
// down for that frame, and goes up at the next.
bool keyUnseen[512];
bool keyReleaseDeferred[512];
bool imguiReady = false;
Clock::time_point lastFrame;

float Sx(LPARAM lParam) { return static_cast<float>(static_cast<short>(LOWORD(lParam))); }
float Sy(LPARAM lParam) { return static_cast<float>(static_cast<short>(HIWORD(lParam))); }

bool SameBox(const Vec3& a, const Vec3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

void FrameBox(LabView& view) {
    const LabParameters& p = view.frame->parameters;
    view.drawing.Frame(p, 1.0f);
    view.startCamera = view.drawing.camera;
    view.framedMin = p.boxMin;
    view.framedMax = p.boxMax;
}

// What the stepping thread says after each command: the lines tests follow.
void SayApplied(const LabRun& run, const LabCommand& command, const LabParameters& before) {
    const std::string changes = LabParameterChanges(before, run.parameters());
    if (!changes.empty()) std::printf("lab set: %s\n", changes.c_str());
    using Kind = LabCommand::Kind;
    switch (command.kind) {
    case Kind::Step: PrintLabState(run, "step"); break;
    case Kind::Reset: PrintLabState(run, "reset"); break;
    case Kind::Pause:
    case Kind::Resume:
    case Kind::TogglePause: PrintLabState(run, run.paused() ? "paused" : "resumed"); break;
    default: PrintLabState(run, "changed"); break;
    }
}

void SetupView(LabView& view) {
    LabStepper& stepper = view.stepper;
    LabRun& run = stepper.run();
    run.Apply();
    LabCommand threads;
    threads.kind = LabCommand::Kind::SetThreads;
    threads.threads = view.threads = LabWindowThreads();
    run.Post(threads);
    run.Apply();
    stepper.SetPace(DefaultLabPace(run.preset()));
    stepper.capture = CaptureLabFrame;
    stepper.SetField(static_cast<int>(view.drawing.field));
    stepper.applied = SayApplied;
#ifdef PONDSIM_LAB_RECORD
    stepper.afterSteps = [&view](LabRun& r) {
        view.recorder.AfterSteps(r);
        view.exportingEvery = view.recorder.exportEvery;
    };
#endif
    PrintLabState(run, "start");
#ifdef PONDSIM_LAB_STEPPER_THREAD
    stepper.Start();
#else
    stepper.Turn();
#endif
    TakeLabFrame(view);
    FrameBox(view);
    view.editing = view.frame->parameters;

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.KeyMap[ImGuiKey_Tab] = VK_TAB;
    io.KeyMap[ImGuiKey_LeftArrow] = VK_LEFT;
    io.KeyMap[ImGuiKey_RightArrow] = VK_RIGHT;
    io.KeyMap[ImGuiKey_UpArrow] = VK_UP;
    io.KeyMap[ImGuiKey_DownArrow] = VK_DOWN;
    io.KeyMap[ImGuiKey_Home] = VK_HOME;
    io.KeyMap[ImGuiKey_End] = VK_END;
    io.KeyMap[ImGuiKey_Delete] = VK_DELETE;
    io.KeyMap[ImGuiKey_Backspace] = VK_BACK;
    io.KeyMap[ImGuiKey_Enter] = VK_RETURN;
    io.KeyMap[ImGuiKey_Escape] = VK_ESCAPE;
    ImGui::StyleColorsDark();
    ImGui_ImplOpenGL2_Init();
    view.spheres.Init();
    imguiReady = true;
    lastFrame = Clock::now();
}

// The keys of the lab itself, when no panel field takes the keyboard.
void LabKey(LabView& view, WPARAM key, bool down) {
    int slot = -1;
    switch (key) {
    case VK_RETURN: slot = InputState::kEnter; break;
    case VK_SHIFT: slot = InputState::kShift; break;
    case VK_CONTROL: slot = InputState::kControl; break;
    case VK_UP: slot = InputState::kUp; break;
    case VK_DOWN: slot = InputState::kDown; break;
    case VK_LEFT: slot = InputState::kLeft; break;
    case VK_RIGHT: slot = InputState::kRight; break;
    default: break;
    }
    if (slot >= 0) view.input.flags[slot] = down ? 1 : 0;
    if (!down) return;
    LabCommand command;
    switch (key) {
    case VK_SPACE: command.kind = LabCommand::Kind::TogglePause; break;
    case VK_OEM_PERIOD: command.kind = LabCommand::Kind::Step; break;
    case 'R': command.kind = LabCommand::Kind::Reset; break;
    case 'H':
        view.stepper.PostTask([](LabRun& run) { PrintLabState(run, "asked"); });
        return;
#ifdef PONDSIM_LAB_RECORD
    case 'S':
        SaveLabState(view);
        return;
#endif
    case 'F': {
        const LabFrame& f = *view.frame;
        std::printf("lab figures: %.1f frames/s, %.2f ms a step, %d particles, %d threads, step %" PRId64
                    ", %d frames drawn, real-time factor %.3f\n",
                    view.framesPerSecond, f.stepMs, f.count, f.threads, f.steps, view.panelFrames,
                    f.realTimeFactor);
        std::fflush(stdout);
        return;
    }
    case VK_HOME: view.drawing.camera = view.startCamera; return;
    case 'C':
        view.drawing.field = NextLabColourField(view.drawing.field);
        ShowLabField(view);
        std::printf("lab colour: %s\n", LabColourFieldName(view.drawing.field));
        std::fflush(stdout);
        return;
    default: return;
    }
    view.stepper.Post(command);
}

// The numbers the panel plots.
void Sample(LabView& view) {
    const FluidFigures& f = view.frame->figures;
    view.fpsHistory.Add(static_cast<float>(view.framesPerSecond));
    view.stepHistory.Add(static_cast<float>(view.frame->stepMs));
    view.factorHistory.Add(static_cast<float>(view.frame->realTimeFactor));
    view.densityErrorHistory.Add(static_cast<float>(f.meanDensityError));
    view.energyHistory.Add(static_cast<float>(f.kineticEnergy));
}

void Render(LabView& view) {
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - lastFrame).count();
    lastFrame = now;
    if (seconds > 0.0) view.framesPerSecond = 0.9 * view.framesPerSecond + 0.1 / seconds;
#ifndef PONDSIM_LAB_STEPPER_THREAD
    // One thread: the steps the pace allows, between two frames.
    view.stepper.Turn();
#endif
    TakeLabFrame(view);
    const LabFrame& frame = *view.frame;
    // A frame held up (a window dragged) does not fly the camera away.
    view.drawing.Fly(frame.parameters, view.input, seconds < 0.25 ? seconds : 0.25);
    view.sinceSample += seconds;
    if (view.sinceSample >= LabView::kSampleSeconds) {
        view.sinceSample = 0.0;
        Sample(view);
    }

    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(static_cast<float>(view.width), static_cast<float>(view.height));
    io.DeltaTime = seconds > 0.0 ? static_cast<float>(seconds) : 1.0f / 60.0f;
    ImGui_ImplOpenGL2_NewFrame();
    ImGui::NewFrame();
    if (pointer.releaseDeferred) {
        io.MouseDown[0] = false;
        pointer.releaseDeferred = false;
    }
    pointer.pressUnseen = false;
    for (int key = 0; key < 512; ++key) {
        if (keyReleaseDeferred[key]) io.KeysDown[key] = false;
        keyReleaseDeferred[key] = false;
        keyUnseen[key] = false;
    }
    const float panelWidth = DrawLabPanel(view);
    view.panelWidth = panelWidth;
    ImGui::Render();
    const LabParameters& box = frame.parameters;
    if (!SameBox(box.boxMin, view.framedMin) || !SameBox(box.boxMax, view.framedMax)) FrameBox(view);

    // The panel's renderer leaves texture, blending, scissor and matrices
    // as it set them where the attribute stack is missing (the browser):
    // the particles set everything they rely on.
    glViewport(0, 0, view.width, view.height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const int fluidX = static_cast<int>(panelWidth);
    const int fluidWidth = view.width - fluidX;
    if (fluidWidth > 0 && view.height > 0) {
        glViewport(fluidX, 0, fluidWidth, view.height);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_LIGHTING);
        glDisable(GL_CULL_FACE);
        glEnable(GL_DEPTH_TEST);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        view.drawing.Project(static_cast<float>(fluidWidth) / static_cast<float>(view.height));
        view.drawing.UpdateRange(frame);
        // The box first, through the matrix the particles are drawn with.
        const bool spheres = view.drawSpheres && view.spheres.available;
        if (spheres) view.spheres.Begin();
        view.drawing.Draw(frame);
        if (spheres) view.spheres.End();
        DrawBoxWireframe(frame.parameters);
        glViewport(0, 0, view.width, view.height);
    }
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    SwapBuffers(deviceContext);
}

// Ctrl + left drag: kicks for the moving particles drawn near the cursor.
void Push(LabView& view, int x, int y, int dx, int dy) {
    const int fluidX = static_cast<int>(view.panelWidth);
    LabCommand command;
    command.kind = LabCommand::Kind::Push;
    view.drawing.PushKicks(*view.frame, fluidX, view.width - fluidX, view.height, x, y, dx, dy,
                           command.indices, command.kicks);
    if (command.indices.empty()) return;
    pointer.pushed += static_cast<int>(command.indices.size());
    view.stepper.Post(command);
}

void MouseMove(LabView& view, HWND, LPARAM lParam) {
    const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
    if (pointer.pushing) Push(view, x, y, x - pointer.x, y - pointer.y);
    if (pointer.looking) {
        const float delta[2] = {static_cast<float>(x - pointer.x), static_cast<float>(y - pointer.y)};
        if (delta[0] != 0.0f || delta[1] != 0.0f) view.drawing.camera.Look(delta);
    }
    pointer.x = x;
    pointer.y = y;
}

}  // namespace

void TakeLabFrame(LabView& view) {
    view.frame = &view.stepper.Newest();
    const uint64_t applied = view.frame->applied;
    if (applied != view.adopted && applied == view.stepper.posted()) {
        // The run holds every edit made: the fields show what it holds
        // (another preset's values after a preset change), so an edit
        // changes that one value.
        view.editing = view.frame->parameters;
        view.adopted = applied;
    }
}

int LabWindowThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? static_cast<int>(cores) - 1 : 1;
}

void ShowLabField(LabView& view) {
    view.stepper.SetField(static_cast<int>(view.drawing.field));
    // A frame of the new field's values, paused or not.
    view.stepper.PostTask([](LabRun&) {});
}

#ifdef PONDSIM_LAB_RECORD
void SaveLabState(LabView& view) {
    view.stepper.PostTask([&view, folder = std::string(view.folderField)](LabRun& run) {
        view.recorder.folder = folder;
        const std::string saved = view.recorder.SaveState(run);
        if (saved.empty()) return;
        {
            std::lock_guard<std::mutex> lock(view.savedMutex);
            view.lastSaved = saved;
        }
        PrintLabState(run, ("saved " + saved).c_str());
    });
}
#endif

LabView& TheLabView() {
    // Large: static storage, made on first use.
    static LabView view;
    return view;
}

void PrintLabState(const LabRun& run, const char* why) {
    std::printf("lab %s: step %" PRId64 " hash %016" PRIx64 "\n", why, run.solver().steps(),
                run.solver().StateHash());
    std::fflush(stdout);
}

LRESULT CALLBACK LabWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LabView& view = TheLabView();
    ImGuiIO* io = imguiReady ? &ImGui::GetIO() : nullptr;
    if (io != nullptr) {
        io->KeyCtrl = GetKeyState(VK_CONTROL) < 0;
        io->KeyShift = GetKeyState(VK_SHIFT) < 0;
    }
    switch (message) {
    case WM_CREATE:
        SetupConsole();
        deviceContext = GetDC(window);
        SetupPixelFormat();
        CreateRenderContext();
        windowHandle = window;
        SetupView(view);
        return 0;

    case WM_DESTROY:
#ifdef PONDSIM_LAB_STEPPER_THREAD
        view.stepper.Stop();
#endif
        if (imguiReady) {
            ImGui_ImplOpenGL2_Shutdown();
            ImGui::DestroyContext();
            imguiReady = false;
        }
        ReleaseRenderContext(window);
        std::printf("Shutting down.\n");
        PostQuitMessage(0);
        return 0;

    case WM_SIZE:
        view.width = LOWORD(lParam);
        view.height = HIWORD(lParam);
        return 0;

    case WM_KEYDOWN:
    case WM_KEYUP:
        if (io == nullptr) return 0;
        if (wParam < 512) {
            if (message == WM_KEYDOWN) {
                io->KeysDown[wParam] = true;
                keyUnseen[wParam] = true;
            } else if (keyUnseen[wParam]) {
                keyReleaseDeferred[wParam] = true;
            } else {
                io->KeysDown[wParam] = false;
            }
        }
        if (!io->WantCaptureKeyboard) LabKey(view, wParam, message == WM_KEYDOWN);
        return 0;
    case WM_CHAR:
        if (io != nullptr && io->WantCaptureKeyboard) io->AddInputCharacter(static_cast<unsigned>(wParam));
        return 0;

    case WM_MOUSEMOVE:
        if (io != nullptr) io->MousePos = ImVec2(Sx(lParam), Sy(lParam));
        MouseMove(view, window, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        if (io == nullptr) return 0;
        io->MousePos = ImVec2(Sx(lParam), Sy(lParam));
        pointer.x = static_cast<short>(LOWORD(lParam));
        pointer.y = static_cast<short>(HIWORD(lParam));
        if (io->WantCaptureMouse) {
            io->MouseDown[0] = true;
            pointer.pressUnseen = true;
        } else if ((wParam & MK_CONTROL) != 0 || GetKeyState(VK_CONTROL) < 0) {
            pointer.pushing = true;
            pointer.pushed = 0;
        } else {
            pointer.looking = true;
        }
        return 0;
    case WM_LBUTTONUP:
        if (io == nullptr) return 0;
        io->MousePos = ImVec2(Sx(lParam), Sy(lParam));
        pointer.looking = false;
        if (pointer.pushing) {
            pointer.pushing = false;
            std::printf("lab push: %d kicks\n", pointer.pushed);
            std::fflush(stdout);
        }
        if (pointer.pressUnseen) {
            pointer.releaseDeferred = true;
        } else {
            io->MouseDown[0] = false;
        }
        return 0;
    case WM_MOUSEWHEEL:
        if (io == nullptr) return 0;
        if (io->WantCaptureMouse) {
            io->MouseWheel += static_cast<float>(static_cast<short>(HIWORD(wParam))) / WHEEL_DELTA;
        } else {
            view.drawing.Zoom(view.frame->parameters,
                              static_cast<float>(static_cast<short>(HIWORD(wParam))) / WHEEL_DELTA);
        }
        return 0;

    case WM_LAB_RENDER:
        if (imguiReady) Render(view);
        return 0;

    case WM_SYSCOMMAND:
        if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
        break;
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
