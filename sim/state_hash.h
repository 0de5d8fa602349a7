#pragma once

#include <cstdint>
#include <cstring>

#include "sim/particle_system.h"

// 64-bit FNV-1a over the state that the solver computes, in index order:
// two runs with equal hashes agree bit for bit. Only the valid neighbour
// entries count, since pondsim-wide leaves stale ones behind them.
class StateHash {
public:
    void Add(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            value_ ^= bytes[i];
            value_ *= 0x100000001b3ull;
        }
    }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0xcbf29ce484222325ull;
};

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
