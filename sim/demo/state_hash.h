#pragma once

#include <cstdint>
#include <cstring>

#include "sim/core/fnv_hash.h"
#include "sim/demo/particle_system.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the hash reads the bytes as stored");

inline uint64_t HashParticleState(const ParticleSystem& system) {
    StateHash hash;
    for (int32_t i = 0; i < system.particleCount; ++i) {
        const Particle& p = system.particles[i];
        hash.Add(&p.position, sizeof p.position);
        hash.Add(&p.velocity, sizeof p.velocity);
        hash.Add(&p.acceleration, sizeof p.acceleration);
        hash.Add(&p.pressure, sizeof p.pressure);
        hash.Add(&p.density, sizeof p.density);
        hash.Add(&p.neighbourCount, sizeof p.neighbourCount);
        const int32_t valid = p.neighbourCount < 0 ? 0 : p.neighbourCount;
        hash.Add(p.neighbours, sizeof(int32_t) * static_cast<size_t>(valid));
    }
    return hash.value();
}
