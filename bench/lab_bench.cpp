// Milliseconds per step of the lab solver on the water pool (its wall
// particles included), at several particle counts and thread counts, and
// the bytes it holds per particle, wall particles counted.
// Prints a table; judges nothing.
//
//   pondsim-lab-bench [COUNT...] [--threads N,M,...] [--steps N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    std::vector<int> threads = {1, 2};
    int steps = 10;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            threads = ListOf(argv[++a]);
        } else if (std::strcmp(argv[a], "--steps") == 0 && a + 1 < argc) {
            steps = std::atoi(argv[++a]);
        } else {
            counts.push_back(std::atoi(argv[a]));
        }
    }
    if (counts.empty()) counts = {10000, 100000, 1000000};
    std::printf("water pool, %d timed steps after 5 untimed\n", steps);
    std::printf("%10s %10s %8s %12s %12s %12s %10s\n", "fluid", "with walls", "threads", "median ms", "min ms",
                "neighbours", "bytes/p");
    for (int count : counts) {
        LabParameters p = WaterParameters();
        SceneLayout layout = BuildScene(SceneKind::Pool, count, p, rand);
        for (int t : threads) {
            LabSolver solver(p);
            solver.SetThreads(t);
            solver.Reset(layout.positions, layout.walls);
            for (int s = 0; s < 5; ++s) solver.Step();
            std::vector<double> ms;
            for (int s = 0; s < steps; ++s) {
                const Clock::time_point start = Clock::now();
                solver.Step();
                ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            std::sort(ms.begin(), ms.end());
            double neighbours = 0.0;
            for (int32_t i = 0; i < solver.count(); ++i) neighbours += solver.neighbourCount(i);
            std::printf("%10d %10d %8d %12.2f %12.2f %12.1f %10.0f\n", solver.movingCount(), solver.count(),
                        solver.threads(), ms[ms.size() / 2],
                        ms.front(), neighbours / solver.count(),
                        static_cast<double>(solver.BytesUsed()) / solver.count());
        }
    }
    return 0;
}
