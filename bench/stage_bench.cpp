// Milliseconds per step, stage by stage, for both neighbour searches: a fresh
// scatter and a settled fluid at several particle counts. Prints a table;
// judges nothing.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/demo/step_driver.h"
#include "sim/demo/timing_probe.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 9;
constexpr int kStepsPerRun = 20;
constexpr int kSettleSteps = 1000;
constexpr int kStages = TimingProbe::kStages;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double searchMs;
    double stageMs[kStages];
    double stepMs;
};

// The state between two steps is the particle array alone: binning and the
// search rebuild everything else from it.
void Restore(ParticleSystem& system, const std::vector<Particle>& state) {
    std::memcpy(system.particles, state.data(), sizeof(Particle) * state.size());
}

// Medians over the runs, each from the same state: the stages timed in one
// pass, the whole step untimed inside in another, since in pondsim-wide the
// stage clock is read around every particle and costs time of its own.
Figures Measure(ParticleSystem& system, const std::vector<Particle>& state, NeighbourSearch search) {
    system.search = search;
    std::vector<double> stage[kStages];
    std::vector<double> step;
    std::vector<double> searchOnly;
    for (int run = 0; run < kRuns; ++run) {
        Restore(system, state);
        TimingProbe probe;
        for (int s = 0; s < kStepsPerRun; ++s) StepSolver(system, probe);
        for (int k = 0; k < kStages; ++k) stage[k].push_back(probe.seconds[k] * 1000.0 / kStepsPerRun);

        Restore(system, state);
        NoStageProbe none;
        const auto started = Clock::now();
        for (int s = 0; s < kStepsPerRun; ++s) StepSolver(system, none);
        step.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count() / kStepsPerRun);

        // The search alone, again and again from the same state; each time
        // binned first, since pondsim-wide's binning empties the lists.
        Restore(system, state);
        double searchMs = 0.0;
        for (int s = 0; s < kStepsPerRun; ++s) {
            system.BinParticles();
            const auto searchStarted = Clock::now();
            system.FindNeighbours();
            searchMs += std::chrono::duration<double, std::milli>(Clock::now() - searchStarted).count();
        }
        searchOnly.push_back(searchMs / kStepsPerRun);
    }
    Figures f{};
    f.searchMs = Median(searchOnly);
    for (int k = 0; k < kStages; ++k) f.stageMs[k] = Median(stage[k]);
    f.stepMs = Median(step);
    return f;
}

void PrintRow(int count, const char* state, const char* search, const Figures& f) {
    printf("%6d  %-8s %-10s %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f\n", count, state, search, f.searchMs, f.stageMs[0],
           f.stageMs[1], f.stageMs[2], f.stageMs[3], f.stepMs);
}

// Reseeds log a line each; the table has no room for them.
template <class F>
void WithoutLog(F action) {
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    if (saved >= 0 && sink >= 0) dup2(sink, STDOUT_FILENO);
    action();
    fflush(stdout);
    if (saved >= 0 && sink >= 0) dup2(saved, STDOUT_FILENO);
    if (sink >= 0) close(sink);
    if (saved >= 0) close(saved);
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    // Plain new: the system's grid is far too large to zero, and stays
    // untouched beyond what binning writes.
    std::unique_ptr<ParticleSystem> system;
    WithoutLog([&] { system.reset(new ParticleSystem); });
    printf("variant: %s\n", SolverVariant::name);
    printf("ms per step, medians of %d runs of %d steps; settled = after %d steps of the same start\n", kRuns,
           kStepsPerRun, kSettleSteps);
    if constexpr (SolverVariant::particleByParticle) {
        printf("the stage columns are timed around every particle and include the clock's own cost;\n"
               "the step column is timed without it\n");
    }
    printf("search: FindNeighbours alone; bin+search and the stages: inside a step\n");
    printf("%6s  %-8s %-10s %9s %9s %9s %9s %9s %9s\n", "parts", "state", "search", "search", "bin+srch", "density",
           "forces", "integr.", "step");
    for (const int count : {500, 3000, 4000, 10000}) {
        // The program's start (500, then set-up's 3000), then the count.
        WithoutLog([&] {
            srand(1);
            system->Reseed(500);
            system->Reseed(3000);
            if (count != 3000) system->Reseed(count);
        });
        const std::vector<Particle> fresh(system->particles, system->particles + count);
        system->search = NeighbourSearch::Grid;
        NoStageProbe none;
        for (int s = 0; s < kSettleSteps; ++s) StepSolver(*system, none);
        const std::vector<Particle> settled(system->particles, system->particles + count);

        for (const auto& [name, state] : {std::pair{"fresh", &fresh}, std::pair{"settled", &settled}}) {
            const Figures reference = Measure(*system, *state, NeighbourSearch::Reference);
            const Figures grid = Measure(*system, *state, NeighbourSearch::Grid);
            PrintRow(count, name, "reference", reference);
            PrintRow(count, name, "grid", grid);
            printf("%6s  %-8s %-10s %8.1fx %8.1fx %29s %8.1fx\n", "", "", "ref/grid", reference.searchMs / grid.searchMs,
                   reference.stageMs[0] / grid.stageMs[0], "", reference.stepMs / grid.stepMs);
        }
    }
    printf("peak resident memory of this run: %.1f MiB\n", static_cast<double>(PeakResidentKiB()) / 1024.0);
    return 0;
}
