// Runs the scene without a window and reports how fast and how well it went.

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/step_driver.h"
#include "headless/options.h"
#include "offscreen/offscreen.h"
#include "headless/outputs/output.h"
#include "headless/outputs/state_file.h"
#include "sim/state_hash.h"
#include "view/scene.h"

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

using Clock = std::chrono::steady_clock;

struct TimingProbe {
    Clock::time_point started;
    double stageSeconds[4] = {};

    void Begin(Stage) { started = Clock::now(); }
    void End(Stage stage) {
        stageSeconds[static_cast<int>(stage)] += std::chrono::duration<double>(Clock::now() - started).count();
    }
};

struct Percentiles {
    double median;
    double p95;
};

Percentiles Summarise(std::vector<double> values) {
    if (values.empty()) return {0.0, 0.0};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const size_t index = static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
        return values[index];
    };
    return {at(0.5), at(0.95)};
}

void DrawProgress(long done, long total) {
    const int width = 40;
    const int filled = total == 0 ? width : static_cast<int>(done * width / total);
    fprintf(stderr, "\r[%.*s%*s] %ld/%ld", filled, "========================================", width - filled, "",
            done, total);
    if (done == total) fputc('\n', stderr);
    fflush(stderr);
}

// Built only once the command line has been read: its construction scatters
// the first particles, and says so.
Scene& TheScene() {
    static Scene scene;
    return scene;
}
OffscreenContext offscreen;

// Resident memory in kB, current (VmRSS) and peak (VmHWM); 0 where the
// system does not tell.
struct Residency {
    long current = 0;
    long peak = 0;
};

Residency ReadResidency() {
    Residency r;
#ifdef _WIN32
    // The working set is Windows' resident memory.
    PROCESS_MEMORY_COUNTERS counters = {};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        r.current = static_cast<long>(counters.WorkingSetSize / 1024);
        r.peak = static_cast<long>(counters.PeakWorkingSetSize / 1024);
    }
#else
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr) return r;
    char line[256];
    while (fgets(line, sizeof line, status) != nullptr) {
        sscanf(line, "VmRSS: %ld", &r.current);
        sscanf(line, "VmHWM: %ld", &r.peak);
    }
    fclose(status);
#endif
    return r;
}

// What a long run watches: after the box step of every tick, each position
// must be finite and inside the box, and the memory must stay flat.
struct SoakWatch {
    long nonFinite = 0;
    long outside = 0;
    Residency first;
    Residency last;
    bool sampled = false;

    void CheckPositions(const ParticleSystem& system) {
        for (int32_t i = 0; i < system.particleCount; ++i) {
            const Vec3& p = system.particles[i].position;
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                ++nonFinite;
            } else if (p.x < system.boxMin.x || p.x > system.boxMax.x || p.y < system.boxMin.y ||
                       p.y > system.boxMax.y || p.z < system.boxMin.z || p.z > system.boxMax.z) {
                ++outside;
            }
        }
    }
    void Sample(long step) {
        last = ReadResidency();
        if (!sampled) first = last;
        sampled = true;
        printf("check at step %ld: non-finite %ld, outside the box %ld, rss %ld kB, peak %ld kB\n", step,
               nonFinite, outside, last.current, last.peak);
        fflush(stdout);
    }
};

struct KeptOutput {
    const char* name;
    std::unique_ptr<RunOutput> output;
    std::vector<double> writeMs;

    bool Write(Scene& scene, long step) {
        const auto started = Clock::now();
        const bool ok = output->Write(scene, step);
        writeMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        return ok;
    }
};

