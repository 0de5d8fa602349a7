#pragma once

#include <memory>
#include <vector>

#include "headless/options.h"
#include "headless/report.h"
#include "outputs/pictures.h"

// One output the run keeps, with the time each write took.
struct KeptOutput {
    const char* name;
    std::unique_ptr<RunOutput> output;
    DurationSample writeMs;

    bool Write(RunSubject& subject, long step);
};

struct RunRecord;
struct SoakWatch;

// A fluid the run loop steps, beside what its outputs read of it.
struct SteppedSubject : RunSubject {
    // One step, timed into the record as RunRecord says.
    virtual void TimedStep(RunRecord& record, bool timesStages) = 0;
    // Pictures of width x height from now on.
    virtual void Resize(long width, long height) = 0;
    // The box every position must stay in.
    virtual Vec3 BoxMin() const = 0;
    virtual Vec3 BoxMax() const = 0;
    // The particles that must stay in it, the first ones: the lab's fixed
    // wall particles stand outside it.
    virtual int32_t MovingCount() const { return ParticleCount(); }
    // Writes the state after the given step (--save-state); false with a
    // message when it cannot.
    virtual bool SaveState(long step, const char* path) = 0;
    // Called after every step, once it is counted (the lab's probe).
    virtual void AfterStep(long step) { (void)step; }
};

// What a long run watches: after the box step of every tick, each position
// must be finite and inside the box, and the memory must stay flat.
struct SoakWatch {
    long nonFinite = 0;
    long outside = 0;
    Residency first;
    Residency last;
    bool sampled = false;

    void CheckPositions(const SteppedSubject& subject);
    void Sample(long step);
};

// What the run did, for the report.
struct RunRecord {
    // The stages are timed on every fiftieth step, and the step only on the
    // others: pondsim-wide's stage clock is read around every particle and
    // costs a step about as much as the solver does, which at every tenth
    // step still added a tenth to a whole run. A run shorter than that
    // times the stages on every step, and the step around them.
    static constexpr long kStageSampleEvery = 50;
    // The stages a demo step is timed in: binning and search, density,
    // forces, integration. The lab times its steps whole.
    static constexpr int kStages = 4;

    long firstStep = 0;
    // The step the run reached: the last asked for, or the one after which
    // a signal stopped it.
    long lastStep = 0;
    long stepsDone = 0;
    bool stagesEveryStep = false;
    DurationSample stageMs[kStages];
    DurationSample stepMs;
    std::vector<KeptOutput> outputs;
    SoakWatch watch;
    double seconds = 0.0;
    // SIGINT or SIGTERM when one ended the run early, else 0.
    int stoppedBy = 0;
};

// From here on SIGINT (Ctrl-C) and SIGTERM end the run after the current
// step, with every output finished and the report printed; a second one
// ends the driver at once.
void CatchStopSignals();

// The context every picture of the run is drawn in.
OffscreenContext& RunOffscreen();
// Makes the offscreen context of the run's --size current, as a window's
// would be; false with a message when there is nothing to draw with.
bool StartDrawing(const Options& options);

// Starts the outputs, runs the steps, keeps the outputs on the way and
// finishes them, then saves the state. False, with a message, when an
// output or the state cannot be written; an output that fails leaves no
// partial file behind.
bool RunSteps(SteppedSubject& subject, const Options& options, RunRecord& record);

// What the window would show after the run: --frames timed (not after a
// stop signal) and the --snapshot. False when the picture cannot be written.
bool DrawAfterRun(SteppedSubject& subject, const Options& options, const RunRecord& record);
