#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/lab/fluid_figures.h"
#include "sim/lab/lab_session.h"

#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
#include <thread>
#define PONDSIM_LAB_STEPPER_THREAD 1
#endif

// How fast a window's fluid goes.
enum class LabPace {
    // stepsPerTick steps every kLabBeatSeconds, the demo's timer.
    Beat,
    // A step as soon as the last one is done.
    AsFast,
    // Never ahead of the clock: the simulated seconds since the start, the
    // last change or the last resume are never more than the wall-clock
    // seconds since then.
    RealTime,
};
constexpr double kLabBeatSeconds = 0.064;
const char* LabPaceName(LabPace pace);
// Water moves in seconds of its own; the demo's fluid goes at the demo's beat.
LabPace DefaultLabPace(const std::string& preset);

// One whole step's state as a window shows it: every field is of the state
// after `steps` steps, taken between two steps.
struct LabFrame {
    int64_t steps = 0;
    double time = 0.0;
    // The last step's length, seconds.
    float timeStep = 0.0f;
    LabParameters parameters;
    // What "back to preset" restores: the preset's, in the scene's box.
    LabParameters presetParameters;
    bool paused = false;
    SceneKind scene = SceneKind::Scatter;
    std::string preset;
    int32_t count = 0;
    int32_t moving = 0;
    int threads = 1;
    int stepsPerTick = 1;
    LabPace pace = LabPace::Beat;
    FluidFigures figures;
    // Simulated seconds per wall-clock second over about the last second
    // of stepping; 0 until there is one.
    double realTimeFactor = 0.0;
    double stepMs = 0.0;
    // Commands and tasks applied so far.
    uint64_t applied = 0;
    // Every particle's position, and the value of the colour field `field`.
    int field = 0;
    std::vector<Vec3> positions;
    std::vector<float> values;
};

// Fills a frame's positions and values from the solver, for a colour field
// a window names by number.
using LabCapture = void (*)(const LabSolver& solver, int field, LabFrame& frame);
// Positions and densities.
void CaptureLabPositions(const LabSolver& solver, int field, LabFrame& frame);

// A LabRun stepped apart from whoever shows it: commands are posted from
// any thread into a locked mailbox and applied one by one between steps;
// the state after each step or command is published as a whole frame, and
// the newest one is there to draw without waiting. Turn() does one round of
// that work on the calling thread; Start() has a thread of its own turn.
class LabStepper {
public:
    using Clock = std::function<double()>;
    // The clock reads seconds; a test gives its own.
    explicit LabStepper(Clock clock = nullptr);
    ~LabStepper();
    LabStepper(const LabStepper&) = delete;
    LabStepper& operator=(const LabStepper&) = delete;

    // From any thread.
    void Post(const LabCommand& command);
    // Runs on the stepping thread between steps.
    void PostTask(std::function<void(LabRun&)> task);
    void SetPace(LabPace pace);
    // The colour field the frames carry values of, from the next frame on.
    void SetField(int field) { field_.store(field); }
    // Commands and tasks posted so far: a frame with as many applied
    // holds all of them.
    uint64_t posted() const { return posted_.load(); }

    // One round: what was posted, then the steps the pace allows now, then
    // a frame if anything changed (the first round always). Returns the seconds until the pace
    // allows the next step, 0 for at once, negative when only a post can
    // change anything (paused).
    double Turn();

    // The newest published frame, the caller's until its next call.
    const LabFrame& Newest();

#ifdef PONDSIM_LAB_STEPPER_THREAD
    void Start();
    void Stop();
    bool running() const { return thread_.joinable(); }
#else
    bool running() const { return false; }
#endif

    // The run itself: only while no thread turns, or from a task.
    LabRun& run() { return run_; }

    // Set before Start. Called on the stepping thread after each command
    // with the parameters before it, and after each round of steps.
    std::function<void(const LabRun&, const LabCommand&, const LabParameters&)> applied;
    std::function<void(LabRun&)> afterSteps;
    LabCapture capture = CaptureLabPositions;

private:
    struct Item {
        LabCommand command;
        std::function<void(LabRun&)> task;
        bool pace = false;
        LabPace newPace = LabPace::Beat;
    };
    void Give(Item item);
    void Take(Item& item, double now);
    // The start of a stretch of real time: the clock and the simulated time now.
    void Anchor(double now);
    void Publish(double now);

    Clock clock_;
    LabRun run_;
    LabPace pace_ = LabPace::Beat;
    double nextBeat_ = 0.0;
    double anchorWall_ = 0.0, anchorSim_ = 0.0;
    double stepMs_ = 0.0;
    uint64_t applied_ = 0;
    bool published_ = false;
    // (wall, simulated) seconds at recent steps, for the real-time factor.
    std::deque<std::pair<double, double>> samples_;

    std::mutex mutex_;
    std::deque<Item> mailbox_;
    std::atomic<uint64_t> posted_{0};
    std::atomic<int> field_{0};
    // Written, newest published, drawn: each only ever in one hand.
    std::unique_ptr<LabFrame> writing_, ready_, drawn_;
    bool fresh_ = false;
#ifdef PONDSIM_LAB_STEPPER_THREAD
    std::condition_variable posting_;
    bool stop_ = false;
    std::thread thread_;
#endif
};