// What the window would show after the run: the size handler's viewport
// and projection, then frames as the render message draws them.
bool DrawAfterRun(Scene& scene, const Options& options) {
    scene.Resize(static_cast<int32_t>(options.width), static_cast<int32_t>(options.height));
    if (options.frames > 0) {
        std::vector<double> frameMs;
        for (long frame = 0; frame < options.frames; ++frame) {
            const auto started = Clock::now();
            scene.Render();
            frameMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        }
        const Percentiles p = Summarise(frameMs);
        printf("frames: %ld at %ldx%ld\n", options.frames, options.width, options.height);
        printf("ms per frame (median, p95): %.4f %.4f\n", p.median, p.p95);
    }
    if (options.snapshot != nullptr) {
        scene.Render();
        std::vector<Rgba8> pixels;
        offscreen.ReadPixels(pixels);
        char error[512];
        if (!WritePng(options.snapshot, offscreen.width, offscreen.height, pixels, error, sizeof error)) {
            fprintf(stderr, "%s\n", error);
            return false;
        }
        printf("snapshot: %s (%ldx%ld)\n", options.snapshot, options.width, options.height);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (ParseOptions(argc, argv, options)) {
        case ParseResult::Run: break;
        case ParseResult::Exit: return 0;
        case ParseResult::Fail: return 2;
    }
    SavedState saved;
    if (options.loadState != nullptr && !saved.Read(options.loadState)) return 2;
    scatterRandom = options.random;
    Scene& scene = TheScene();

    // The context must be current before set-up, as the window's is: set-up
    // and every reseed put their state into it.
    if (options.Draws()) {
        if (!offscreen.Init(static_cast<int>(options.width), static_cast<int>(options.height))) {
            fprintf(stderr, "cannot draw offscreen: %s\n", offscreen.error);
            return 1;
        }
        shellSurface.deviceContext = &offscreen;
        shellSurface.swapBuffers = OffscreenContext::FinishFrame;
    }
    scene.system.search = options.search;
    scene.Setup();
    if (options.particles >= 0) {
        scene.requestedCount = static_cast<int32_t>(options.particles);
        scene.system.Reseed(scene.requestedCount);
    }
    const long firstStep = options.loadState != nullptr ? saved.Install(scene) : 0;
    const long lastStep = firstStep + options.steps;

    // What the run keeps, each timed on its own.
    std::vector<KeptOutput> outputs;
    const auto keep = [&outputs](const char* name, std::unique_ptr<RunOutput> output) {
        outputs.push_back(KeptOutput{name, std::move(output), {}});
    };
    if (options.record != nullptr) keep("record", std::make_unique<PngFrames>(options.record, offscreen));
    if (options.video != nullptr) keep("video", std::make_unique<VideoStream>(options.video, options.fps, offscreen));
    if (options.exportFolder != nullptr) keep("export", std::make_unique<VtkExport>(options.exportFolder));
    if (!outputs.empty()) scene.Resize(static_cast<int32_t>(options.width), static_cast<int32_t>(options.height));
    const size_t writes = static_cast<size_t>(options.steps / options.every) + 1;
    for (KeptOutput& kept : outputs) {
        kept.writeMs.reserve(writes);
        if (!kept.output->Start(scene) || !kept.Write(scene, firstStep)) return 1;
    }

    const char* stageNames[4] = {"binning+search", "density", "forces", "integration"};
    // The stages are timed on every fiftieth step, and the step only on the
    // others: pondsim-wide's stage clock is read around every particle and
    // costs a step about as much as the solver does, which at every tenth
    // step still added a tenth to a whole run.
    constexpr long kStageSampleEvery = 50;
    const auto timesStages = [](long step) { return step % kStageSampleEvery == kStageSampleEvery - 1; };
    // Every sample has its place, written, before the first step: the
    // records then take no memory during the run, which a soak would
    // otherwise see as growth.
    const size_t stageSamples = static_cast<size_t>(options.steps / kStageSampleEvery);
    std::vector<double> stageMs[4] = {std::vector<double>(stageSamples), std::vector<double>(stageSamples),
                                      std::vector<double>(stageSamples), std::vector<double>(stageSamples)};
    std::vector<double> totalMs(static_cast<size_t>(options.steps) - stageSamples);
    const bool progress = StderrIsTerminal() && options.steps > 0;
    const long progressEvery = std::max(1L, options.steps / 200);
    SoakWatch watch;
    const auto runStarted = Clock::now();
    if (options.checkEvery > 0) watch.Sample(firstStep);
    for (long done = 0; done < options.steps; ++done) {
        const long step = firstStep + done + 1;
        const size_t sampled = static_cast<size_t>(done / kStageSampleEvery);
        if (timesStages(done)) {
            TimingProbe probe;
            scene.camera.Move(scene.input);
            StepSolver(scene.system, probe);
            for (int s = 0; s < 4; ++s) stageMs[s][sampled] = probe.stageSeconds[s] * 1000.0;
        } else {
            NoStageProbe none;
            const auto started = Clock::now();
            scene.camera.Move(scene.input);
            StepSolver(scene.system, none);
            totalMs[static_cast<size_t>(done) - sampled] =
                std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        }
        if (options.checkEvery > 0) {
            watch.CheckPositions(scene.system);
            if ((done + 1) % options.checkEvery == 0 || step == lastStep) watch.Sample(step);
        }
        if ((done + 1) % options.every == 0) {
            for (KeptOutput& kept : outputs) {
                if (!kept.Write(scene, step)) return 1;
            }
        }
        if (progress && ((done + 1) % progressEvery == 0 || step == lastStep)) {
            DrawProgress(done + 1, options.steps);
        }
    }
    for (KeptOutput& kept : outputs) {
        if (!kept.output->Finish(scene, lastStep)) return 1;
    }
    if (options.saveState != nullptr && !SaveState(scene, lastStep, options.saveState)) return 1;

    const ParticleSystem& system = scene.system;
    printf("variant: %s\n", SolverVariant::name);
    printf("particles: %d\n", system.particleCount);
    printf("search: %s\n", system.search == NeighbourSearch::Grid ? "grid" : "reference");
    printf("steps: %ld (step %ld to %ld)\n", options.steps, firstStep, lastStep);
    printf("ms per step (median, p95); stages timed on every %ldth step, the step untimed inside on the others:\n",
           kStageSampleEvery);
    for (int s = 0; s < 4; ++s) {
        const Percentiles p = Summarise(stageMs[s]);
        printf("  %-15s %9.4f %9.4f\n", stageNames[s], p.median, p.p95);
    }
    const Percentiles all = Summarise(totalMs);
    printf("  %-15s %9.4f %9.4f\n", "step", all.median, all.p95);

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
    printf("state hash: %016" PRIx64 "\n", HashParticleState(system));
    printf("peak resident memory: %ld kB\n", ReadResidency().peak);
    for (const KeptOutput& kept : outputs) {
        const Percentiles p = Summarise(kept.writeMs);
        printf("%s: %zu frames, ms each (median, p95): %.3f %.3f\n", kept.name, kept.writeMs.size(), p.median,
               p.p95);
    }
    if (options.checkEvery > 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - runStarted).count();
        printf("soak: %ld steps in %.1f s; non-finite %ld, outside the box %ld (summed over every step)\n",
               options.steps, seconds, watch.nonFinite, watch.outside);
        printf("soak rss kB: start %ld, end %ld, peak %ld\n", watch.first.current, watch.last.current,
               watch.last.peak);
    }
    if (options.Draws() && !DrawAfterRun(scene, options)) return 1;
    return 0;
}
