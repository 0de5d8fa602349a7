#include "headless/lab_headless_run.h"

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "sim/lab/dam_probe.h"
#include "sim/lab/lab_parameter_table.h"
#include "sim/core/random_sources.h"
#include "sim/lab/scenes.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void LabSubject::Render() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    drawing.UpdateRange(solver);
    drawing.Draw(solver);
    OffscreenContext::FinishFrame(&RunOffscreen());
}

// The lab has no stage clocks: every step is timed whole.
void LabSubject::TimedStep(RunRecord& record, bool) {
    if (startTime < 0.0) startTime = solver.time();
    const auto started = Clock::now();
    run.Tick();
    record.stepMs.Add(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
}

void LabSubject::Resize(long width, long height) {
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    drawing.Frame(solver.parameters(), static_cast<float>(width) / static_cast<float>(height));
    drawing.FitPointSize(solver.parameters(), static_cast<float>(height));
}

void LabSubject::AfterStep(long step) {
    const FluidFigures f = MeasureFluid(solver);
    densityErrorSum += f.meanDensityError;
    densityErrorMax = std::max(densityErrorMax, f.maxDensityError);
    ++measuredSteps;
    densityIterations += solver.solveFigures().densityIterations;
    divergenceIterations += solver.solveFigures().divergenceIterations;
    if (probeEvery > 0 && step % probeEvery == 0) PrintProbe();
}

void LabSubject::PrintProbe() const {
    const DamMeasure m = MeasureDam(solver);
    const double a = columnWidth;
    const double g = -solver.parameters().gravity.y;
    printf("front t=%.4f T=%.2f z=%.4f height=%.4f z/a=%.2f height/a=%.2f\n", solver.time(),
           DamTime(solver.time(), a, g), m.front, m.height, m.front / a, m.height / a);
    fflush(stdout);
}

std::unique_ptr<LabSubject> SetUpLab(const LabOptions& options, LabSavedState& saved, RunRecord& record) {
    auto subject = std::make_unique<LabSubject>();
    LabRun& run = subject->run;
    if (options.run.Draws() && !StartDrawing(options.run)) return nullptr;
    LabColourFieldByName(options.colour, subject->drawing.field);
    LabCommand threads;
    threads.kind = LabCommand::Kind::SetThreads;
    threads.threads = options.threads;
    run.Post(threads);
    if (options.run.random == MsvcrtRand) run.SetRandom(MsvcrtRand, ResetMsvcrtRand);
    if (options.run.loadState != nullptr) {
        subject->scene = saved.header.scene;
        LabCommand parameters;
        parameters.kind = LabCommand::Kind::SetParameters;
        parameters.parameters = saved.parameters;
        std::string why;
        for (const std::string& setting : options.settings) ApplyLabSetting(setting, parameters.parameters, why);
        run.Post(parameters);
        run.Apply();
        run.solver().Load(saved.snapshot);
        record.firstStep = static_cast<long>(saved.header.step);
        printf("state loaded: %d particles at step %ld\n", subject->solver.count(), record.firstStep);
    } else {
        subject->scene = options.scene;
        run.PostStart(options);
        run.Apply();
        record.firstStep = 0;
    }
    SceneKind kind = SceneKind::Scatter;
    SceneByName(subject->scene, kind);
    record.lastStep = record.firstStep;
    const LabParameters& q = subject->solver.parameters();
    // From the tank and the geometry: a holds for a loaded state too,
    // whatever the water has done since.
    subject->columnWidth = static_cast<double>(DamColumnWidth(kind, q)) * q.simScale;
    subject->probeEvery = options.probeEvery;
    if (options.probeEvery > 0 && subject->columnWidth <= 0.0) {
        fprintf(stderr, "note: --probe front measures the dam scenes; %s has no column\n", subject->scene.c_str());
        subject->probeEvery = 0;
    }
    subject->drawing.Frame(q, static_cast<float>(options.run.width) / static_cast<float>(options.run.height));
    subject->drawing.FitPointSize(q, static_cast<float>(options.run.height));
    if (subject->probeEvery > 0) subject->PrintProbe();
    return subject;
}

void PrintLabReport(const LabOptions& options, const LabSubject& subject, const RunRecord& record) {
    const LabSolver& solver = subject.solver;
    printf("lab: scene %s, preset %s%s\n", subject.scene.c_str(),
           options.run.loadState != nullptr ? "(from the state file)" : options.preset.c_str(),
           options.settings.empty() ? "" : ", changed by --set");
    for (const std::string& setting : options.settings) printf("  set %s\n", setting.c_str());
    printf("particles: %d (%d moving)\n", solver.count(), solver.movingCount());
    printf("threads: %d\n", solver.threads());
    printf("steps: %ld (step %ld to %ld), simulated time %.6f s\n", record.stepsDone, record.firstStep,
           record.lastStep, solver.time());
    // Simulated seconds per second of the run's wall clock.
    const double simulated = solver.time() - (subject.startTime < 0.0 ? solver.time() : subject.startTime);
    printf("real-time factor: %.3g\n", record.seconds > 0.0 ? simulated / record.seconds : 0.0);
    if (subject.measuredSteps > 0) {
        printf("density error: mean %.3g %%, max %.3g %%\n",
               100.0 * subject.densityErrorSum / static_cast<double>(subject.measuredSteps),
               100.0 * subject.densityErrorMax);
    }
    if (subject.measuredSteps > 0 && solver.parameters().pressureSolver == PressureSolver::Dfsph) {
        const double steps = static_cast<double>(subject.measuredSteps);
        printf("solver iterations a step: density %.3g, divergence %.3g\n",
               static_cast<double>(subject.densityIterations) / steps,
               static_cast<double>(subject.divergenceIterations) / steps);
    }
    printf("ms per step (median, p95):\n");
    if (record.stepMs.Count() == 0) {
        printf("  %-15s no sample\n", "step");
    } else {
        const Percentiles p = record.stepMs.Summarise();
        printf("  %-15s %9.4f %9.4f\n", "step", p.median, p.p95);
    }
    long sum = 0;
    int32_t most = 0;
    long lonely = 0;
    long nonFinite = 0;
    for (int32_t i = 0; i < solver.count(); ++i) {
        const int32_t c = solver.neighbourCount(i);
        sum += c;
        most = std::max(most, c);
        if (c == 0) ++lonely;
        const Vec3 x = solver.position(i);
        if (!std::isfinite(x.x) || !std::isfinite(x.y) || !std::isfinite(x.z)) ++nonFinite;
    }
    printf("neighbours: mean %.3f, max %d\n", solver.count() > 0 ? static_cast<double>(sum) / solver.count() : 0.0,
           most);
    printf("particles without neighbours: %ld\n", lonely);
    printf("non-finite positions: %ld\n", nonFinite);
    printf("state hash: %016" PRIx64 "\n", solver.StateHash());
    printf("bytes per particle: %.1f\n",
           solver.count() > 0 ? static_cast<double>(solver.BytesUsed()) / solver.count() : 0.0);
    printf("peak resident memory: %ld kB\n", ReadResidency().peak);
    PrintOutputs(record);
    if (options.run.checkEvery > 0) {
        const SoakWatch& watch = record.watch;
        printf("soak: %ld steps in %.1f s; non-finite %ld, outside the box %ld (summed over every step)\n",
               record.stepsDone, record.seconds, watch.nonFinite, watch.outside);
    }
}
