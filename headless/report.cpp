#include "headless/report.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "headless/run.h"

DurationSample::DurationSample(long expected) {
    kept.reserve(std::min(static_cast<size_t>(std::max(expected, 0L)), kCapacity));
}

void DurationSample::Add(double ms) {
    ++added;
    if (kept.size() < kCapacity) {
        kept.push_back(ms);
        return;
    }
    // Algorithm R: the new value replaces a kept one with probability
    // kCapacity / added. xorshift64 is enough to choose which.
    random ^= random << 13;
    random ^= random >> 7;
    random ^= random << 17;
    const uint64_t slot = random % static_cast<uint64_t>(added);
    if (slot < kCapacity) kept[static_cast<size_t>(slot)] = ms;
}

Percentiles DurationSample::Summarise() const {
    if (kept.empty()) return {0.0, 0.0};
    std::vector<double> values = kept;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const size_t index = static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
        return values[index];
    };
    return {at(0.5), at(0.95)};
}

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

void PrintTimings(const RunRecord& record) {
    if (record.stagesEveryStep) {
        printf("ms per step (median, p95); a run of under %ld steps times the stages on every step, and the step "
               "with their clocks inside:\n",
               RunRecord::kStageSampleEvery);
    } else {
        printf("ms per step (median, p95); stages timed on every %ldth step, the step untimed inside on the "
               "others:\n",
               RunRecord::kStageSampleEvery);
    }
    const char* stageNames[RunRecord::kStages] = {"binning+search", "density", "forces", "integration"};
    const auto row = [](const char* name, const DurationSample& sample) {
        if (sample.Count() == 0) {
            printf("  %-15s no sample\n", name);
            return;
        }
        const Percentiles p = sample.Summarise();
        printf("  %-15s %9.4f %9.4f\n", name, p.median, p.p95);
    };
    for (int s = 0; s < RunRecord::kStages; ++s) row(stageNames[s], record.stageMs[s]);
    row("step", record.stepMs);
}

void PrintOutputs(const RunRecord& record) {
    for (const KeptOutput& kept : record.outputs) {
        const Percentiles p = kept.writeMs.Summarise();
        printf("%s: %ld frames, ms each (median, p95): %.3f %.3f\n", kept.name, kept.writeMs.Count(), p.median,
               p.p95);
    }
}
