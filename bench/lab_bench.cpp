// The lab solver's step on the water pool (its wall particles included), at
// several particle counts and thread counts: milliseconds a step (median,
// p95), processor time a step, nanoseconds per particle-step per thread,
// peak resident memory and the solver's own bytes per particle, where the
// time goes, and the load average while it ran. Each figure once for the
// solver's path without a cap (the water preset's) and once for the list
// path with a cap of 64, which never fills in water, beside it. Every run
// is a process of its own, so that its peak memory is its own.
// Prints a table; judges nothing.
//
//   pondsim-lab-bench [COUNT...] [--threads N,M,...] [--steps N] [--no-lists]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "sim/lab/lab_fast_stages.h"
#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/lab_solver.h"
#include "sim/lab/scenes.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<int> ListOf(const char* text) {
    std::vector<int> values;
    for (const char* p = text; *p != '\0';) {
        values.push_back(std::atoi(p));
        p = std::strchr(p, ',');
        if (p == nullptr) break;
        ++p;
    }
    return values;
}

double LoadAverage() {
    double load = -1.0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1.0;
        std::fclose(f);
    }
    return load;
}

long PeakResidentKb() {
    long peak = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) std::sscanf(line, "VmHWM: %ld", &peak);
        std::fclose(f);
    }
    return peak;
}

double ProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One run: builds the pool, steps it a few times untimed, then `steps`
// timed, and prints its row.
void RunOne(int count, int threads, bool lists, int steps, const LabParameters& water) {
    LabParameters p = water;
    const SceneLayout layout = BuildScene(SceneKind::Pool, count, p, rand);
    if (lists) {
        p.neighbourCap = 64;
        p.pairedLimit = 0;
    }
    LabSolver solver(p);
    solver.SetThreads(threads);
    solver.Reset(layout.positions, layout.walls);
    for (int s = 0; s < 3; ++s) solver.Step();
    LabSolver::StageClock clock;
    solver.SetStageClock(&clock);
    const double loadBefore = LoadAverage();
    const double cpuBefore = ProcessorSeconds();
    std::vector<double> ms;
    for (int s = 0; s < steps; ++s) {
        const Clock::time_point start = Clock::now();
        solver.Step();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double cpuMs = (ProcessorSeconds() - cpuBefore) * 1e3 / steps;
    const double loadAfter = LoadAverage();
    const long peak = PeakResidentKb();
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p95 = ms[std::min(ms.size() - 1, static_cast<size_t>(0.95 * static_cast<double>(ms.size() - 1) + 0.5))];
    const double n = solver.count();
    const double stages = clock.search + clock.density + clock.forces + clock.motion;
    const auto share = [&](double s) { return stages > 0.0 ? 100.0 * s / stages : 0.0; };
    std::printf("%-6s %8d %8d %3d %8.2f %8.2f %8.2f %7.0f %7.0f %6.0f %7.0f %4.0f %4.0f %4.0f %4.0f %5.1f-%.1f\n",
                lists ? "lists" : "cells", solver.movingCount(), solver.count(), solver.threads(), median, p95,
                cpuMs, median * 1e6 * solver.threads() / n, cpuMs * 1e6 / n, peak * 1024.0 / n,
                static_cast<double>(solver.BytesUsed()) / n, share(clock.search), share(clock.density),
                share(clock.forces), share(clock.motion), loadBefore, loadAfter);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    std::vector<int> threads = {1, 2};
    int steps = 0;
    bool withLists = true;
    LabParameters water = WaterParameters();
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            threads = ListOf(argv[++a]);
        } else if (std::strcmp(argv[a], "--steps") == 0 && a + 1 < argc) {
            steps = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--no-lists") == 0) {
            withLists = false;
        } else if (std::strcmp(argv[a], "--set") == 0 && a + 1 < argc) {
            std::string why;
            if (!ApplyLabSetting(argv[++a], water, why)) {
                std::fprintf(stderr, "--set %s: %s\n", argv[a], why.c_str());
                return 2;
            }
        } else {
            counts.push_back(std::atoi(argv[a]));
        }
    }
    if (counts.empty()) counts = {10000, 100000, 1000000};
    std::printf("water pool (%s); \"cells\": no cap, particles kept in cell order, %s; \"lists\": capped lists (64)\n",
                water.pressureSolver == PressureSolver::Dfsph ? "divergence-free" : "weakly compressible",
                LabFastBuildName());
    std::printf("timed steps after 3 untimed: %s; ms wall and processor per step; ns per particle-step per thread\n"
                "(wall) and of processor; bytes per particle: peak resident / particles, the solver's own; the\n"
                "stage split in %% of the step: search (lists or sort), density, forces, motion (time step and\n"
                "integration); the 1-minute load average before and after, on %ld cores\n",
                steps > 0 ? std::to_string(steps).c_str() : "20, 8 from 1 000 000 particles",
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-6s %8s %8s %3s %8s %8s %8s %7s %7s %6s %7s %4s %4s %4s %4s %s\n", "path", "fluid", "all", "thr",
                "median", "p95", "cpu ms", "ns/p", "cpu ns", "B/p", "own B/p", "srch", "dens", "forc", "move",
                "load");
    std::fflush(stdout);
    for (int count : counts) {
        for (const bool lists : {false, true}) {
            if (lists && !withLists) continue;
            for (int t : threads) {
                const int runSteps = steps > 0 ? steps : (count >= 1000000 ? 8 : 20);
                const pid_t child = fork();
                if (child == 0) {
                    RunOne(count, t, lists, runSteps, water);
                    std::_Exit(0);
                }
                int status = 0;
                if (child < 0 || waitpid(child, &status, 0) != child || status != 0) {
                    std::fprintf(stderr, "the run of %d particles on %d threads failed\n", count, t);
                    return 1;
                }
            }
        }
    }
    return 0;
}
