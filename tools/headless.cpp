// Runs the scene without a window and reports how fast and how well it went.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/step_driver.h"
#include "tools/state_hash.h"
#include "view/scene.h"

namespace {

struct Options {
    long steps = 1000;
    long particles = -1;
};

void PrintUsage(FILE* out) {
    fprintf(out,
            "usage: %s-headless [--steps N] [--particles N]\n"
            "\n"
            "Builds the scene as the program does (500 particles, then 3000 at set-up),\n"
            "with no window, and advances it by N ticks.\n"
            "\n"
            "  --steps N      ticks to run (default 1000, 0 allowed)\n"
            "  --particles N  reseed with N particles after set-up\n"
            "  --help         this text\n"
            "\n"
            "Prints milliseconds per step for each stage (median and 95th percentile),\n"
            "neighbour figures, non-finite positions and a 64-bit FNV-1a hash of the\n"
            "particle state, equal only for runs that agree bit for bit.\n",
            SolverVariant::name);
}

bool ParseCount(const char* text, long limit, long& out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > limit) return false;
    out = value;
    return true;
}

// Exit code 2 with a message for anything not understood.
bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage(stdout);
            exit(0);
        } else if (std::strcmp(arg, "--steps") == 0) {
            if (!ParseCount(value, 1000000000L, options.steps)) {
                fprintf(stderr, "--steps wants a whole number from 0 to 1000000000\n");
                return false;
            }
            ++i;
        } else if (std::strcmp(arg, "--particles") == 0) {
            if (!ParseCount(value, 2000000L, options.particles)) {
                fprintf(stderr, "--particles wants a whole number from 0 to 2000000\n");
                return false;
            }
            ++i;
        } else {
            fprintf(stderr, "unknown argument '%s' (try --help)\n", arg);
            return false;
        }
    }
    return true;
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

Scene scene;

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;

    scene.Setup();
    if (options.particles >= 0) {
        scene.requestedCount = static_cast<int32_t>(options.particles);
        scene.system.Reseed(scene.requestedCount);
    }

    const char* stageNames[4] = {"binning+search", "density", "forces", "integration"};
    std::vector<double> stageMs[4];
    std::vector<double> totalMs;
    const bool progress = isatty(STDERR_FILENO) != 0 && options.steps > 0;
    const long progressEvery = std::max(1L, options.steps / 200);
    for (long step = 0; step < options.steps; ++step) {
        TimingProbe probe;
        const auto started = Clock::now();
        scene.camera.Move(scene.input);
        StepSolver(scene.system, probe);
        totalMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        for (int s = 0; s < 4; ++s) stageMs[s].push_back(probe.stageSeconds[s] * 1000.0);
        if (progress && ((step + 1) % progressEvery == 0 || step + 1 == options.steps)) {
            DrawProgress(step + 1, options.steps);
        }
    }

    const ParticleSystem& system = scene.system;
    printf("variant: %s\n", SolverVariant::name);
    printf("particles: %d\n", system.particleCount);
    printf("steps: %ld\n", options.steps);
    printf("ms per step (median, p95):\n");
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
    return 0;
}
