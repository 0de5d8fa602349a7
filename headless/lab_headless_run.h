#pragma once

#include <memory>
#include <string>

#include "headless/lab_options.h"
#include "outputs/lab_particles.h"
#include "outputs/lab_state_file.h"
#include "headless/run.h"
#include "sim/lab/lab_session.h"
#include "sim/lab/fluid_figures.h"
#include "sim/lab/lab_solver.h"
#include "view/lab_drawing.h"

// The lab's solver as the run loop and the outputs see it, with the
// drawing its pictures come from and the dam probe.
struct LabSubject : LabParticles<SteppedSubject> {
    // The window's session: the same start, commands and steps.
    LabRun run;
    LabSolver& solver = run.solver();
    LabDrawing drawing;
    std::string scene;
    // Column width a of the dam scenes, metres; 0 for the others.
    double columnWidth = 0.0;
    long probeEvery = 0;
    // Over the run: the simulated time it started at, and the moving
    // particles' density error after each step (the mean of its means, the
    // largest).
    double startTime = -1.0;
    double densityErrorSum = 0.0;
    double densityErrorMax = 0.0;
    long measuredSteps = 0;
    // The divergence-free solver's iterations over the run, each solve's.
    long densityIterations = 0;
    long divergenceIterations = 0;

    const LabSolver& Solver() const override { return solver; }
    void Render() override;
    void TimedStep(RunRecord& record, bool timesStages) override;
    void Resize(long width, long height) override;
    Vec3 BoxMin() const override { return solver.parameters().boxMin; }
    Vec3 BoxMax() const override { return solver.parameters().boxMax; }
    int32_t MovingCount() const override { return solver.movingCount(); }
    bool SaveState(long step, const char* path) override {
        return SaveLabState(solver, scene.c_str(), step, path);
    }
    void AfterStep(long step) override;
    // The probe's line for the current state.
    void PrintProbe() const;
};

// Builds the solver from the options (or the loaded state), with the
// offscreen context current when anything is drawn. Null, with a message,
// when it cannot.
std::unique_ptr<LabSubject> SetUpLab(const LabOptions& options, LabSavedState& saved, RunRecord& record);

// The run's figures: parameters, particles, the step timings, neighbour
// figures, the state hash, memory and each output's write times.
void PrintLabReport(const LabOptions& options, const LabSubject& subject, const RunRecord& record);
