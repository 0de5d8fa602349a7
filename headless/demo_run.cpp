#include "headless/demo_run.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "sim/demo/state_hash.h"
#include "sim/demo/step_driver.h"
#include "sim/demo/timing_probe.h"

static_assert(TimingProbe::kStages == RunRecord::kStages, "the report names every stage the probe times");

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// Built only once the command line has been read: its construction scatters
// the first particles, and says so.
Scene& TheScene() {
    static Scene scene;
    return scene;
}

void PrintNeighbours(const ParticleSystem& system) {
    long neighbourSum = 0;
    int maxNeighbours = 0;
    long lonely = 0;
    long nonFinite = 0;
    for (int32_t i = 0; i < system.particleCount; ++i) {
        const Particle& p = system.particles[i];
        neighbourSum += p.neighbourCount;
        maxNeighbours = std::max(maxNeighbours, static_cast<int>(p.neighbourCount));
        if (p.neighbourCount == 0) ++lonely;
        if (!std::isfinite(p.position.x) || !std::isfinite(p.position.y) || !std::isfinite(p.position.z)) {
            ++nonFinite;
        }
    }
    const double mean = system.particleCount > 0 ? static_cast<double>(neighbourSum) / system.particleCount : 0.0;
    printf("neighbours: mean %.3f, max %d\n", mean, maxNeighbours);
    printf("particles without neighbours: %ld\n", lonely);
    printf("non-finite positions: %ld\n", nonFinite);
}

}  // namespace

Options DemoOptions() {
    Options options;
    options.program = SolverVariant::name;
    options.pairedLimit = kCellCapacity;
    return options;
}

// One step as the timer tick runs it, timed as RunRecord says.
void SceneSubject::TimedStep(RunRecord& record, bool timesStages) {
    if (timesStages) {
        TimingProbe probe;
        const auto started = Clock::now();
        scene.camera.Move(scene.input);
        StepSolver(scene.system, probe);
        const double stepMs = MillisecondsSince(started);
        for (int s = 0; s < TimingProbe::kStages; ++s) record.stageMs[s].Add(probe.seconds[s] * 1000.0);
        if (record.stagesEveryStep) record.stepMs.Add(stepMs);
    } else {
        NoStageProbe none;
        const auto started = Clock::now();
        scene.camera.Move(scene.input);
        StepSolver(scene.system, none);
        record.stepMs.Add(MillisecondsSince(started));
    }
}

Scene* SetUpScene(const Options& options, SavedState& saved, RunRecord& record) {
    scatterRandom = options.random;
    Scene& scene = TheScene();
    // The context must be current before set-up, as the window's is: set-up
    // and every reseed put their state into it.
    if (options.Draws()) {
        if (!StartDrawing(options)) return nullptr;
        shellSurface.deviceContext = &RunOffscreen();
        shellSurface.swapBuffers = OffscreenContext::FinishFrame;
    }
    scene.system.search = options.referenceSearch ? NeighbourSearch::Reference : NeighbourSearch::Grid;
    scene.Setup();
    if (options.particles >= 0) {
        scene.requestedCount = static_cast<int32_t>(options.particles);
        scene.system.Reseed(scene.requestedCount);
    }
    record.firstStep = options.loadState != nullptr ? saved.Install(scene) : 0;
    record.lastStep = record.firstStep;
    return &scene;
}

void PrintReport(const Options& options, const Scene& scene, const RunRecord& record) {
    const ParticleSystem& system = scene.system;
    printf("variant: %s\n", SolverVariant::name);
    printf("particles: %d\n", system.particleCount);
    printf("search: %s\n", system.search == NeighbourSearch::Grid ? "grid" : "reference");
    printf("steps: %ld (step %ld to %ld)\n", record.stepsDone, record.firstStep, record.lastStep);
    PrintTimings(record);
    PrintNeighbours(system);
    printf("state hash: %016" PRIx64 "\n", HashParticleState(system));
    printf("peak resident memory: %ld kB\n", ReadResidency().peak);
    PrintOutputs(record);
    if (options.checkEvery > 0) {
        const SoakWatch& watch = record.watch;
        printf("soak: %ld steps in %.1f s; non-finite %ld, outside the box %ld (summed over every step)\n",
               record.stepsDone, record.seconds, watch.nonFinite, watch.outside);
        printf("soak rss kB: start %ld, end %ld, peak %ld\n", watch.first.current, watch.last.current,
               watch.last.peak);
    }
}
