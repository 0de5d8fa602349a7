// Particle states with arbitrary floats (NaN, infinities, huge, denormal, and
// plenty of ordinary in-box values so that neighbours exist) go through a few
// solver steps. Whatever the floats, every list the search leaves behind must
// hold only valid indices: a NaN or an infinity must never turn into one.
// The grid search of every step must also give the lists of the all-pairs
// scan, bit for bit, whatever the floats.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "sim/demo/particle_system.h"
#include "sim/demo/step_driver.h"
#include "tests/fuzz/fuzz_checks.h"

namespace {

// The grid makes the system far too large for anything but static storage.
ParticleSystem fuzzedSystem;

struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    // Past the end every byte reads as 0, which decodes to 0.0.
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint32_t Word() {
        uint32_t w = 0;
        for (int k = 0; k < 4; ++k) w = (w << 8) | Byte();
        return w;
    }
};

// One tag byte picks the kind of value: most tags are places in and just
// around the box, on a grid coarse enough that particles pile up.
float DecodeFloat(ByteReader& in) {
    using Limits = std::numeric_limits<float>;
    const uint8_t tag = in.Byte();
    switch (tag) {
        case 0: return 0.0f;
        case 1: return Limits::quiet_NaN();
        case 2: return -Limits::quiet_NaN();
        case 3: return Limits::signaling_NaN();
        case 4: return Limits::infinity();
        case 5: return -Limits::infinity();
        case 6: return Limits::max();
        case 7: return Limits::lowest();
        case 8: return Limits::denorm_min();
        case 9: return -Limits::denorm_min();
        case 10: return Limits::min();
        case 11: return -0.0f;
        case 12: return 1e30f;
        case 13: return -1e30f;
        case 14: {
            const uint32_t bits = in.Word();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case 15: return 36.0f;
        default: return static_cast<float>(tag - 16) * (38.0f / 239.0f) - 1.0f;
    }
}

// The lists the all-pairs scan gives for the particles as they stand, kept
// to be compared with what the grid search of the step gives.
struct ReferenceLists {
    std::vector<Particle> saved;
    std::vector<int32_t> counts;
    std::vector<int32_t> slots;

    void Take(ParticleSystem& system) {
        const size_t n = static_cast<size_t>(system.particleCount);
        saved.assign(system.particles, system.particles + n);
        system.search = NeighbourSearch::Reference;
        system.BinParticles();
        system.FindNeighbours();
        counts.resize(n);
        slots.resize(n * kNeighbourSlots);
        for (size_t i = 0; i < n; ++i) {
            counts[i] = system.particles[i].neighbourCount;
            std::memcpy(&slots[i * kNeighbourSlots], system.particles[i].neighbours, sizeof(int32_t) * kNeighbourSlots);
        }
        // The step starts again from the same records, with the grid.
        std::copy(saved.begin(), saved.end(), system.particles);
        system.search = NeighbourSearch::Grid;
    }

    // Only the first neighbourCount slots are the list; pondsim-wide leaves
    // older indices behind them.
    void Compare(const ParticleSystem& system) const {
        for (int32_t i = 0; i < system.particleCount; ++i) {
            const Particle& p = system.particles[i];
            if (p.neighbourCount != counts[static_cast<size_t>(i)]) {
                FuzzFail("grid and reference counts differ", i, -1, p.neighbourCount);
            }
            for (int32_t k = 0; k < p.neighbourCount; ++k) {
                if (p.neighbours[k] != slots[static_cast<size_t>(i) * kNeighbourSlots + static_cast<size_t>(k)]) {
                    FuzzFail("grid and reference lists differ", i, k, p.neighbours[k]);
                }
            }
        }
    }
};

ReferenceLists reference;

}  // namespace

// Layout: one header byte (bits 0-1: steps - 1; bit 7: more particles than a
// cell holds, one step only, the decoded records repeated), one count byte,
// then per particle a previous neighbour count and eleven floats (position,
// velocity, acceleration, pressure, density).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in{data, size};
    const uint8_t header = in.Byte();
    const bool overfull = (header & 0x80) != 0;
    const int steps = overfull ? 1 : 1 + (header & 3);
    const int32_t decoded = in.Byte();
    const int32_t count = overfull ? kCellCapacity - 10 + decoded : decoded;

    ParticleSystem& system = fuzzedSystem;
    delete[] system.particles;
    system.particles = new Particle[static_cast<size_t>(count)]();
    system.particleCount = count;
    for (int32_t i = 0; i < count; ++i) {
        Particle& p = system.particles[i];
        if (decoded > 0 && i >= decoded) {
            p = system.particles[i % decoded];
            continue;
        }
        // What the previous search left; pondsim's scan test reads it.
        p.neighbourCount = in.Byte() % (kNeighbourSlots + 1);
        float* fields[11] = {&p.position.x,     &p.position.y,     &p.position.z,    &p.velocity.x,
                             &p.velocity.y,     &p.velocity.z,     &p.acceleration.x, &p.acceleration.y,
                             &p.acceleration.z, &p.pressure,       &p.density};
        for (float* f : fields) *f = DecodeFloat(in);
    }

    NoStageProbe probe;
    for (int s = 0; s < steps; ++s) {
        reference.Take(system);
        StepSolver(system, probe);
        reference.Compare(system);
        CheckNeighbourLists(system);
    }
    return 0;
}
