#pragma once

#include <cstdint>
#include <type_traits>

#include "sim/core/vec3.h"
#include "sim/demo/solver_variant.h"

constexpr int kNeighbourSlots = SolverVariant::neighbourSlots;
constexpr int kCellCapacity = 4000;

struct Particle {
    Vec3 position;
    Vec3 velocity;
    Vec3 acceleration;
    float pressure;
    float density;
    float reserved1;
    int32_t neighbourCount;
    int32_t neighbours[kNeighbourSlots];
    uint32_t reserved2;
};

static_assert(sizeof(Particle) == (SolverVariant::neighbourSlots == 32 ? 46 : 78) * 4,
              "a particle record is 46 words with 32 slots, 78 with 64");
static_assert(std::is_trivially_copyable_v<Particle>);

struct GridCell {
    // The entries are left unconstructed: the scene lives in zero-filled
    // static storage, and an entry is only ever read after binning wrote it.
    // Constructing 864000 records would make the whole grid resident.
    GridCell() {}
    union {
        Particle entries[kCellCapacity];
    };
    int32_t count;
};
