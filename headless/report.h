#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RunRecord;

struct Percentiles {
    double median;
    double p95;
};

// Durations in milliseconds, in memory that does not grow with the run:
// every value while there are at most kCapacity, from then on a uniform
// sample of kCapacity of them (a reservoir), so that the median and the
// 95th percentile are exact for runs of up to kCapacity values and close
// estimates beyond, even for a run of --steps 1000000000.
class DurationSample {
public:
    static constexpr size_t kCapacity = size_t{1} << 16;

    // Room for the values expected (at most kCapacity) is taken now: a run
    // then takes no memory as it goes, which a soak would see as growth.
    explicit DurationSample(long expected = 0);
    void Add(double ms);
    long Count() const { return added; }
    Percentiles Summarise() const;

private:
    std::vector<double> kept;
    long added = 0;
    uint64_t random = 0x9e3779b97f4a7c15u;
};

// Resident memory in kB, current (VmRSS) and peak (VmHWM); 0 where the
// system does not tell.
struct Residency {
    long current = 0;
    long peak = 0;
};
Residency ReadResidency();

// The report's lines for the step and stage timings, and for each output's
// write times.
void PrintTimings(const RunRecord& record);
void PrintOutputs(const RunRecord& record);
