#pragma once

// Checks shared by the fuzz targets. A failed check names what broke and
// aborts, which libFuzzer reports as a crash with the input that caused it.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sim/demo/particle_system.h"

[[noreturn]] inline void FuzzFail(const char* what, int32_t i, int32_t k, long long value) {
    fprintf(stderr, "%s: particle %d, slot %d, value %lld\n", what, i, k, value);
    abort();
}

[[noreturn]] inline void FuzzFail(const char* what, long long value) {
    fprintf(stderr, "%s: %lld\n", what, value);
    abort();
}

// Every list: a count from 0 to cap, then distinct indices of other binned
// particles, ascending. Whatever the positions, nothing but such an index
// may reach a list: the stages index the particle array with it.
inline void CheckNeighbourLists(const ParticleSystem& system) {
    const int32_t binned = system.cells[0].count;
    if (binned < 0 || binned > system.particleCount || binned > kCellCapacity) {
        FuzzFail("binned count out of range", -1, -1, binned);
    }
    for (int32_t i = 0; i < system.particleCount; ++i) {
        const Particle& p = system.particles[i];
        if (p.neighbourCount < 0 || p.neighbourCount > kNeighbourSlots) {
            FuzzFail("neighbour count out of range", i, -1, p.neighbourCount);
        }
        int32_t previous = -1;
        for (int32_t k = 0; k < p.neighbourCount; ++k) {
            const int32_t j = p.neighbours[k];
            if (j < 0 || j >= binned) FuzzFail("index outside the binned particles", i, k, j);
            if (j == i) FuzzFail("particle in its own list", i, k, j);
            if (j <= previous) FuzzFail("list not strictly ascending", i, k, j);
            previous = j;
        }
    }
}

inline bool Finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
