#pragma once

#include <chrono>

#include "sim/demo/step_driver.h"

// A probe for StepSolver that sums the seconds spent in each stage over the
// steps it is passed to; the headless drivers and the bench share it.
struct TimingProbe {
    using Clock = std::chrono::steady_clock;
    static constexpr int kStages = 4;

    Clock::time_point started;
    double seconds[kStages] = {};

    void Begin(Stage) { started = Clock::now(); }
    void End(Stage stage) {
        seconds[static_cast<int>(stage)] += std::chrono::duration<double>(Clock::now() - started).count();
    }
};
